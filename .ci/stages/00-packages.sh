#!/usr/bin/env bash
# What a fresh machine of this kind lacks, from Debian's packages only.
set -euo pipefail
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  cmake g++ clang libgtest-dev libbenchmark-dev pkg-config python3 python3-numpy python3-scipy \
  python3-dev pybind11-dev python3-pybind11 python3-pandas python3-h5py python3-matplotlib \
  python3-tqdm python3-distributed python3-pytest libsoxr-dev \
  > /dev/null
