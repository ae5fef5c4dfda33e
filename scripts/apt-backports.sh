#!/usr/bin/env bash
# Adds bookworm-backports to apt's sources, on the same archive as the
# machine's configured bookworm source (its address, options and signing key)
# and in that source's style: a deb822 stanza (bookworm-backports.sources) or
# a one-line entry (bookworm-backports.list). No address is made up: with no
# bookworm source configured it fails. Does nothing when bookworm-backports is
# configured already.
#
#   scripts/apt-backports.sh [APT_DIR]    (default /etc/apt; run as root)
set -euo pipefail

apt_dir=${1:-/etc/apt}

# Prints, for the first enabled "deb" stanza whose suites include $suite, the
# same stanza for bookworm-backports: its URIs and other fields (Signed-By,
# Architectures, ...) kept, type, suite and components replaced.
deb822_entry() {
  awk -v suite="$1" '
    function reset() { types = suites = uris = kept = field = ""; enabled = "yes" }
    function flush() {
      if (!done && (" " types " ") ~ / deb / && index(" " suites " ", " " suite " ") &&
          tolower(enabled) != "no" && uris != "") {
        printf "Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\n%s", uris, kept
        done = 1
      }
      reset()
    }
    BEGIN { reset() }
    FNR == 1 { flush() }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ {
      if (field == "kept") kept = kept $0 "\n"
      else if (field == "uris") uris = uris " " $1
      next
    }
    {
      name = tolower(substr($0, 1, index($0, ":") - 1))
      value = substr($0, index($0, ":") + 1)
      gsub(/[ \t]+/, " ", value)
      sub(/^ /, "", value)
      sub(/ $/, "", value)
      field = name
      if (name == "types") types = value
      else if (name == "suites") suites = value
      else if (name == "uris") uris = value
      else if (name == "enabled") enabled = value
      else if (name != "components") { field = "kept"; kept = kept $0 "\n" }
    }
    END { flush() }
  ' "${deb822_files[@]}" /dev/null
}

# Prints, for the first "deb" line for $suite, the same line for
# bookworm-backports with its options ("[signed-by=... arch=...]") kept.
one_line_entry() {
  awk -v suite="$1" '
    $1 == "deb" {
      options = ""
      i = 2
      if ($2 ~ /^\[/) {
        for (; i <= NF; i++) {
          options = options $i " "
          if ($i ~ /\]$/) { i++; break }
        }
      }
      if ($(i + 1) == suite && $i !~ /^cdrom:/) {
        print "deb " options $i " bookworm-backports main"
        exit
      }
    }
  ' "${one_line_files[@]}" /dev/null
}

shopt -s nullglob
deb822_files=("$apt_dir"/sources.list.d/*.sources)
one_line_files=("$apt_dir"/sources.list "$apt_dir"/sources.list.d/*.list)
[ -f "$apt_dir/sources.list" ] || one_line_files=("${one_line_files[@]:1}")

if [ -n "$(deb822_entry bookworm-backports)$(one_line_entry bookworm-backports)" ]; then
  echo "bookworm-backports is configured already."
  exit 0
fi
if entry=$(deb822_entry bookworm) && [ -n "$entry" ]; then
  target=$apt_dir/sources.list.d/bookworm-backports.sources
elif entry=$(one_line_entry bookworm) && [ -n "$entry" ]; then
  target=$apt_dir/sources.list.d/bookworm-backports.list
else
  echo "$0: no Debian bookworm source in $apt_dir to take bookworm-backports from;" \
    "add it to apt's sources by hand." >&2
  exit 1
fi
printf '%s\n' "$entry" >"$target"
echo "Added $target:"
cat "$target"
