#!/usr/bin/env bash
# A minute of each fuzzer (API sequences, CSV reader) on its committed corpus, then the thread
# test under ThreadSanitizer. Each build compiles only the targets it runs.
set -euo pipefail

if ! dpkg -s clang libclang-rt-14-dev > /dev/null 2>&1; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev > /dev/null
fi

# Fuzzers: clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, a minute each
# on its committed corpus. New inputs go to a scratch directory; the committed corpus is only
# read. A crash, a sanitizer report, a hang past 60 s or an allocation past 2 GiB fails the stage
# and leaves the input in build-fuzz/artifacts/.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMLIB_BUILD_BENCH=OFF -DTAMLIB_BUILD_TOOLS=OFF -DPython_EXECUTABLE=/usr/bin/python3 \
  > /dev/null
cmake --build build-fuzz -j2 --target tamlib_api_fuzzer tamresample_csv_fuzzer
mkdir -p build-fuzz/artifacts

# fuzz_for_a_minute FUZZER CORPUS
fuzz_for_a_minute() {
  local fuzzer=$1 corpus=$2 name
  name=$(basename "$fuzzer")
  mkdir -p "build-fuzz/corpus-new/$name"
  if ! UBSAN_OPTIONS=print_stacktrace=1 \
    "$fuzzer" "build-fuzz/corpus-new/$name" "$corpus" \
    -max_total_time=60 -rss_limit_mb=2048 -timeout=60 -max_len=4096 \
    -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 > "build-fuzz/$name.log" 2>&1; then
    grep -v NEW_FUNC "build-fuzz/$name.log" | tail -80
    echo "$name found a failing input (build-fuzz/artifacts):"
    ls -l build-fuzz/artifacts
    exit 1
  fi
  echo "$name:"
  grep -E '^(Done|stat::)' "build-fuzz/$name.log"
}
fuzz_for_a_minute build-fuzz/tests/fuzz/tamlib_api_fuzzer tests/fuzz/corpus
fuzz_for_a_minute build-fuzz/tests/tools/fuzz/tamresample_csv_fuzzer tests/tools/fuzz/corpus

# Thread test: four threads streaming their own resamplers, under ThreadSanitizer.
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMLIB_BUILD_BENCH=OFF \
  -DTAMLIB_BUILD_TOOLS=OFF -DPython_EXECUTABLE=/usr/bin/python3 \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_C_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" > /dev/null
cmake --build build-tsan -j2 --target tamlib_thread_test
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/threads/tsan.supp" \
  build-tsan/tests/threads/tamlib_thread_test
