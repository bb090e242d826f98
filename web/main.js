// velmoran view: loads the run's summary and scan table, draws the
// chromatogram, and shows the spectrum of the scan the user selects.
// window.velmoranReady becomes true once the chromatogram is drawn.
// With several runs, a selector chooses the run shown (#run=K in the URL's
// fragment: choosing opens the page again for that run) and an overlay
// draws every run's chromatogram (runs.js); the scan table lists the
// scans of the run shown (scan_table.js).
import { fetchRun, fetchRuns, fetchScans, fetchSpectrum, fetchXic, openAgain } from './api.js';
import { AXIS_MODES, axisMode, onAxisMode, setAxisMode } from './axes.js';
import { showChannels } from './channels.js';
import { wireExports } from './chart_export.js';
import { Chromatogram } from './chromatogram.js';
import { formatCount, formatIntensity, formatNumber } from './format.js';
import { listenForKeys } from './keys.js';
import { RunMap } from './map.js';
import { Overlay, colorOf, showRunSelector } from './runs.js';
import { ScanTable } from './scan_table.js';
import { SpectrumView } from './spectrum.js';
import { fragment, readRange, readState, writeRange, writeState } from './url_state.js';

// Spectra already fetched, kept for going back and forth (oldest dropped first).
const SPECTRA_KEPT = 64;
const spectra = new Map();
// The position of the run shown among the runs served.
let runPosition = 0;

function $(id) {
  return document.getElementById(id);
}

// A range with only its finite ends: "a – b", "from a", "up to b", or "–".
function finiteRange(low, high, digits) {
  const lowOk = Number.isFinite(low);
  const highOk = Number.isFinite(high);
  if (lowOk && highOk) return `${formatNumber(low, digits)} – ${formatNumber(high, digits)}`;
  if (lowOk) return `from ${formatNumber(low, digits)}`;
  if (highOk) return `up to ${formatNumber(high, digits)}`;
  return '–';
}

function showSummary(run, scans) {
  $('run-name').textContent = run.name;
  document.title = `${run.name} · velmoran view`;
  const levels = Object.entries(run.scans_by_ms_level)
    .map(([level, count]) => `MS${level} ${formatCount(count)}`).join(', ');
  // Scans without a finite retention time are left out of the chromatogram.
  const untimed = scans.filter((s) => !Number.isFinite(s.rt_sec)).length;
  const items = [
    ['scans', `${formatCount(run.scans)} (${levels})`],
    ['spectra', `${formatCount(run.profile_spectra)} profile, ` +
      `${formatCount(run.centroid_spectra)} centroid, ${formatCount(run.empty_spectra)} empty`],
    ['points', formatCount(run.points)],
    ['RT (s)', finiteRange(run.rt_sec_min, run.rt_sec_max, 2) +
      (untimed ? ` (${formatCount(untimed)} scan${untimed > 1 ? 's' : ''} without a finite RT)` : '')],
    ['m/z', finiteRange(run.mz_min, run.mz_max, 4)],
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

async function spectrumAt(index) {
  let spectrum = spectra.get(index);
  if (!spectrum) {
    spectrum = await fetchSpectrum(index, runPosition);
    if (spectra.size >= SPECTRA_KEPT) spectra.delete(spectra.keys().next().value);
    spectra.set(index, spectrum);
  }
  return spectrum;
}

// leftOut: points without a finite m/z or intensity, not drawn.
function spectrumTitle(spectrum, leftOut) {
  const kind = spectrum.centroided === null ? 'no points'
    : `${spectrum.centroided ? 'centroid' : 'profile'}, ${formatCount(spectrum.mz.length)} points`;
  const rt = Number.isFinite(spectrum.rt_sec) ? `RT ${formatNumber(spectrum.rt_sec, 2)} s` : 'no finite RT';
  const parts = [`Scan ${spectrum.scan_id}`, `MS${spectrum.ms_level}`, rt];
  if (Number.isFinite(spectrum.precursor_mz)) {
    parts.push(`precursor m/z ${formatNumber(spectrum.precursor_mz)}`);
  }
  if (spectrum.mrm_channel != null) parts.push(`channel ${spectrum.mrm_channel}`);
  parts.push(kind);
  if (leftOut === spectrum.mz.length && leftOut > 0) parts.push('no finite point');
  else if (leftOut > 0) parts.push(`${formatCount(leftOut)} not finite, not drawn`);
  return parts.join(' · ');
}

// Parses "524.26, 609.3" into numbers; null when any part is not a positive number.
function parseMzList(text) {
  const parts = text.split(/[\s,;]+/).filter((p) => p !== '');
  const values = parts.map(Number);
  return parts.length && values.every((v) => Number.isFinite(v) && v > 0) ? parts : null;
}

// Opens the page again on run `k`, keeping the choices that apply to any
// run (trace, axis, XIC targets, runs hidden) and leaving the scan and the
// zooms, which were the other run's.
function showRun(k) {
  writeState('run', k === 0 ? null : k);
  for (const key of ['scan', 'rt', 'mz', 'rt_y', 'xic_y', 'mz_y']) writeState(key, null);
  openAgain(fragment());
  return new Promise(() => {});  // the page goes
}

async function start() {
  const runs = await fetchRuns();
  const usable = runs.filter((r) => r.error === null);
  const asked = /^\d{1,2}$/.test(readState('run') ?? '') ? Number(readState('run')) : 0;
  runPosition = usable.some((r) => r.run === asked) ? asked : usable[0].run;
  const [run, scans] = await Promise.all([fetchRun(runPosition), fetchScans(runPosition)]);
  showSummary(run, scans);
  let overlay = null;
  if (runs.length > 1) {
    showRunSelector($('run-select'), runs, runPosition, showRun);
    $('overlay-panel').hidden = false;
    overlay = new Overlay($('overlay'), $('run-legend'), runs, {
      onDrawn: () => { window.velmoranOverlayMs = performance.now(); },
      hidden: (readState('hide') ?? '').split(',').filter((t) => /^\d{1,2}$/.test(t)).map(Number),
      onHidden: (list) => writeState('hide', list.join(',')),
      // The overlay is the same whichever run is selected: its zooms stay.
      view: { rt: readRange('ov_rt'), y: readRange('ov_y'), xicY: readRange('ov_xic_y') },
      onView: (key, range) => writeRange(`ov_${key}`, range),
    });
    overlay.setSelected(runPosition);
    overlay.setKind(readState('trace') === 'bpc' ? 'bpc' : 'tic');
    $('overlay-normalise').checked = readState('norm') === '1';
    overlay.setNormalise($('overlay-normalise').checked);
    $('overlay-normalise').addEventListener('change', (event) => {
      overlay.setNormalise(event.target.checked);
      writeState('norm', event.target.checked ? '1' : null);
    });
    overlay.load().catch((error) => {
      $('run-legend').textContent = `Could not load the runs' chromatograms: ${error.message}`;
    });
  }
  const table = new ScanTable($('scans-panel'), { onSelect: (index) => select(index) });

  // The view the URL's fragment asks for, read before any part writes.
  const wanted = {
    scan: readState('scan'), rt: readRange('rt'), mz: readRange('mz'), xic: readState('xic'),
    tol: readState('tol'), unit: readState('unit'), level: readState('level'),
    trace: readState('trace'), axis: readState('axis'), lock: readState('lock'),
    rtIntensity: readRange('rt_y'), mzIntensity: readRange('mz_y'), xicIntensity: readRange('xic_y'),
  };
  if (AXIS_MODES.includes(wanted.axis)) setAxisMode(wanted.axis);
  $('axis-mode').value = axisMode();

  const spectrumView = new SpectrumView($('spectrum'), $('readout'), {
    onView: (range) => writeRange('mz', range),
    onIntensityView: (range) => writeRange('mz_y', range),
  });
  spectrumView.yZoom.range = wanted.mzIntensity;
  spectrumView.lock = wanted.lock !== '0';
  $('spectrum-lock').checked = spectrumView.lock;
  if (wanted.mz) spectrumView.zoom = wanted.mz;
  let selected = null;
  let latest = 0;
  // The last XIC's rows as the API gave them (for the CSV), and a summary.
  let xicRows = null;
  let xicSummary = '';

  // Selects the scan at table index `index`; resolves once its spectrum is drawn.
  async function select(index) {
    if (index < 0 || index >= scans.length) return;
    selected = index;
    writeState('scan', index === 0 ? null : index);  // the first scan is the default
    chromatogram.select(index);
    map.select(index);
    table.select(index);
    const request = ++latest;
    let spectrum;
    try {
      spectrum = await spectrumAt(index);
    } catch (error) {  // the scan could not be read: its error, in place of the spectrum
      if (request !== latest) return;
      $('spectrum-title').textContent = `Scan ${scans[index].scan_id} · ${error.message}`;
      await spectrumView.showUnreadable(error.message);
      return;
    }
    if (request !== latest) return;  // a later selection won
    const drawn = spectrumView.show(spectrum);
    $('spectrum-title').textContent = spectrumTitle(spectrum, spectrumView.leftOut);
    await drawn;
  }

  const chromatogram = new Chromatogram($('chromatogram'), scans, {
    onSelect: (index) => select(index),
    onFirstDraw: () => {
      // Milliseconds since navigation began, for the benchmark.
      window.velmoranReadyMs = performance.now();
      window.velmoranReady = true;
    },
    onView: (range) => {
      writeRange('rt', range);
      showXicStatus();
    },
    onIntensityView: (range) => writeRange('rt_y', range),
    onXicIntensityView: (range) => writeRange('xic_y', range),
    color: runs.length > 1 ? colorOf(runPosition) : undefined,
  });
  if (wanted.rtIntensity) {
    chromatogram.yZoom.range = wanted.rtIntensity;
    chromatogram.build();
  }
  table.setScans(scans);
  // When the first table is drawn, for the benchmark.
  window.velmoranTableMs = performance.now();

  const map = new RunMap($('map'), scans, {
    onSelect: (index) => select(index), level: $('map-level'), precursors: $('map-precursors'),
    readout: $('map-readout'), name: run.name, run: runPosition,
    exports: { png: $('map-png'), svg: $('map-svg'), csv: $('map-csv') },
  });
  const mapLoaded = map.load();

  for (const input of document.querySelectorAll('#trace-kind input')) {
    input.checked = input.value === (wanted.trace === 'bpc' ? 'bpc' : 'tic');
    input.addEventListener('change', () => {
      chromatogram.setKind(input.value);
      overlay?.setKind(input.value);
      writeState('trace', input.value === 'tic' ? null : input.value);
    });
  }
  if (wanted.trace === 'bpc') chromatogram.setKind('bpc');

  $('axis-mode').addEventListener('change', () => setAxisMode($('axis-mode').value));
  onAxisMode((mode) => {
    writeState('axis', mode === 'linear' ? null : mode);
    // Intensity zooms are ranges of one axis; another axis starts whole.
    for (const [zoom, key] of [[chromatogram.yZoom, 'rt_y'], [chromatogram.xicZoom, 'xic_y'],
                               [spectrumView.yZoom, 'mz_y']]) {
      zoom.range = null;
      writeState(key, null);
    }
    chromatogram.build();
    spectrumView.rebuild();
  });
  $('spectrum-lock').addEventListener('change', () => {
    spectrumView.lock = $('spectrum-lock').checked;
    writeState('lock', spectrumView.lock ? null : '0');
  });
  $('spectrum-reset').addEventListener('click', () => spectrumView.resetZoom());

  listenForKeys({
    scans, select, selected: () => selected, resetZoom: () => spectrumView.resetZoom(),
  });

  const levelChoice = $('xic-level');
  for (const level of [...new Set(scans.map((s) => s.ms_level))].sort((a, b) => a - b)) {
    levelChoice.add(new Option(`MS${level}`, String(level), false, level === chromatogram.level));
  }

  function showXicStatus() {
    if (!xicRows) return;
    const highest = chromatogram.xicHighestInView();
    $('xic-status').textContent = `${xicSummary}, highest ${formatIntensity(highest)} counts` +
      (chromatogram.xRange() ? ' in view' : '');
  }

  async function extract() {
    const status = $('xic-status');
    const mzs = parseMzList($('xic-mz').value);
    const tolerance = Number($('xic-tolerance').value);
    const unit = $('xic-unit').value === 'da' ? 'da' : 'ppm';
    const level = Number(levelChoice.value);
    status.className = '';
    if (!mzs || mzs.length > 100 || !Number.isFinite(tolerance) || !(tolerance > 0)) {
      status.className = 'error';
      status.textContent = 'Give 1 to 100 m/z values and a tolerance above 0.';
      return;
    }
    status.textContent = 'extracting…';
    try {
      const [rows] = await Promise.all([fetchXic(mzs, tolerance, unit, level, runPosition),
                                        overlay?.setXics(mzs, tolerance, unit, level)]);
      writeState('xic', mzs.join(','));
      writeState('tol', tolerance);
      writeState('unit', unit === 'ppm' ? null : unit);
      writeState('level', level);
      if (level !== chromatogram.level) chromatogram.setLevel(level);
      const byTarget = new Map(mzs.map((mz) => [mz, new Array(chromatogram.times.length).fill(null)]));
      for (const row of rows) {
        const position = chromatogram.positionOfScanId.get(row.scan_id);
        const values = byTarget.get(row.target);
        if (values && position !== undefined) values[position] = row.intensity;
      }
      chromatogram.setXics([...byTarget].map(([target, values]) => ({ target, values })));
      xicRows = rows;
      $('xic-csv').disabled = false;
      xicSummary = `${mzs.length} XIC${mzs.length > 1 ? 's' : ''} at MS${level} ` +
        `± ${tolerance} ${unit === 'da' ? 'Da' : 'ppm'}`;
      showXicStatus();
    } catch (error) {
      status.className = 'error';
      status.textContent = error.message;
    }
  }
  $('xic-form').addEventListener('submit', (event) => {
    event.preventDefault();
    extract();
  });
  $('xic-clear').addEventListener('click', () => {
    chromatogram.xicZoom.range = null;
    chromatogram.setXics([]);
    overlay?.setXics([]);
    xicRows = null;
    $('xic-csv').disabled = true;
    $('xic-status').textContent = '';
    for (const key of ['xic', 'tol', 'unit', 'level', 'xic_y']) writeState(key, null);
  });
  wireExports({ run, chromatogram, spectrumView, xicRows: () => xicRows });

  await showChannels(run, $('chromatogram-panel'), (index) => select(index), runPosition);

  // For tests and benchmarks: select a scan and wait until it is drawn.
  window.velmoranView = { select, scanCount: scans.length, spectrumView, chromatogram,
                          map, mapLoaded, run: runPosition, selectRun: showRun, overlay };

  // The rest of the view the URL asks for: the XICs (which may change the
  // trace's level), the retention-time zoom, the scan.
  if (wanted.xic !== null && parseMzList(wanted.xic)) {
    $('xic-mz').value = parseMzList(wanted.xic).slice(0, 100).join(', ');
    const tol = Number(wanted.tol);
    if (wanted.tol !== null && Number.isFinite(tol) && tol > 0) $('xic-tolerance').value = String(tol);
    $('xic-unit').value = wanted.unit === 'da' ? 'da' : 'ppm';
    if ([...levelChoice.options].some((o) => o.value === wanted.level)) levelChoice.value = wanted.level;
    await extract();
    if (wanted.xicIntensity && chromatogram.xics.length) {
      chromatogram.xicZoom.range = wanted.xicIntensity;
      chromatogram.build();
    }
  }
  if (wanted.rt) chromatogram.setXRange(wanted.rt);
  const scan = /^\d{1,9}$/.test(wanted.scan ?? '') ? Number(wanted.scan) : 0;
  await select(scan < scans.length ? scan : 0);
}

start().catch((error) => {
  $('spectrum-title').textContent = `Could not load the run: ${error.message}`;
  throw error;
});
