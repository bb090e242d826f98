#!/usr/bin/env bash
# The Snakemake workflow on three generated runs with -j 2: every mzML,
# scans table and mzQC is written, and the batch's mzQC and QC table, and a second run of the workflow redoes nothing;
# format=mzpeak and format=parquet write archives and Hive partitions instead of mzML.
#
#   snakemake_test.sh VELMORAN MKDATASET SNAKEFILE WORKDIR
set -euo pipefail
velmoran=$1 mkdataset=$2 snakefile=$3 work=$4

rm -rf "$work"
mkdir -p "$work/runs"
for i in 1 2 3; do
  "$mkdataset" synth "$work/runs/run$i.d" --ms1 3 --ms2 6 --points 300 --peaks 20 --seed "$i" >/dev/null
done

workflow() {
  snakemake -s "$snakefile" -d "$work" -j 2 \
    --config runs="$work/runs" out="$work/out" velmoran="$velmoran" 2>&1
}

workflow >"$work/first.log" || { cat "$work/first.log"; exit 1; }
for i in 1 2 3; do
  mzml=$work/out/run$i.mzML scans=$work/out/run$i.scans.tsv
  [[ $(head -c 5 "$mzml") == "<?xml" ]] || { echo "FAIL: $mzml does not start with <?xml"; exit 1; }
  grep -q "<indexedmzML" "$mzml" || { echo "FAIL: $mzml is not indexed mzML"; exit 1; }
  [[ $(head -n 1 "$scans" | cut -f 1-3) == $'index\tscan_id\tnative_id' ]] ||
    { echo "FAIL: $scans has no header"; exit 1; }
  [[ $(wc -l <"$scans") -eq 10 ]] || { echo "FAIL: $scans does not hold 9 scans"; exit 1; }
done
for i in 1 2 3; do
  grep -q '"accession": "MS:4000059"' "$work/out/run$i.mzQC" || { echo "FAIL: run$i.mzQC"; exit 1; }
done
[[ $(grep -c '"label": "run[123].d"' "$work/out/batch/runs.mzQC") -eq 3 ]] ||
  { echo "FAIL: batch/runs.mzQC does not hold the three runs"; exit 1; }
[[ $(head -n 1 "$work/out/batch/runs.qc.tsv") == $'run\taccession\tname\telement\tvalue\trobust_z' ]] ||
  { echo "FAIL: batch/runs.qc.tsv has no header"; exit 1; }
grep -q 'id="qc-data"' "$work/out/batch/runs.report.html" ||
  { echo "FAIL: batch/runs.report.html is not the report"; exit 1; }
stamps=$(stat -c '%n %Y.%y' "$work"/out/* "$work"/out/batch/*)

workflow >"$work/second.log" || { cat "$work/second.log"; exit 1; }
grep -q "Nothing to be done" "$work/second.log" || { cat "$work/second.log"; echo "FAIL: work redone"; exit 1; }
[[ $(stat -c '%n %Y.%y' "$work"/out/* "$work"/out/batch/*) == "$stamps" ]] || { echo "FAIL: outputs rewritten"; exit 1; }

# format: mzpeak and parquet write the columnar outputs instead of mzML.
for format in mzpeak parquet; do
  snakemake -s "$snakefile" -d "$work" -j 2 --config runs="$work/runs" out="$work/out-$format" \
    velmoran="$velmoran" format="$format" >"$work/$format.log" 2>&1 || { cat "$work/$format.log"; exit 1; }
  for i in 1 2 3; do
    if [[ $format == mzpeak ]]; then
      out=$work/out-$format/run$i.mzpeak magic=$'PK\x03\x04'
    else
      out=$work/out-$format/parquet/run=run$i/part-0.parquet magic=PAR1
    fi
    [[ $(head -c 4 "$out") == "$magic" ]] || { echo "FAIL: $out is not $format"; exit 1; }
  done
  [[ ! -e $work/out-$format/run1.mzML ]] || { echo "FAIL: format=$format wrote mzML"; exit 1; }
done
echo "snakemake workflow: 9 outputs and the batch's QC written, nothing redone on the second run; format=mzpeak and format=parquet write their outputs"
