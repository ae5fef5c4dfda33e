#!/usr/bin/env bash
# The headless command against its system-call floor (bench/HeadlessFloorBench.cpp).
#
#   scripts/bench.sh [--compare GIT-REF] [--rounds N] [--sizes 1000,10000]
#                    [--kinds mixed,text] [--folders DIR] [--recursive FILES]
#
# Builds veltrano-batch and the bench optimised (as the packages are) in
# build/bench-headless and prints, per entry, the headless run, the floor,
# their ratio, system calls, bytes read and peak memory. --compare also builds
# veltrano-batch from GIT-REF (e.g. the commit a change started from) and runs
# it alternately with this tree's. --kinds picks the folders: mixed (the
# default) and text (one-line files with 40-byte names); --folders keeps them
# under DIR and reuses them, which large sizes need (a million entries take
# minutes and several GB to create):
#
#   scripts/bench.sh --sizes 10000,1000000 --kinds mixed,text --folders ~/bench-folders --rounds 3
#
# --recursive FILES measures instead `veltrano-batch -r` over FILES entries in
# folders of 100 against a run over the same files in one folder:
#
#   scripts/bench.sh --recursive 100000 --rounds 5
#
# Installs what it needs (as setup.sh does).
set -euo pipefail

cd "$(dirname "$0")/.."

compare=
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --compare)
      compare=${2:?--compare needs a git ref}
      shift 2
      ;;
    --rounds | --sizes | --kinds | --folders | --recursive)
      args+=("$1" "${2:?$1 needs a value}")
      shift 2
      ;;
    *)
      echo "usage: $0 [--compare GIT-REF] [--rounds N] [--sizes N,N] [--kinds K,K] [--folders DIR] [--recursive FILES]" >&2
      exit 2
      ;;
  esac
done

packages=(cmake ninja-build g++ pkg-config libbenchmark-dev strace)
scripts/apt-install.sh "${packages[@]}"

# The program alone (no dialog, no tests), as the release preset builds it.
build_batch() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANO_BUILD_APP=OFF \
    -DVELTRANO_BUILD_TESTS=OFF "${@:3}" >/dev/null
  cmake --build "$2" -j2 --target veltrano-batch "${targets[@]}"
}

out=build/bench-headless
targets=(HeadlessFloorBench)
build_batch . "$out/this" -DVELTRANO_BUILD_BENCH=ON
commands=()
if [ -n "$compare" ]; then
  rev=$(git rev-parse --short "$compare^{commit}")
  rm -rf "$out/src-$rev"
  mkdir -p "$out/src-$rev"
  git archive "$rev" | tar -x -C "$out/src-$rev"
  targets=()
  build_batch "$out/src-$rev" "$out/build-$rev" -DVELTRANO_BUILD_BENCH=OFF
  commands+=("$rev=$out/build-$rev/run/veltrano-batch")
fi
commands+=("this=$out/this/run/veltrano-batch")

exec "$out/this/bench/HeadlessFloorBench" "${args[@]}" "${commands[@]}"
