#!/usr/bin/env bash
# Cross-builds tamresampler.dll, its tests and tamresample.exe with mingw-w64, runs every test
# under Wine, and checks that tamresample.exe writes byte for byte what the Linux build writes.
#
# Needs: g++-mingw-w64-x86-64-posix, wine, wine64, cmake, and GoogleTest's sources (googletest).
# Environment: LINUX_BUILD (Linux build directory, default build-install), MINGW_BUILD (cross
# build directory, default build-mingw), WINEPREFIX (default: a prefix inside MINGW_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."

linuxBuild=${LINUX_BUILD:-build-install}
mingwBuild=${MINGW_BUILD:-build-mingw}
jobs=${JOBS:-2}

# Headless and quiet; no prompt to install Wine's .NET and browser components.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEPREFIX=${WINEPREFIX:-$(pwd)/$mingwBuild/wineprefix}
unset DISPLAY

echo "== Linux reference build ($linuxBuild)"
if [[ ! -f $linuxBuild/CMakeCache.txt ]]; then
  cmake -S . -B "$linuxBuild" -DCMAKE_BUILD_TYPE=Release -DTAMLIB_BUILD_BENCH=OFF \
    -DPython_EXECUTABLE=/usr/bin/python3
fi
cmake --build "$linuxBuild" -j"$jobs" --target tamresample

echo "== Cross build ($mingwBuild)"
cmake -S . -B "$mingwBuild" -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/toolchains/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAMLIB_GTEST_FROM_SOURCE=ON -DTAMLIB_BUILD_BENCH=OFF
# One persistent wineserver for the whole run. Left to itself it exits a few seconds after its
# last client, and a test started in that moment dies with "recvmsg: Connection reset by peer".
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2> /dev/null || true' EXIT
# The first start creates the prefix; the test discovery after linking must not pay for it.
wine cmd /c exit > /dev/null 2>&1 || true
cmake --build "$mingwBuild" -j"$jobs"

dll=$mingwBuild/bin/tamresampler.dll
echo "== $dll: export and import tables"
x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p'
x86_64-w64-mingw32-objdump -p "$dll" | grep 'DLL Name:'

echo "== Test suite under Wine"
log=$mingwBuild/ctest-wine.log
# Failed tests that printed nothing at all: their process never reached main under Wine.
silentFailures() {
  awk '/^Output:/ { getline; getline; silent = ($0 == "<end of output>") }
       /^Test Failed\./ && silent { n++ }
       /^Test (Passed|Failed)\./ { silent = 0 }
       END { print n + 0 }' "$mingwBuild/Testing/Temporary/LastTest.log"
}
if ! ctest --test-dir "$mingwBuild" -j"$jobs" --output-on-failure 2>&1 | tee "$log"; then
  # A lost connection to wineserver, or a test process that Wine did not start, is Wine's
  # failure, not the test's: run the failed tests once more. Any other failure stands.
  if ! grep -q 'wine client error' "$log" && [ "$(silentFailures)" -eq 0 ]; then
    exit 1
  fi
  echo "== Rerunning the tests that Wine failed to run"
  ctest --test-dir "$mingwBuild" --rerun-failed --output-on-failure
fi

echo "== Installed Windows tree consumed through find_package"
consume=$mingwBuild/install-check
rm -rf "$consume"
cmake --install "$mingwBuild" --prefix "$(pwd)/$consume/prefix" > /dev/null
cmake -S tests/install/findPackageHost -B "$consume/host" \
  -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/toolchains/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_FIND_ROOT_PATH="$(pwd)/$consume/prefix" -DCMAKE_PREFIX_PATH=/ \
  -DHOST_SOURCE="$(pwd)/tests/install/host.c" \
  -DEXPECTED_PACKAGE_DIR="$(pwd)/$consume/prefix/lib/cmake/TamlibResampler" > /dev/null
cmake --build "$consume/host" > /dev/null
# A Windows host ships the DLL beside its executable.
cp "$consume/prefix/bin/tamresampler.dll" "$consume/host/bin/"
wine "$consume/host/bin/findPackageHost.exe"

echo "== tamresample.exe against the Linux tamresample"
outputs=$mingwBuild/tamresample-comparison
rm -rf "$outputs"
mkdir -p "$outputs"
compared=0
failed=0
# The embedded example at the default grid, and at a rate and block size that line up with
# nothing in the recording.
for settings in "" "--rate 733 --block 97"; do
  for method in hold linear aliasfree; do
    name=$method${settings:+-$(echo "$settings" | tr -d ' -')}
    # shellcheck disable=SC2086 # settings is a list of options
    "$linuxBuild/tools/tamresample" --method "$method" $settings \
      --output "$outputs/$name-linux.csv" 2> /dev/null
    # shellcheck disable=SC2086
    wine "$mingwBuild/bin/tamresample.exe" --method "$method" $settings \
      --output "$outputs/$name-windows.csv" 2> /dev/null
    compared=$((compared + 1))
    if cmp "$outputs/$name-linux.csv" "$outputs/$name-windows.csv"; then
      echo "same bytes: $name ($(wc -l < "$outputs/$name-linux.csv") lines)"
    else
      failed=$((failed + 1))
    fi
  done
done
echo "tamresample comparisons: $((compared - failed)) passed, $failed failed"
[[ $failed -eq 0 ]]
