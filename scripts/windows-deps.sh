#!/usr/bin/env bash
# Builds the Windows (x86-64, MinGW-w64) libraries Veltrano links statically:
# GoogleTest, libpng and wxWidgets for MSW, each from Debian's own sources.
#
#   scripts/windows-deps.sh     prints the prefix they are installed under
#
# They go into a cache outside the tree, one folder per set of versions
# (compiler, zlib, GoogleTest, libpng, wxWidgets), so a second run, or a run
# from another worktree, finds them built. VELTRANO_WINDOWS_CACHE moves the
# cache (default: ${XDG_CACHE_HOME:-~/.cache}/veltrano-windows). Debian's
# source packages come from the machine's own apt sources: a deb-src entry is
# derived from its Debian deb entries when it has none.
set -euo pipefail

cache=${VELTRANO_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veltrano-windows}
host=x86_64-w64-mingw32
jobs=${VELTRANO_JOBS:-2}

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi

log() { echo "windows-deps: $*" >&2; }

# Every source version apt knows of a package, newest first.
source_versions() {
  apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq
}

# Downloads a source package into $cache/sources (once) and prints the version
# it got: the newest one a source of the machine serves (a security archive may
# list a version it does not carry sources for).
fetch_source() {
  local pkg=$1 v
  mkdir -p "$cache/sources"
  for v in $(source_versions "$pkg"); do
    if [ -f "$cache/sources/${pkg}_${v#*:}.dsc" ]; then
      echo "$v"
      return
    fi
  done
  for v in $(source_versions "$pkg"); do
    if (cd "$cache/sources" && apt-get source -q --download-only "$pkg=$v") \
      >>"$cache/sources/apt-source.log" 2>&1; then
      echo "$v"
      return
    fi
    log "$pkg $v: no source of the machine serves it (see $cache/sources/apt-source.log)"
  done
  log "no source of the machine serves $pkg"
  return 1
}

ensure_deb_src() {
  [ -n "$(source_versions wxwidgets3.2)" ] && [ -n "$(source_versions libpng1.6)" ] && return
  local name=/etc/apt/sources.list.d/veltrano-deb-src
  log "adding deb-src entries derived from the machine's Debian sources ($name.*)"
  # deb822 stanzas: the Debian ones again with Types: deb-src.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ "$f" = "$name.sources" ] && continue
    grep -q 'debian-archive-keyring' "$f" 2>/dev/null || continue
    sed 's/^Types:.*/Types: deb-src/' "$f"
    echo
  done | "${as_root[@]}" tee "$name.sources" >/dev/null
  # One-line entries: the Debian deb lines as deb-src lines.
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\/debian.*\)$/deb-src \1/p' /etc/apt/sources.list |
      "${as_root[@]}" tee "$name.list" >/dev/null
  fi
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 update -q >&2
}

ensure_deb_src
gcc_version=$($host-g++-posix -dumpversion)
zlib_version=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
png_version=$(fetch_source libpng1.6)
wx_version=$(fetch_source wxwidgets3.2)
key="gcc$gcc_version-zlib$zlib_version-gtest$gtest_version-png$png_version-wx$wx_version"
key=$(printf '%s' "$key" | tr -c 'A-Za-z0-9.+_-' '_')
prefix=$cache/$key
if [ -f "$prefix/.complete" ]; then
  log "reusing $prefix"
  echo "$prefix"
  exit 0
fi

log "building into $prefix"
rm -rf "$prefix" "$cache/work-$key"
work=$cache/work-$key
mkdir -p "$prefix" "$work"
trap 'log "failed: the build logs are in $work"; tail -n 30 "$work"/*.log >&2' ERR
export CC=$host-gcc-posix CXX=$host-g++-posix
toolchain=$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-w64-x86_64.cmake

# GoogleTest from the sources Debian installs under /usr/src.
log "GoogleTest $gtest_version"
cmake -S /usr/src/googletest -B "$work/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELTRANO_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -Dgtest_disable_pthreads=OFF >"$work/googletest.log" 2>&1
cmake --build "$work/googletest" -j "$jobs" >>"$work/googletest.log" 2>&1
cmake --install "$work/googletest" >>"$work/googletest.log" 2>&1

# Debian's repacked wxWidgets source carries no libpng or zlib of its own.
cd "$work"
# apt checked the files against the archive's signed index when it fetched
# them; dpkg-source's own signature check has no keyring here and only warns.
dpkg-source -x "$cache/sources/libpng1.6_${png_version#*:}.dsc" libpng >source.log 2>&1
dpkg-source -x "$cache/sources/wxwidgets3.2_${wx_version#*:}.dsc" wxwidgets >>source.log 2>&1

log "libpng $png_version"
(
  cd libpng
  ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
    CPPFLAGS="-I/usr/$host/include" LDFLAGS="-L/usr/$host/lib" >../libpng.log 2>&1
  make -j "$jobs" >>../libpng.log 2>&1
  make install >>../libpng.log 2>&1
)

# Only what the dialog uses: core and base, no XML/HTML/web/media/GL.
log "wxWidgets $wx_version for MSW (the long step)"
(
  cd wxwidgets
  mkdir -p build-msw
  cd build-msw
  ../configure --host=$host --prefix="$prefix" --with-msw --disable-shared \
    --enable-unicode --disable-debug_flag --enable-uiactionsim \
    --disable-xrc --disable-html --disable-webview --disable-mediactrl --disable-ribbon \
    --disable-richtext --disable-stc --disable-propgrid --disable-aui \
    --without-opengl --with-libpng=sys --with-zlib=sys --without-libjpeg --without-libtiff \
    --without-expat --without-liblzma --without-libcurl --with-regex=builtin \
    CPPFLAGS="-I$prefix/include -I/usr/$host/include" LDFLAGS="-L$prefix/lib -L/usr/$host/lib" \
    >../../wx-configure.log 2>&1
  make -j "$jobs" >../../wx-build.log 2>&1
  make install >>../../wx-build.log 2>&1
)

rm -rf "$work"
touch "$prefix/.complete"
log "done: $prefix"
echo "$prefix"
