#!/usr/bin/env bash
# What a fresh machine of this kind lacks, from Debian's packages only. Nothing is installed
# (and no root is needed) when everything is there already.
set -euo pipefail
packages=(
  cmake g++ clang libgtest-dev libbenchmark-dev pkg-config python3 python3-numpy python3-scipy
  python3-dev pybind11-dev python3-pybind11 python3-pandas python3-h5py python3-matplotlib
  python3-tqdm python3-distributed python3-pytest python3-xarray python3-venv python3-pip
  python3-setuptools python3-wheel libsoxr-dev
)
if dpkg -s "${packages[@]}" > /dev/null 2>&1; then
  exit 0
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" > /dev/null
