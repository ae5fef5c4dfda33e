#!/usr/bin/env bash
# The libFuzzer targets (preset `fuzz`: clang, ASan, UBSan), one per parser
# entry point, each with the dictionary fuzz/veltrano.dict.
#
#   scripts/fuzz.sh replay                 run every input of the kept corpus
#                                          (fuzz/corpus/<target>) and of the
#                                          fixture seeds once; CI does this
#   scripts/fuzz.sh campaign [MIN] [T...]  fuzz each target (or only T...) until
#                                          it has used MIN CPU-minutes (default
#                                          30), then minimise what it found
#                                          into fuzz/corpus/<target>
#
# Either mode fails when an input crashes, leaks, trips UBSan or runs longer
# than 10 s; the input is kept as build/fuzz/<mode>/<target>-crash-* (or
# -leak-, -timeout-). A campaign appends one line per target to
# build/fuzz/campaign/summary.txt: CPU-minutes, executions, corpus size.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: $0 replay | campaign [CPU-MINUTES] [TARGET...]" >&2
  exit 2
}

mode=${1:-}
case "$mode" in
  replay | campaign) shift ;;
  *) usage ;;
esac

# target:seed folder written by make_fixtures (the journal reader starts from
# text files and its own kept inputs)
all_targets=(signed_data:signatures decode_object:decode script_locator:scripts
  msi_locator:formats cab_locator:formats pe_locator:files query:files
  timestamp_token:tokens journal:scripts)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >build/fuzz-build.log 2>&1 || { tail -n 40 build/fuzz-build.log >&2; exit 1; }

work=build/fuzz/$mode
mkdir -p "$work"
rm -rf "$work/seeds"
build/fuzz/tests/fixtures/make_fixtures "$work/seeds" >/dev/null

seed_folder() {
  local entry
  for entry in "${all_targets[@]}"; do
    if [ "${entry%%:*}" = "$1" ]; then
      echo "$work/seeds/${entry#*:}"
      return
    fi
  done
  echo "unknown target: $1" >&2
  exit 2
}

common=(-dict=fuzz/veltrano.dict -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)

replay() {
  local failed=0 entry name kept
  for entry in "${all_targets[@]}"; do
    name=${entry%%:*}
    kept=fuzz/corpus/$name
    mkdir -p "$kept"
    # -runs=0: execute the given corpora once, mutate nothing.
    if build/fuzz/fuzz/fuzz_"$name" "${common[@]}" -runs=0 -artifact_prefix="$work/$name-" \
      "$kept" "$(seed_folder "$name")" >"$work/$name.log" 2>&1; then
      echo "fuzz_$name: $(find "$kept" -type f | wc -l) kept inputs and the seeds ran clean"
    else
      echo "fuzz_$name FAILED; the end of its log:" >&2
      tail -n 40 "$work/$name.log" >&2
      failed=1
    fi
  done
  return "$failed"
}

# Seconds of CPU (user + system) a finished command used, from /usr/bin/time.
cpu_seconds() { awk '{ printf "%d", $1 + $2 }' "$1"; }

campaign_target() {
  local name=$1 minutes=$2
  local live=$work/$name kept=fuzz/corpus/$name log=$work/$name.log
  local cpu=0 execs=0 chunk_execs
  mkdir -p "$live" "$kept"
  : >"$log"
  while [ "$cpu" -lt $((minutes * 60)) ]; do
    local left=$((minutes * 60 - cpu))
    if ! /usr/bin/time -f '%U %S' -o "$work/$name.time" \
      build/fuzz/fuzz/fuzz_"$name" "${common[@]}" -max_total_time=$((left < 600 ? left : 600)) \
      -artifact_prefix="$work/$name-" "$live" "$kept" "$(seed_folder "$name")" >>"$log" 2>&1; then
      echo "fuzz_$name found a failing input; the end of its log:" >&2
      tail -n 40 "$log" >&2
      return 1
    fi
    cpu=$((cpu + $(cpu_seconds "$work/$name.time")))
    chunk_execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    execs=$((execs + ${chunk_execs:-0}))
  done
  # Keep the smallest set of inputs that covers what the campaign reached.
  local merged=$work/$name.merged
  rm -rf "$merged"
  mkdir -p "$merged"
  build/fuzz/fuzz/fuzz_"$name" "${common[@]}" -merge=1 "$merged" "$kept" "$live" \
    >>"$log" 2>&1
  rm -rf "$kept"
  mv "$merged" "$kept"
  local line
  line=$(printf '%s\t%s CPU-min\t%s executions\t%s inputs kept (%s)\tno findings' "fuzz_$name" \
    "$((cpu / 60))" "$execs" "$(find "$kept" -type f | wc -l)" "$(du -sh "$kept" | cut -f1)")
  echo "$line" | tee -a "$work/summary.txt"
}

if [ "$mode" = replay ]; then
  replay
  exit $?
fi

minutes=${1:-30}
case "$minutes" in '' | *[!0-9]*) usage ;; esac
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for entry in "${all_targets[@]}"; do targets+=("${entry%%:*}"); done
fi
failed=0
for name in "${targets[@]}"; do
  seed_folder "$name" >/dev/null
  campaign_target "$name" "$minutes" || failed=1
done
exit "$failed"
