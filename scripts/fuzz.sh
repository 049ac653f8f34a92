#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each on its seed corpus for a while, two at a time, at the
# lowest priority. Fails on the first target that finds a crash, a hang or a leak.
#
#   FUZZ_SECONDS   seconds per target (default 30)
#   FUZZ_BUILD     build directory (default build-fuzz)
#   arguments      the targets to run (default all)
#
# A target's corpus grows in FUZZ_BUILD/fuzz/corpus/<target>/ and is kept between
# runs; its findings land beside it as <target>-crash-*, -timeout-* or -leak-*, and
# its output in <target>.log.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD:-build-fuzz}
all="package_reader_fuzz file_container_fuzz discovery_fuzz signature_fuzz
  signature_frame_fuzz manifest_fuzz database_fuzz schedule_fuzz"
targets=${*:-$all}

start=$(date +%s)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DINSTALLER_FUZZ=ON -DINSTALLER_TESTS=OFF -DINSTALLER_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target fuzz_seeds $targets
built=$(date +%s)

# The targets change their root directory to a scratch directory of their own, so
# every path handed to them is relative to the working directory, which stays put.
# Their scratch roots go in the build directory too, where a crashed run's
# leftover stays out of the way.
work="$build/fuzz/corpus"
mkdir -p "$work" "$build/fuzz/scratch"
scratch=$(cd "$build/fuzz/scratch" && pwd)
run() {
  mkdir -p "$work/$1"
  (cd "$work" && TMPDIR="$scratch" nice -n 19 "../$1" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$1-" "$1" "../seeds/$1" \
    >"$1.log" 2>&1)
}
report() {
  if [ "$2" -ne 0 ]; then
    echo "fuzz: $1 failed (status $2); the end of $work/$1.log:"
    tail -n 40 "$work/$1.log"
    return 1
  fi
  # The final stats: executions, speed, coverage; and the corpus size.
  printf 'fuzz: %-22s %s\n' "$1" "$(grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^#[0-9]+.*DONE' "$work/$1.log" |
    sed -E 's/^stat::number_of_executed_units: */execs /; s/^stat::average_exec_per_sec: */exec\/s /; s/^#[0-9]+ +DONE +//' |
    tr '\n' ' ')"
}

failed=0
# shellcheck disable=SC2086
set -- $targets
while [ $# -gt 0 ]; do
  first=$1
  shift
  second=${1:-}
  [ -n "$second" ] && shift
  status2=0
  if [ -n "$second" ]; then
    run "$second" &
    pid=$!
  fi
  status1=0
  run "$first" || status1=$?
  if [ -n "$second" ]; then
    wait "$pid" || status2=$?
  fi
  report "$first" "$status1" || failed=1
  if [ -n "$second" ]; then report "$second" "$status2" || failed=1; fi
done
echo "fuzz: build $((built - start)) s, runs $(($(date +%s) - built)) s"
exit "$failed"
