#!/usr/bin/env bash
# Installs the Debian packages that a task needs, where they are missing.
# Run as root (or with sudo available).
#
#   scripts/install-deps.sh build   what building and running the module and
#                                   the velmoran program needs (the main job,
#                                   scripts/convert.sh)
#   scripts/install-deps.sh test    the above, and the tools the tests and
#                                   benchmarks use as oracles and services
#
# With no argument: test.
set -euo pipefail

build_packages=(
  g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev
  python3 python3-dev python3-venv
  libcli11-dev libtbb-dev libdeflate-dev libssl-dev zlib1g-dev libmsnumpress-dev
  libcpp-httplib-dev nodejs
)
# npm comes with some builds of nodejs, and Debian's npm package conflicts
# with those: ask for it only where the command is missing.
command -v npm >/dev/null || build_packages+=(npm)
# --png of the main job.
plot_packages=(python3-matplotlib)
test_packages=(
  clang libclang-rt-14-dev clang-format-14
  libbenchmark-dev liblzf-dev
  snakemake hyperfine strace
  openms python3-pymzml python3-numpy python3-pandas
  chromium chromium-driver python3-selenium
  slurm-wlm munge
  lintian pandoc help2man
)

case ${1:-test} in
  build) packages=("${build_packages[@]}" "${plot_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${plot_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [build|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
  # A Node.js packaged outside Debian's archive brings npm inside its nodejs
  # package and conflicts with Debian's npm.
  [[ $p == npm ]] && command -v npm >/dev/null && continue
  missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
