#!/usr/bin/env bash
# The shared library as a host that sanitizes its own process sees it: compiled by clang with
# AddressSanitizer and UndefinedBehaviorSanitizer, linked without their runtime, which the
# sanitized host executable brings. Then the C host runs against it.
set -euo pipefail

if ! dpkg -s clang libclang-rt-14-dev > /dev/null 2>&1; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev > /dev/null
fi

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# A C host links only the C part of the sanitizer runtime, so the library leaves out the two
# checks that need its C++ part (dynamic types through vtables, function types).
cxx_only="-fno-sanitize=vptr,function"
CC=clang CXX=clang++ cmake -S . -B build-clang-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMLIB_BUILD_BENCH=OFF -DPython_EXECUTABLE=/usr/bin/python3 \
  -DCMAKE_CXX_FLAGS="$flags $cxx_only" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" > /dev/null
cmake --build build-clang-asan -j2 --target tamresampler c_host_test tamresample
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build-clang-asan/tests/c_host_test
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build-clang-asan/tools/tamresample --method aliasfree > /dev/null
echo "sanitized shared library: c_host_test and tamresample ran clean"
