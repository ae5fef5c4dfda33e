#!/usr/bin/env bash
# Sets up a Debian 12 machine and builds Veltrano from a clean tree.
#
#   scripts/setup.sh run    install what the program needs, build it, start it
#   scripts/setup.sh test   install what the tests need, build, run every test
#   scripts/setup.sh package  install what packaging needs, build every package
#                             into build/packages/: the Debian package, and the
#                             Windows installer and archive from the Windows
#                             build (brought up to date, or made with the
#                             libraries scripts/windows-deps.sh caches)
#   scripts/setup.sh windows  install the MinGW-w64 cross toolchain and Wine,
#                           build veltrano.exe and veltrano-batch.exe and run
#                           the Windows tests under Wine (scripts/windows.sh)
#
# Debian packages are installed with apt-get (as root, or through sudo) and
# only when they are missing.
set -euo pipefail

cd "$(dirname "$0")/.."

mode=${1:-}
case "$mode" in
  run | test | package | windows) ;;
  *)
    echo "usage: $0 run|test|package|windows" >&2
    exit 2
    ;;
esac

build_packages=(
  cmake ninja-build g++ pkg-config
  libwxgtk3.2-dev libpango1.0-dev libssl-dev fonts-wqy-microhei libcli11-dev
)
test_packages=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  tzdata openssl osslsigncode python3 e2fsprogs util-linux
  xvfb xauth x11-utils
  gcab msitools
)
fuzz_packages=(clang libclang-rt-14-dev clang-format)
# CPack's Debian generator: dpkg-shlibdeps (dpkg-dev) and file.
deb_packages=(dpkg-dev file)
# The cross toolchain and Debian's sources of libpng and wxWidgets (dpkg-dev
# unpacks them); for the tests Wine, and what the dialog's smoke test under
# Xvfb needs (one CJK font, xdotool, ImageMagick for the screenshot).
windows_build_packages=(
  cmake ninja-build g++ pkg-config googletest dpkg-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libcli11-dev
)
windows_packages=(
  "${windows_build_packages[@]}" wine wine64
  xvfb xauth x11-utils xdotool imagemagick fonts-wqy-microhei locales python3
)
# The Windows installer (wixl, msibuild) and archive.
msi_packages=(wixl msitools zip)

packages=("${build_packages[@]}")
if [ "$mode" = windows ]; then
  packages=("${windows_packages[@]}")
elif [ "$mode" = test ]; then
  packages+=("${test_packages[@]}" "${fuzz_packages[@]}")
  # The real-file tests fetch their samples with `npm pack`. A machine that
  # already has Node.js with npm keeps it (Debian's npm would conflict).
  command -v npm >/dev/null 2>&1 || packages+=(npm)
elif [ "$mode" = package ]; then
  packages+=("${deb_packages[@]}" "${windows_build_packages[@]}" "${msi_packages[@]}")
elif [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # No desktop to show the dialog on: it starts under Xvfb instead.
  packages+=(xvfb xauth)
fi

scripts/apt-install.sh "${packages[@]}"

# The signed-file tests need osslsigncode 2.8 or later (offline RFC 3161
# timestamps, PowerShell scripts); bookworm has 2.5, so take the backport.
if [ "$mode" = test ]; then
  version=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
  if [ "$(printf '%s\n' 2.8 "$version" | sort -V | head -n 1)" != 2.8 ]; then
    as_root=()
    if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
    "${as_root[@]}" scripts/apt-backports.sh
    # Installed, but too old: the backport replaces it.
    "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 update -q
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -q \
      --no-install-recommends -t bookworm-backports osslsigncode
  fi
fi

if [ "$mode" = windows ]; then
  exec scripts/windows.sh
fi

if [ "$mode" = run ]; then
  rm -rf build/release
  cmake --preset release
  cmake --build --preset release
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting veltrano under Xvfb." >&2
    exec xvfb-run -a -s "-screen 0 1024x768x24" build/release/app/veltrano
  fi
  exec build/release/app/veltrano
fi

# The Debian package, built with Debian's build flags (hardening, no build
# paths in the programs).
build_deb() {
  local flags=(env DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get)
  CXXFLAGS="$("${flags[@]}" CXXFLAGS) $("${flags[@]}" CPPFLAGS)" LDFLAGS="$("${flags[@]}" LDFLAGS)" \
    cmake --preset package
  cmake --build --preset package
  cpack --preset deb
  rm -rf build/packages/_CPack_Packages
}

# The two Windows programs in build/windows: the Windows build's own tree,
# brought up to date (nothing is rebuilt after `scripts/setup.sh windows`), or
# a new one with the cached libraries (built first where they are missing).
build_windows_programs() {
  VELTRANO_WINDOWS_PREFIX=$(scripts/windows-deps.sh)
  export VELTRANO_WINDOWS_PREFIX
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target veltrano veltrano-batch
}

if [ "$mode" = package ]; then
  rm -rf build/package build/packages
  build_deb
  build_windows_programs
  scripts/windows-packages.sh build/windows build/packages >/dev/null
  ls -l build/packages
  exit 0
fi

rm -rf build/dev
cmake --preset dev
cmake --build --preset dev
# The dialog's tests need a display; Xvfb gives every run the same one.
xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset dev
