#!/usr/bin/env bash
# The Windows DLL: cross-built with mingw-w64, every test and tamresample.exe run under Wine,
# tamresample's output compared byte for byte with the Linux build of stage 10.
set -euo pipefail
# The package lists were fetched by 00-packages. The command `wine` comes with the package wine,
# the 64-bit loader with wine64.
apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-x86-64-posix wine wine64 googletest cmake > /dev/null
LINUX_BUILD=build MINGW_BUILD=build-mingw bash scripts/windows-build-and-test.sh
