# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the -posix
# compilers: the thread model whose libstdc++ has std::thread and std::mutex).
#
# VELTRANO_WINDOWS_PREFIX (environment or cache) names the folder that
# scripts/windows-deps.sh built GoogleTest, libpng and wxWidgets into.
# Everything is linked statically: the programs need no DLL beyond Windows's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

if(NOT VELTRANO_WINDOWS_PREFIX AND DEFINED ENV{VELTRANO_WINDOWS_PREFIX})
  set(VELTRANO_WINDOWS_PREFIX "$ENV{VELTRANO_WINDOWS_PREFIX}")
endif()
set(VELTRANO_WINDOWS_PREFIX "${VELTRANO_WINDOWS_PREFIX}" CACHE PATH
    "Folder holding the cross-built GoogleTest, libpng and wxWidgets")
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELTRANO_WINDOWS_PREFIX)

if(NOT VELTRANO_WINDOWS_PREFIX)
  message(FATAL_ERROR "VELTRANO_WINDOWS_PREFIX is not set: it is the folder that "
                      "scripts/windows-deps.sh prints (scripts/setup.sh windows sets it)")
endif()
set(CMAKE_FIND_ROOT_PATH ${VELTRANO_WINDOWS_PREFIX} /usr/${triple})
set(wxWidgets_CONFIG_EXECUTABLE ${VELTRANO_WINDOWS_PREFIX}/bin/wx-config
    CACHE FILEPATH "wx-config of the cross-built wxWidgets" FORCE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine.
find_program(VELTRANO_WINE NAMES wine)
if(VELTRANO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTRANO_WINE})
endif()
