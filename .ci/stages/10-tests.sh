#!/usr/bin/env bash
# The README's test command.
set -euo pipefail
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/python3
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure
