#!/usr/bin/env bash
# The Debian package as an administrator meets it: lintian finds no error;
# `apt-get install ./velmoran_*.deb` installs it; the installed program
# converts a generated run, its manual pages are found, Debian's python3
# imports the module from dist-packages and reads the run, the user
# documentation is installed where the help texts and manual pages say, the
# program embeds the viewer's page, the consumer
# project builds against the headers and CMake package under /usr and reads
# the run; `apt-get purge` then removes every file the package brought, and
# the packages apt pulled in for it are removed as well. Whatever fails, the
# machine is left as it was found.
#
#   package_test.sh DEB MKDATASET
#
# Needs root and apt; refuses to run where velmoran is installed already.
set -euo pipefail
deb=$(realpath "$1") mkdataset=$(realpath "$2")
here=$(cd "$(dirname "$0")/../.." && pwd)

fail() { echo "FAIL: $*"; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "SKIP: the package test installs into /usr: run it as root"; exit 77; }
for tool in apt-get dpkg-deb lintian cmake man; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh test)"
done
package=$(dpkg-deb -f "$deb" Package)
if dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed; then
  fail "$package is installed on this machine already; remove it before testing the package"
fi

work=$(mktemp -d /tmp/velmoran-package.XXXXXX)
installed_before=$work/installed-before
dpkg-query -W -f='${db:Status-Status} ${Package}\n' | sed -n 's/^installed //p' | sort >"$installed_before"
# What apt installed for the test: the package, and the dependencies it
# pulled in (installed since, and marked as installed automatically).
added_packages() {
  local auto
  auto=$(apt-mark showauto)
  dpkg-query -W -f='${db:Status-Status} ${Package}\n' | sed -n 's/^installed //p' | sort |
    comm -13 "$installed_before" - | while read -r p; do
      [[ $p == "$package" ]] || grep -qxF "$p" <<<"$auto" && echo "$p"
    done
}
restore() {
  local status=$?
  trap - EXIT INT TERM
  local added
  added=$(added_packages)
  if [[ -n $added ]]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $added >/dev/null 2>&1 ||
      { echo "package test: could not purge $added"; status=1; }
  fi
  rm -rf "$work"
  exit "$status"
}
trap restore EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== lintian $(basename "$deb")"
lintian --fail-on error "$deb" | tee "$work/lintian.log" || fail "lintian reports errors"

# Every file and link the package holds (directories may be shared).
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' >"$work/files"
[[ -s $work/files ]] || fail "the package holds no file"

echo "== apt-get install $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install failed"; }

run=$work/run.d
"$mkdataset" synth "$run" --ms1 3 --ms2 6 --points 300 --peaks 20 --seed 5 >/dev/null

# From a neutral directory and a plain PATH, so nothing of a build tree is used.
cd "$work"
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset PYTHONPATH LD_LIBRARY_PATH

[[ $(command -v velmoran) == /usr/bin/velmoran ]] || fail "velmoran is not /usr/bin/velmoran"
velmoran convert "$run" -o "$work/run.mzML" || fail "velmoran convert failed"
grep -q "<indexedmzML" "$work/run.mzML" || fail "velmoran convert wrote no indexed mzML"
[[ $(grep -c "<spectrum " "$work/run.mzML") -eq 9 ]] || fail "the mzML does not hold the run's 9 spectra"

for page in velmoran velmoran-convert; do
  [[ $(man -w "$page") == /usr/share/man/man1/$page.1.gz ]] || fail "man -w $page: $(man -w "$page" 2>&1)"
done

# The user documentation, where the help texts and manual pages point.
doc_dir=/usr/share/doc/$package
for doc in cli convert view arrays python format; do
  [[ -s $doc_dir/$doc.md ]] || fail "$doc_dir/$doc.md is not installed"
done
for doc in "$here"/docs/*.md; do
  cmp -s "$doc" "$doc_dir/${doc##*/}" || fail "$doc_dir/${doc##*/} is not the project's ${doc#"$here"/}"
done
help=$(velmoran --help; for command in convert info scans xic view; do velmoran "$command" --help; done)
help+=$(for page in velmoran velmoran-scans velmoran-view; do MANWIDTH=400 man "$page" 2>/dev/null; done)
! grep -n "docs/" <<<"$help" || fail "a help text or manual page names the source tree's docs/"
named=$(grep -o "$doc_dir/[a-z0-9_-]*\.md" <<<"$help" | sort -u)
[[ -n $named ]] || fail "no help text names $doc_dir"
for doc in $named; do [[ -s $doc ]] || fail "the help names $doc, which is not installed"; done
# The whole viewer: the page and its charting library are embedded.
# (A program without them refuses before it looks at the run.)
view_error=$(velmoran view "$work/none.d" --no-open 2>&1) && fail "velmoran view served a missing run"
! grep -q "without the viewer's page" <<<"$view_error" || fail "the package's velmoran has no viewer page"

/usr/bin/python3 -c "import velmoran" || fail "Debian's python3 cannot import velmoran"
# And every other extension module the package holds.
for module in $(sed -n 's|^/usr/lib/python3/dist-packages/\([A-Za-z0-9_]*\)\..*\.so$|\1|p' "$work/files"); do
  /usr/bin/python3 -c "import $module" || fail "Debian's python3 cannot import $module"
done
/usr/bin/python3 - "$run" <<'PY' || fail "the installed module does not read the run"
import sys, velmoran
assert velmoran.__file__.startswith("/usr/lib/python3/dist-packages/"), velmoran.__file__
assert velmoran.RawReader(sys.argv[1]).scan_count == 9
PY

cmake -S "$here/tests/consumer" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  >"$work/consumer.log" 2>&1 && cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log"; fail "the consumer project does not build against /usr"; }
grep -q "velmoran_DIR:PATH=/usr/lib/" "$work/consumer/CMakeCache.txt" ||
  fail "the consumer did not find the package under /usr"
[[ $("$work/consumer/count_scans" "$run") == "run.d: 9 scans, 9 with data" ]] ||
  fail "the consumer built against /usr does not read the run"

echo "== apt-get purge $package"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$package" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get purge failed"; }
left=$(while read -r f; do if [[ -e $f || -L $f ]]; then echo "$f"; fi; done <"$work/files")
[[ -z $left ]] || fail "files left after purge: $left"
for dir in /usr/include/velmoran /usr/include/quorlith /usr/share/doc/"$package" \
  /usr/lib/*/cmake/velmoran; do
  [[ ! -e $dir ]] || fail "$dir left after purge"
done
echo "package test: lintian clean of errors, installed, convert, man, python3, consumer, purged without a trace" \
  "($(wc -l <"$work/files") files)"
