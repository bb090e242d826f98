// velmoran view: loads the run's summary and scan table, draws the
// chromatogram, and shows the spectrum of the scan the user selects.
// window.velmoranReady becomes true once the chromatogram is drawn.
// With several runs, a selector chooses the run shown and an overlay
// draws every run's chromatogram (runs.js).
import { fetchRun, fetchRuns, fetchScans, fetchSpectrum, fetchXic } from './api.js';
import { showChannels } from './channels.js';
import { Chromatogram } from './chromatogram.js';
import { formatCount, formatIntensity, formatNumber } from './format.js';
import { Overlay, showRunSelector } from './runs.js';
import { ScanTable } from './scan_table.js';
import { SpectrumView } from './spectrum.js';

// Spectra already fetched, kept for going back and forth (oldest dropped first).
const SPECTRA_KEPT = 64;
const spectra = new Map();

function $(id) {
  return document.getElementById(id);
}

function showSummary(run) {
  $('run-name').textContent = run.name;
  document.title = `${run.name} · velmoran view`;
  const levels = Object.entries(run.scans_by_ms_level)
    .map(([level, count]) => `MS${level} ${formatCount(count)}`).join(', ');
  const range = (low, high, digits) =>
    (low == null ? '–' : `${formatNumber(low, digits)} – ${formatNumber(high, digits)}`);
  const items = [
    ['scans', `${formatCount(run.scans)} (${levels})`],
    ['spectra', `${formatCount(run.profile_spectra)} profile, ` +
      `${formatCount(run.centroid_spectra)} centroid, ${formatCount(run.empty_spectra)} empty`],
    ['points', formatCount(run.points)],
    ['RT (s)', range(run.rt_sec_min, run.rt_sec_max, 2)],
    ['m/z', range(run.mz_min, run.mz_max, 4)],
  ];
  $('run-summary').replaceChildren(...items.map(([key, value]) => {
    const item = document.createElement('div');
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = key;
    dd.textContent = value;
    item.append(dt, dd);
    return item;
  }));
}

async function spectrumAt(index, run) {
  let spectrum = spectra.get(index);
  if (!spectrum) {
    spectrum = await fetchSpectrum(index, run);
    if (spectra.size >= SPECTRA_KEPT) spectra.delete(spectra.keys().next().value);
    spectra.set(index, spectrum);
  }
  return spectrum;
}

function spectrumTitle(spectrum) {
  const kind = spectrum.centroided === null ? 'no points'
    : `${spectrum.centroided ? 'centroid' : 'profile'}, ${formatCount(spectrum.mz.length)} points`;
  const parts = [`Scan ${spectrum.scan_id}`, `MS${spectrum.ms_level}`,
                 `RT ${formatNumber(spectrum.rt_sec, 2)} s`];
  if (spectrum.precursor_mz != null) parts.push(`precursor m/z ${formatNumber(spectrum.precursor_mz)}`);
  if (spectrum.mrm_channel != null) parts.push(`channel ${spectrum.mrm_channel}`);
  parts.push(kind);
  return parts.join(' · ');
}

// Parses "524.26, 609.3" into numbers; null when any part is not a positive number.
function parseMzList(text) {
  const parts = text.split(/[\s,;]+/).filter((p) => p !== '');
  const values = parts.map(Number);
  return parts.length && values.every((v) => Number.isFinite(v) && v > 0) ? parts : null;
}

async function start() {
  const runs = await fetchRuns();
  const first = runs.find((r) => r.error === null);
  const spectrumView = new SpectrumView($('spectrum'), $('readout'));
  const table = new ScanTable($('scans-panel'), { onSelect: (index) => select(index) });
  // The run shown: its position, scan rows and chromatogram.
  let runPosition = first.run;
  let scans = [];
  let chromatogram = null;
  let selected = null;
  let latest = 0;
  let overlay = null;

  // Selects the scan at table index `index`; resolves once its spectrum is drawn.
  async function select(index) {
    if (index < 0 || index >= scans.length) return;
    selected = index;
    chromatogram.select(index);
    table.select(index);
    const request = ++latest;
    const spectrum = await spectrumAt(index, runPosition);
    if (request !== latest) return;  // a later selection won
    $('spectrum-title').textContent = spectrumTitle(spectrum);
    await spectrumView.show(spectrum);
  }

  // Shows run `k`: its summary, chromatogram, channels, table and first scan.
  let runRequest = 0;
  async function openRun(k) {
    const request = ++runRequest;
    const [run, rows] = await Promise.all([fetchRun(k), fetchScans(k)]);
    if (request !== runRequest) return;  // another run was chosen meanwhile
    runPosition = k;
    $('run-select').value = String(k);
    scans = rows;
    selected = null;
    spectra.clear();
    showSummary(run);
    chromatogram?.destroy();
    chromatogram = new Chromatogram($('chromatogram'), scans, {
      onSelect: (index) => select(index),
      onFirstDraw: () => {
        // Milliseconds since navigation began, for the benchmark.
        window.velmoranReadyMs ??= performance.now();
        window.velmoranReady = true;
      },
    });
    const kind = document.querySelector('#trace-kind input:checked')?.value;
    if (kind && kind !== chromatogram.kind) chromatogram.setKind(kind);
    const levelChoice = $('xic-level');
    levelChoice.replaceChildren();
    for (const level of [...new Set(scans.map((s) => s.ms_level))].sort((a, b) => a - b)) {
      levelChoice.add(new Option(`MS${level}`, String(level), false, level === chromatogram.level));
    }
    $('xic-status').textContent = '';
    table.setScans(scans);
    // When the first table is drawn, for the benchmark.
    window.velmoranTableMs ??= performance.now();
    overlay?.setSelected(k);
    $('channels-panel')?.remove();
    await showChannels(run, $('chromatogram-panel'), (index) => select(index), k);
    // For tests and benchmarks: select a scan and wait until it is drawn.
    window.velmoranView = { select, scanCount: scans.length, run: k, selectRun: openRun };
    await select(0);
  }

  for (const input of document.querySelectorAll('#trace-kind input')) {
    input.addEventListener('change', () => {
      chromatogram.setKind(input.value);
      overlay?.setKind(input.value);
    });
  }

  document.addEventListener('keydown', (event) => {
    if (event.target instanceof HTMLInputElement) return;
    const step = { ArrowLeft: -1, ArrowRight: 1 }[event.key];
    if (!step || selected === null) return;
    event.preventDefault();
    select(Math.min(scans.length - 1, Math.max(0, selected + step)));
  });

  $('xic-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const status = $('xic-status');
    const mzs = parseMzList($('xic-mz').value);
    const ppm = Number($('xic-ppm').value);
    const level = Number($('xic-level').value);
    status.className = '';
    if (!mzs || !(ppm > 0)) {
      status.className = 'error';
      status.textContent = 'Give one or more m/z values and a tolerance in ppm above 0.';
      return;
    }
    status.textContent = 'extracting…';
    try {
      const [rows] = await Promise.all([fetchXic(mzs, ppm, level, runPosition),
                                        overlay?.setXics(mzs, ppm, level)]);
      if (level !== chromatogram.level) chromatogram.setLevel(level);
      const byTarget = new Map(mzs.map((mz) => [mz, new Array(chromatogram.times.length).fill(null)]));
      for (const row of rows) {
        const position = chromatogram.positionOfScanId.get(row.scan_id);
        const values = byTarget.get(row.target);
        if (values && position !== undefined) values[position] = row.intensity;
      }
      chromatogram.setXics([...byTarget].map(([target, values]) => ({ target, values })));
      const highest = Math.max(0, ...rows.map((r) => r.intensity));
      status.textContent = `${mzs.length} XIC${mzs.length > 1 ? 's' : ''} at MS${level}, ` +
        `highest ${formatIntensity(highest)}`;
    } catch (error) {
      status.className = 'error';
      status.textContent = error.message;
    }
  });
  $('xic-clear').addEventListener('click', () => {
    chromatogram.setXics([]);
    overlay?.setXics([]);
    $('xic-status').textContent = '';
  });

  if (runs.length > 1) {
    showRunSelector($('run-select'), runs, first.run, (k) => openRun(k));
    $('overlay-panel').hidden = false;
    $('overlay-normalise').addEventListener('change', (event) =>
      overlay.setNormalise(event.target.checked));
    overlay = new Overlay($('overlay'), $('run-legend'), runs, {
      onDrawn: () => { window.velmoranOverlayMs = performance.now(); },
    });
    await Promise.all([overlay.load(), openRun(first.run)]);
  } else {
    await openRun(first.run);
  }
}

start().catch((error) => {
  $('spectrum-title').textContent = `Could not load the run: ${error.message}`;
  throw error;
});
