#!/usr/bin/env bash
# Builds a fuzz target with clang and runs it for a bounded time:
#   run.sh BUILD-DIR SEED-WRITER [SECONDS] [TARGET]
# TARGET is archive_reader (the default) or hive_parser; SEED-WRITER is the unit test program
# that writes its seed corpus (archive_reader_test, platform_test).
# Longer runs by hand: build-dir/archive_reader_fuzz -dict=tests/fuzz/archive.dict CORPUS SEEDS
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build="$1" seeds_writer="$2" seconds="${3:-30}" target="${4:-archive_reader}"
case "$target" in
  archive_reader) dict=archive.dict seeds_test='ArchiveFuzzSeeds.*' ;;
  hive_parser) dict=hive.dict seeds_test='HiveFuzzSeeds.*' ;;
  *) echo "run.sh: no fuzz target $target" >&2; exit 2 ;;
esac
mkdir -p "$build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
# quiet when it builds; the compiler's words when it does not
if ! log=$(cmake --build "$build" --target "${target}_fuzz" 2>&1); then echo "$log" | tail -40; exit 1; fi
rm -rf "$build/seeds"
FORMWELL_FUZZ_SEEDS="$build/seeds" "$seeds_writer" --gtest_filter="$seeds_test" >/dev/null
mkdir -p "$build/corpus"
cd "$build"
"./${target}_fuzz" -dict="$here/$dict" -max_total_time="$seconds" -rss_limit_mb=3072 \
  -malloc_limit_mb=1200 -print_final_stats=1 corpus seeds 2>&1 | tail -20
