#!/usr/bin/env bash
# The Windows installer and archive, from a Windows build's two programs:
#
#   scripts/windows-packages.sh BUILD OUT [VERSION]
#
# writes OUT/veltrano-VERSION-win64.msi (msitools' wixl, from
# packaging/veltrano.wxs) and OUT/veltrano-VERSION-win64.zip from
# BUILD/app/veltrano.exe and BUILD/run/veltrano-batch.exe. VERSION defaults to
# the project's; another one only labels the packages (CI builds a "newer"
# installer from the same programs to check that it replaces this one).
# `scripts/setup.sh package` runs it after the Windows build.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD OUT [VERSION]" >&2
  exit 2
fi
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=${3:-$(sed -n 's/^project(Veltrano VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")}
if ! [[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.[0-9]+$ ]]; then
  echo "$0: version '$version' is not four numbers" >&2
  exit 2
fi
# Windows Installer compares only the first three fields: this version's
# installer replaces everything below the next value of the third.
next_version=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))
app=$build/app/veltrano.exe
batch=$build/run/veltrano-batch.exe
for f in "$app" "$batch"; do
  [ -f "$f" ] || {
    echo "$0: no $f (build the Windows programs first)" >&2
    exit 1
  }
done

name=veltrano-$version-win64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Both packages hold the same files: the two programs, the README and the
# notice. The archive's are dated by the last commit, so that a rebuild gives
# the same archive.
stage=$work/$name
mkdir "$stage"
cp "$app" "$batch" "$src/README.md" "$stage/"
cp "$src/packaging/copyright" "$stage/copyright.txt"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || date +%s)}
touch -d "@$epoch" "$stage" "$stage"/*
rm -f "$out/$name.zip"
(cd "$work" && TZ=UTC zip -q -X -r -9 "$out/$name.zip" "$name")

# wixl finds the files named in the source in its working folder.
cp -p "$stage"/* "$src/res/veltrano.ico" "$work/"
(cd "$work" && wixl --arch x64 -o "$name.msi" \
  -D Version="$version" -D NextVersion="$next_version" \
  "$src/packaging/veltrano.wxs")
# The installation folder on the system PATH (veltrano-batch for scripts and
# consoles), removed again on uninstallation: wixl has no element for the
# Environment table, so it is imported as it stands.
msibuild "$work/$name.msi" -i "$src/packaging/Environment.idt"
mv "$work/$name.msi" "$out/"
echo "$out/$name.msi"
echo "$out/$name.zip"
