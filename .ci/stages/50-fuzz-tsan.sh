#!/usr/bin/env bash
# One minute of the API-sequence fuzzer on the committed corpus, then the thread test under
# ThreadSanitizer. Each build compiles only the one target it runs.
set -euo pipefail

if ! dpkg -s clang libclang-rt-14-dev > /dev/null 2>&1; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev > /dev/null
fi

# Fuzzer: clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer. New inputs go
# to a scratch directory; the committed corpus is only read. A crash, a sanitizer report, a
# hang past 60 s or an allocation past 2 GiB fails the stage and leaves the input in
# build-fuzz/artifacts/.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMLIB_BUILD_BENCH=OFF -DTAMLIB_BUILD_TOOLS=OFF -DPython_EXECUTABLE=/usr/bin/python3 \
  > /dev/null
cmake --build build-fuzz -j2 --target tamlib_api_fuzzer
mkdir -p build-fuzz/corpus-new build-fuzz/artifacts
if ! UBSAN_OPTIONS=print_stacktrace=1 \
  build-fuzz/tests/fuzz/tamlib_api_fuzzer build-fuzz/corpus-new tests/fuzz/corpus \
  -max_total_time=60 -rss_limit_mb=2048 -timeout=60 -max_len=4096 \
  -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 > build-fuzz/fuzz.log 2>&1; then
  grep -v NEW_FUNC build-fuzz/fuzz.log | tail -80
  echo "The fuzzer found a failing input (build-fuzz/artifacts):"
  ls -l build-fuzz/artifacts
  exit 1
fi
grep -E '^(Done|stat::)' build-fuzz/fuzz.log

# Thread test: four threads streaming their own resamplers, under ThreadSanitizer.
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMLIB_BUILD_BENCH=OFF \
  -DTAMLIB_BUILD_TOOLS=OFF -DPython_EXECUTABLE=/usr/bin/python3 \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_C_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" > /dev/null
cmake --build build-tsan -j2 --target tamlib_thread_test
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/threads/tsan.supp" \
  build-tsan/tests/threads/tamlib_thread_test
