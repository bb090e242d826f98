#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks
# need, where they are missing. Run as root (or with sudo available).
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev clang-format-14 cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev liblzf-dev
  python3 python3-dev python3-venv
  libcli11-dev libtbb-dev libdeflate-dev libssl-dev zlib1g-dev
  python3-matplotlib snakemake hyperfine
  openms python3-pymzml
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
