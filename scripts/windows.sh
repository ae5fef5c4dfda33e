#!/usr/bin/env bash
# The Windows build (what `scripts/setup.sh windows` runs once the Debian
# packages are in): the libraries from scripts/windows-deps.sh, a small Linux
# build of the headless command and the fixture writer (the differential test
# compares against it), then veltrano.exe and veltrano-batch.exe, and every
# Windows test under Wine (contract, engine and run tests, the executable end
# to end, the Linux/Windows comparison and the dialog's smoke test).
#
# The executables end up in build/windows/app/veltrano.exe and
# build/windows/run/veltrano-batch.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
# The dialog's smoke test runs in a Chinese locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
  "${as_root[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
VELTRANO_WINDOWS_PREFIX=$(scripts/windows-deps.sh)
export VELTRANO_WINDOWS_PREFIX
echo "== libraries ready after $((SECONDS - start)) s: $VELTRANO_WINDOWS_PREFIX"

# The Linux side of the comparison: the headless command and make_fixtures
# only. A dev build that already has them is used as it is.
host=build/dev
if [ ! -x "$host/run/veltrano-batch" ] || [ ! -x "$host/tests/fixtures/make_fixtures" ]; then
  host=build/windows-host
  cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANO_BUILD_APP=OFF \
    -DVELTRANO_BUILD_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$host" -j 2 --target veltrano-batch make_fixtures
fi

rm -rf build/windows
cmake --preset windows -DVELTRANO_HOST_BUILD="$PWD/$host"
cmake --build --preset windows
echo "== built after $((SECONDS - start)) s"
# Only the system's DLLs: everything else is linked in.
for exe in build/windows/app/veltrano.exe build/windows/run/veltrano-batch.exe; do
  x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' '
  echo "<- $exe"
done

# The tests run in one Xvfb session (the dialog's smoke test needs a display)
# with one Wine prefix, made once. A wineserver kept alive for the whole run
# spares every test program Wine's start-up; Wine's own background programs
# start before ctest, so no test's output pipe is held open by them.
export WINEPREFIX=$PWD/build/windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wineserver -p
  wineboot -i </dev/null >/dev/null 2>&1
  status=0
  ctest --preset windows || status=$?
  wineserver -k || true
  exit $status'
echo "== Windows tests done after $((SECONDS - start)) s"
