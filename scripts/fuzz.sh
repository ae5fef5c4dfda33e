#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`) and runs each one for SECONDS
# on a seed corpus written by make_fixtures. Fails when any target finds a
# crash, a leak or undefined behaviour; the input that did it is kept as
# build/fuzz/corpus/<target>-crash-*.
#
#   scripts/fuzz.sh [SECONDS]      (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
case "$seconds" in
  '' | *[!0-9]*)
    echo "usage: $0 [SECONDS]" >&2
    exit 2
    ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

work=build/fuzz/corpus
rm -rf "$work"
mkdir -p "$work"
build/fuzz/tests/fixtures/make_fixtures "$work/seeds"

# target:seed folder
targets=(pe_locator:files query:files signed_data:signatures decode_object:decode
  cab_locator:formats msi_locator:formats script_locator:scripts)
failed=0
for entry in "${targets[@]}"; do
  name=${entry%%:*}
  seeds=$work/seeds/${entry#*:}
  corpus=$work/$name
  log=$work/$name.log
  mkdir -p "$corpus"
  echo "== fuzz_$name for ${seconds}s"
  if build/fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/$name-" "$corpus" "$seeds" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$log" || true
  else
    echo "fuzz_$name FAILED; the end of its log:" >&2
    tail -n 60 "$log" >&2
    failed=1
  fi
done
exit "$failed"
