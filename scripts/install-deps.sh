#!/usr/bin/env bash
# Installs the Debian packages that a task needs, where they are missing.
# Run as root (or with sudo available).
#
#   scripts/install-deps.sh build   what building and running the module and
#                                   the velmoran program needs (the main job,
#                                   scripts/convert.sh)
#   scripts/install-deps.sh plot    the build set and matplotlib, for the main
#                                   job's --png (145 packages, 174 MB of the
#                                   download on a fresh Debian 12)
#   scripts/install-deps.sh package the build set, and what scripts/package.sh
#                                   needs to make the Debian package
#   scripts/install-deps.sh test    all of the above, and the tools the tests
#                                   and benchmarks use as oracles and services
#
# With no argument: test.
set -euo pipefail

build_packages=(
  g++ cmake ninja-build pkg-config
  python3 python3-dev python3-venv
  libcli11-dev libtbb-dev libdeflate-dev libssl-dev zlib1g-dev libmsnumpress-dev
  libcpp-httplib-dev nodejs
)
# npm comes with some builds of nodejs, and Debian's npm package conflicts
# with those: ask for it only where the command is missing.
command -v npm >/dev/null || build_packages+=(npm)
# --png of the main job.
plot_packages=(python3-matplotlib)
# scripts/package.sh: Debian's build flags and dpkg-shlibdeps (dpkg-dev),
# CPack's look at the files (file), the manual pages (help2man).
package_packages=(dpkg-dev file help2man)
test_packages=(
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev clang-format-14
  libbenchmark-dev liblzf-dev
  snakemake hyperfine strace
  openms python3-pymzml python3-numpy python3-pandas python3-jsonschema time
  chromium chromium-driver python3-selenium
  slurm-wlm munge
  lintian
)

case ${1:-test} in
  build) packages=("${build_packages[@]}") ;;
  plot) packages=("${build_packages[@]}" "${plot_packages[@]}") ;;
  package) packages=("${build_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${plot_packages[@]}" "${package_packages[@]}"
                  "${test_packages[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [build|plot|package|test]" >&2; exit 2 ;;
esac

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
