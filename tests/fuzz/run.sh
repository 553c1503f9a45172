#!/usr/bin/env bash
# Builds the archive reader's fuzz target with clang and runs it for a bounded time:
#   run.sh BUILD-DIR SEED-WRITER [SECONDS]
# SEED-WRITER is the archive reader's unit test program, which writes the seed corpus.
# Longer runs by hand: build-dir/archive_reader_fuzz -dict=tests/fuzz/archive.dict CORPUS SEEDS
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build="$1" seeds_writer="$2" seconds="${3:-30}"
mkdir -p "$build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null
rm -rf "$build/seeds"
FORMWELL_FUZZ_SEEDS="$build/seeds" "$seeds_writer" --gtest_filter='ArchiveFuzzSeeds.*' >/dev/null
mkdir -p "$build/corpus"
cd "$build"
./archive_reader_fuzz -dict="$here/archive.dict" -max_total_time="$seconds" -rss_limit_mb=3072 \
  -malloc_limit_mb=1200 -print_final_stats=1 corpus seeds 2>&1 | tail -20
