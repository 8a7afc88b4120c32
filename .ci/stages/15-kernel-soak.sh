#!/usr/bin/env bash
# A minute of random alias-free streams through every kernel against the scalar reference, in
# the release build of the tests. The seed comes from the commit, so that every commit draws
# other streams and a failure replays with the seed it prints.
set -euo pipefail
cmake --build build -j2 --target tamlib_kernel_soak
commit=$(git rev-parse --short=7 HEAD 2> /dev/null || echo 1)
seed=$((16#$commit))
echo "kernel soak from seed $seed"
build/tests/soak/tamlib_kernel_soak 60 "$seed"
