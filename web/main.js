// velmoran view: loads the run's summary and scan table and wires the
// panels, each of which owns its controls and its keys in the URL:
// the runs (runs_panel.js), the chromatogram (chromatogram_panel.js), the
// XIC box (xic_panel.js), the spectrum (spectrum_panel.js), the map
// (map.js), the scan table (scan_table.js), an MRM run's channels
// (channels.js). Selecting a scan, anywhere, goes through select().
import { fetchRun, fetchRuns, fetchScans } from './api.js';
import { wireAxisMode } from './axes.js';
import { showChannels } from './channels.js';
import { wireExports } from './chart_export.js';
import { showChromatogram } from './chromatogram_panel.js';
import { listenForKeys } from './keys.js';
import { RunMap } from './map.js';
import { colorOf } from './runs.js';
import { chosenRun, showRun, showRuns } from './runs_panel.js';
import { ScanTable } from './scan_table.js';
import { SpectrumPanel } from './spectrum_panel.js';
import { showSummary } from './summary.js';
import { readState, writeState } from './url_state.js';
import { XicPanel } from './xic_panel.js';

const $ = (id) => document.getElementById(id);

async function start() {
  const runs = await fetchRuns();
  const position = chosenRun(runs);
  const [run, scans] = await Promise.all([fetchRun(position), fetchScans(position)]);
  const wantedScan = readState('scan');
  showSummary(run, scans);
  // The axis first: a change of axis clears the intensity zooms of the
  // charts listening, and the URL's are not a change.
  wireAxisMode($('axis-mode'));
  const overlay = showRuns(runs, position);

  let selected = null;
  // Selects the scan at table index `index`; resolves once its spectrum is drawn.
  async function select(index) {
    if (index < 0 || index >= scans.length) return;
    selected = index;
    writeState('scan', index);
    chromatogram.select(index);
    map.select(index);
    table.select(index);
    await spectrum.show(index);
  }

  const table = new ScanTable($('scans-panel'), { onSelect: select });
  const spectrum = new SpectrumPanel(position, scans);
  let xic = null;
  const chromatogram = showChromatogram(scans, {
    onSelect: select, onView: () => xic?.showStatus(), overlay,
    color: runs.length > 1 ? colorOf(position) : undefined,
  });
  table.setScans(scans);
  // When the first table is drawn, for the benchmark.
  window.velmoranTableMs = performance.now();
  const map = new RunMap($('map'), scans, {
    onSelect: select, level: $('map-level'), precursors: $('map-precursors'),
    readout: $('map-readout'), run: position,
  });
  const mapLoaded = map.load();
  xic = new XicPanel(chromatogram, overlay, position, scans);

  listenForKeys({
    scans, select, selected: () => selected, resetZoom: () => spectrum.view.resetZoom(),
  });
  wireExports({ run, chromatogram, spectrumView: spectrum.view, map, xicRows: () => xic.rows });
  await showChannels(run, $('chromatogram-panel'), select, position);

  // For tests and benchmarks: select a scan and wait until it is drawn.
  window.velmoranView = { select, scanCount: scans.length, spectrumView: spectrum.view, chromatogram,
                          map, mapLoaded, run: position, selectRun: showRun, overlay };

  // The rest of the view the URL asks for: the XICs (which may change the
  // trace's level), the retention-time zoom, the scan.
  await xic.restore();
  chromatogram.restoreView();
  await select(wantedScan < scans.length ? wantedScan : 0);
}

start().catch((error) => {
  $('spectrum-title').textContent = `Could not load the run: ${error.message}`;
  throw error;
});
