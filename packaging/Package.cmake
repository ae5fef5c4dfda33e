# The packages a user installs. On Linux: a Debian package (CPack's DEB
# generator) with both programs, the desktop entry and icons (installed by
# app/), the manual pages, the README, the copyright notice and the changelog.
# `cpack --preset deb` (after the `package` build) writes veltrano_<version>_<arch>.deb.

set(VELTRANO_MAINTAINER "Veltrano maintainers <maintainers@veltrano.invalid>"
    CACHE STRING "Maintainer of the packages: name <address>")

set(CPACK_PACKAGE_NAME veltrano)
set(CPACK_PACKAGE_VENDOR Veltrano)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELTRANO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "sets signed files' modification time to their signature timestamp")
set(CPACK_PACKAGE_DESCRIPTION
    "Veltrano gives signed programs and installers their real release date back.
For a file or every entry of a folder it reads the embedded Authenticode
signature, finds the moment a timestamping authority counter-signed it and
sets the file's last-modification time to that moment; contents, creation and
access times stay as they were. It reads PE programs and libraries, cabinets,
Windows Installer packages and signed PowerShell and Windows Script Host
scripts.

The package holds the dialog (veltrano, in the desktop's application menu)
and the same run as a command for scripts and machines without a display
(veltrano-batch).")
set(CPACK_STRIP_FILES ON)

if(UNIX AND NOT APPLE)
  include(GNUInstallDirs)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from the libraries the programs link (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  # Debian wants manual pages and the changelog compressed with gzip -9n
  # (no name or time stamp, so the package is reproducible).
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/veltrano)
  set(gzipped "")
  function(veltrano_gzip source output)
    add_custom_command(
      OUTPUT ${output}
      COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${source} ${output}
      DEPENDS ${source}
      VERBATIM)
    set(gzipped ${gzipped} ${output} PARENT_SCOPE)
  endfunction()

  configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog
                 @ONLY)
  veltrano_gzip(${CMAKE_BINARY_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
                ${CMAKE_CURRENT_LIST_DIR}/copyright
          DESTINATION ${doc_dir})

  foreach(program veltrano veltrano-batch)
    if(TARGET ${program})
      # The page's header takes the project's version.
      configure_file(${CMAKE_CURRENT_LIST_DIR}/${program}.1 ${CMAKE_BINARY_DIR}/packaging/${program}.1
                     @ONLY)
      set(page ${CMAKE_BINARY_DIR}/packaging/${program}.1.gz)
      veltrano_gzip(${CMAKE_BINARY_DIR}/packaging/${program}.1 ${page})
      install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
  add_custom_target(veltrano_package_docs ALL DEPENDS ${gzipped})
endif()

include(CPack)
