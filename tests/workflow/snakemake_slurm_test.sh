#!/usr/bin/env bash
# The Snakemake workflow through Slurm with the project's profile, on three
# generated runs and one whose scan table is cut short. Run it under
# with_slurm.sh, which provides the cluster (SLURM_CONF) and the file where
# Slurm logs each finished job (VELMORAN_SLURM_JOBCOMP):
#
#   with_slurm.sh snakemake_slurm_test.sh VELMORAN MKDATASET SNAKEFILE PROFILE WORKDIR
#
# Checks that every job Snakemake ran was a Slurm job, that the three good
# runs' outputs equal those of a local run byte for byte, that the damaged
# run's jobs fail in Slurm and are reported failed while the others finish
# (--keep-going), that without the damaged run the batch's quality control
# follows, and that a third run submits nothing.
set -euo pipefail
velmoran=$1 mkdataset=$2 snakefile=$3 profile=$4 work=$5
jobcomp=${VELMORAN_SLURM_JOBCOMP:?run under with_slurm.sh}

fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/runs"
for i in 1 2 3; do
  "$mkdataset" synth "$work/runs/run$i.d" --ms1 3 --ms2 6 --points 300 --peaks 20 --seed "$i" >/dev/null
done
"$mkdataset" synth "$work/runs/damaged.d" --ms1 3 --ms2 6 --seed 4 >/dev/null
truncate -s 10 "$work/runs/damaged.d/AcqData/MSScan.bin"

# The reference: the good runs' outputs made on this machine, without Slurm.
good=()
for i in 1 2 3; do good+=("$work/local/run$i.mzML" "$work/local/run$i.scans.tsv"); done
snakemake -s "$snakefile" -d "$work/local-state" -j 2 "${good[@]}" \
  --config runs="$work/runs" out="$work/local" velmoran="$velmoran" \
  >"$work/local.log" 2>&1 || { cat "$work/local.log"; fail "the local run failed"; }

through_slurm() {
  (cd "$work" && snakemake -s "$snakefile" --profile "$profile" --keep-going \
    --config runs="$work/runs" out="$work/out" velmoran="$velmoran")
}

status=0
through_slurm >"$work/slurm.log" 2>&1 || status=$?
show() { cat "$work/slurm.log"; echo "--- Slurm's job log"; cat "$jobcomp"; }
((status != 0)) || { show; fail "Snakemake reported success although the damaged run's jobs failed"; }

# Every job Snakemake submitted is a Slurm job that Slurm logged: the good
# runs' jobs completed, the damaged run's failed (each try of it).
submitted=$(sed -n "s/.*with external jobid '\([0-9]*\).*/\1/p" "$work/slurm.log" | sort -n)
[[ -n $submitted ]] || { show; fail "no Slurm job id in the Snakemake log"; }
logged=$(sed -n 's/^JobId=\([0-9]*\) .*/\1/p' "$jobcomp" | sort -n)
[[ $submitted == "$logged" ]] ||
  { show; fail "Snakemake submitted jobs $(echo $submitted), Slurm logged $(echo $logged)"; }
while read -r line; do
  name=$(sed -n 's/.* Name=\([^ ]*\) .*/\1/p' <<<"$line")
  state=$(sed -n 's/.* JobState=\([^ ]*\) .*/\1/p' <<<"$line")
  case $name in
    velmoran-mzml-damaged | velmoran-scans-damaged | velmoran-qc-damaged) expected=FAILED ;;
    velmoran-mzml-run[123] | velmoran-scans-run[123] | velmoran-qc-run[123]) expected=COMPLETED ;;
    *) show; fail "Slurm ran a job named '$name'" ;;
  esac
  [[ $state == "$expected" ]] || { show; fail "job $name: $state, expected $expected"; }
done <"$jobcomp"
for name in velmoran-{mzml,scans,qc}-{run1,run2,run3,damaged}; do
  grep -q " Name=$name " "$jobcomp" || { show; fail "no Slurm job $name"; }
done

# Snakemake names both failed jobs with their Slurm ids, and keeps no output.
for rule in mzml scans qc; do
  grep -q "Error in rule $rule:" "$work/slurm.log" || { show; fail "no error reported for rule $rule"; }
done
[[ $(grep -c "cluster_jobid: [0-9]" "$work/slurm.log") -ge 3 ]] ||
  { show; fail "the failed jobs' Slurm ids are not reported"; }
[[ ! -e $work/out/damaged.mzML && ! -e $work/out/damaged.scans.tsv && ! -e $work/out/damaged.mzQC ]] ||
  fail "the damaged run left an output"

for i in 1 2 3; do
  for kind in mzML scans.tsv; do
    cmp "$work/local/run$i.$kind" "$work/out/run$i.$kind" ||
      fail "run$i.$kind made through Slurm differs from the local one"
  done
done

# Again, without the damaged run: every run's output is up to date, and
# only the batch's quality control, which waited for every run, is made: one
# Slurm job that completes.
mv "$work/runs/damaged.d" "$work/damaged.d"
stamps=$(stat -c '%n %Y.%y' "$work"/out/*.*)
through_slurm >"$work/second.log" 2>&1 || { cat "$work/second.log"; fail "the second run failed"; }
[[ $(stat -c '%n %Y.%y' "$work"/out/*.*) == "$stamps" ]] || fail "the second run rewrote outputs"
batch_jobs=$(grep -v -E "^JobId=($(echo $logged | tr ' ' '|')) " "$jobcomp")
[[ $(wc -l <<<"$batch_jobs") -eq 1 && $batch_jobs == *" Name=velmoran-qc_batch-runs "* &&
   $batch_jobs == *" JobState=COMPLETED "* ]] ||
  { cat "$work/second.log"; cat "$jobcomp"; fail "the second run did not run the batch step alone"; }
[[ $(grep -c '"label": "run[123].d"' "$work/out/batch/runs.mzQC") -eq 3 ]] ||
  fail "batch/runs.mzQC does not hold the three runs"
logged=$(sed -n 's/^JobId=\([0-9]*\) .*/\1/p' "$jobcomp" | sort -n)

# A third time: nothing is submitted and nothing rewritten.
stamps=$(stat -c '%n %Y.%y' "$work"/out/* "$work"/out/batch/*)
through_slurm >"$work/third.log" 2>&1 || { cat "$work/third.log"; fail "the third run failed"; }
grep -q "Nothing to be done" "$work/third.log" || { cat "$work/third.log"; fail "the third run did work"; }
[[ $(sed -n 's/^JobId=\([0-9]*\) .*/\1/p' "$jobcomp" | sort -n) == "$logged" ]] ||
  fail "the third run submitted Slurm jobs"
[[ $(stat -c '%n %Y.%y' "$work"/out/* "$work"/out/batch/*) == "$stamps" ]] ||
  fail "the third run rewrote outputs"

# format: mzpeak through Slurm: the archive of one run, made by one Slurm
# job that completes, equal in its members to a local conversion.
(cd "$work" && snakemake -s "$snakefile" --profile "$profile" "$work/columns/run1.mzpeak" \
  --config runs="$work/runs" out="$work/columns" velmoran="$velmoran" format=mzpeak) \
  >"$work/columns.log" 2>&1 || { cat "$work/columns.log"; fail "format=mzpeak through Slurm failed"; }
line=$(grep " Name=velmoran-columns-run1 " "$jobcomp") || { cat "$jobcomp"; fail "no Slurm job made the archive"; }
[[ $line == *" JobState=COMPLETED "* ]] || fail "the archive's Slurm job: $line"
"$velmoran" convert -q "$work/runs/run1.d" --format mzpeak --unpacked -o "$work/columns-local"
python3 - "$work/columns/run1.mzpeak" "$work/columns-local" <<'PY' || fail "the archive made through Slurm differs"
import os, sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
assert sorted(archive.namelist()) == sorted(os.listdir(sys.argv[2]))
for name in archive.namelist():
    assert archive.read(name) == open(os.path.join(sys.argv[2], name), "rb").read(), name
PY

echo "snakemake through Slurm: jobs $(echo $submitted) (damaged run's jobs failed, others completed)," \
  "6 outputs equal to a local run, the batch's QC once every run had its own, nothing submitted" \
  "on the third run; format=mzpeak made by a Slurm job, equal to a local archive"
