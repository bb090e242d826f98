#!/usr/bin/env bash
# Installs the Debian packages that a task needs, where they are missing.
# Run as root (or with sudo available). The sets and what each is for are
# in usage() below (`scripts/install-deps.sh` alone prints them); every
# caller names its set.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: scripts/install-deps.sh SET
Installs the Debian packages a task needs (only those missing). SET is one of:
  build    building and running the Python modules and the velmoran program,
           without the viewer's page: the main job (scripts/demo.sh) and
           scripts/convert.sh. Debian's packages only, no Node.js.
  python   what `pip install .` needs: the compiler, CMake, Ninja, Python's
           headers (python3-dev) and venv (python3-venv).
  plot     the build set and matplotlib, for the main job's --png
           (84 packages and 85 MB of download more than build on a fresh
           Debian 12).
  data     the build set, and numpy and pandas for Debian's python3: the
           data-work examples of docs/arrays.md and docs/cli.md.
  view     the build set and Node.js with npm, for the page of `velmoran
           view`: npm fetches its charting library from the npm registry
           when the program is built.
  package  the view set, and what scripts/package.sh needs to make the
           Debian package.
  test     all of the above, and the tools the tests and benchmarks use as
           oracles and services (scripts/test.sh).
With no SET, prints this and installs nothing.
EOF
}

build_packages=(
  g++ cmake ninja-build pkg-config
  python3 python3-dev
  libcli11-dev libtbb-dev libdeflate-dev libssl-dev zlib1g-dev libmsnumpress-dev
)
# pip install . in a virtual environment: the module's build, no program.
python_packages=(g++ cmake ninja-build python3 python3-dev python3-venv)
# --png of the main job.
plot_packages=(python3-matplotlib)
# numpy and pandas for the data-work examples.
data_packages=(python3-numpy python3-pandas)
# The viewer's page: npm installs its charting library at build time.
view_packages=(nodejs)
# npm comes with some builds of nodejs, and Debian's npm package conflicts
# with those: ask for it only where the command is missing.
command -v npm >/dev/null || view_packages+=(npm)
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

case ${1:-} in
  build) packages=("${build_packages[@]}") ;;
  python) packages=("${python_packages[@]}") ;;
  plot) packages=("${build_packages[@]}" "${plot_packages[@]}") ;;
  data) packages=("${build_packages[@]}" "${data_packages[@]}") ;;
  view) packages=("${build_packages[@]}" "${view_packages[@]}") ;;
  package) packages=("${build_packages[@]}" "${view_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${python_packages[@]}" "${plot_packages[@]}"
                  "${data_packages[@]}" "${view_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  -h | --help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
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
