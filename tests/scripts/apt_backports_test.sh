#!/usr/bin/env bash
# scripts/apt-backports.sh on apt folders of both source styles: what it adds
# (file and text), and that it adds nothing where it must not.
set -uo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/apt-backports.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# expect NAME STATUS ADDED-FILE EXPECTED-TEXT [SOURCE-FILE TEXT]...
expect() {
  local name=$1 status=$2 added=$3 text=$4 dir=$work/$1 actual=0
  shift 4
  mkdir -p "$dir/sources.list.d"
  while [ $# -gt 0 ]; do
    printf '%s\n' "$2" >"$dir/$1"
    shift 2
  done
  "$script" "$dir" >"$dir.out" 2>&1 || actual=$?
  local got
  got=$(cd "$dir/sources.list.d" && for f in bookworm-backports.*; do [ -e "$f" ] && echo "$f" && cat "$f"; done)
  if [ "$actual" != "$status" ] || [ "$got" != "${added:+$added$'\n'}$text" ]; then
    echo "FAIL $name: status $actual (want $status), added:"$'\n'"$got"$'\n'"want:"$'\n'"$added"$'\n'"$text"
    cat "$dir.out"
    failed=1
  fi
}

# Disabled and source-only stanzas are skipped; the key, inline or a file, is kept.
debian_sources='Enabled: no
Types: deb
URIs: http://off.example/debian
Suites: bookworm

Types: deb-src
URIs: http://src.example/debian
Suites: bookworm

Types: deb deb-src
# a comment inside the stanza
uris: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 xsFNBF
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://mirror.example/debian-security
Suites: bookworm-security'

expect deb822 0 bookworm-backports.sources 'Types: deb
URIs: http://mirror.example/debian
Suites: bookworm-backports
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 xsFNBF
 -----END PGP PUBLIC KEY BLOCK-----' \
  sources.list.d/debian.sources "$debian_sources"

expect one-line 0 bookworm-backports.list \
  'deb [ arch=amd64 signed-by=/k.gpg ] http://mirror.example/debian bookworm-backports main' \
  sources.list '# deb http://old.example/debian bookworm main
deb cdrom:[Debian_12_DVD]/ bookworm main
deb-src http://src.example/debian bookworm main
deb http://mirror.example/debian-security bookworm-security main
deb [ arch=amd64 signed-by=/k.gpg ] http://mirror.example/debian bookworm main contrib'

expect already-there 0 '' '' \
  sources.list.d/debian.sources "$debian_sources" \
  sources.list 'deb http://mirror.example/debian bookworm-backports main'

expect no-bookworm 1 '' '' sources.list 'deb http://mirror.example/debian trixie main'

exit $failed
