// With several runs: the selector of the run shown (run), the overlay of
// every run's chromatogram with its legend and scaling (hide, norm) and its
// zooms (ov_rt, ov_y, ov_xic_y), which stay whichever run is shown.
import { openAgain } from './api.js';
import { Overlay, showRunSelector } from './runs.js';
import { clearRunState, fragment, keepChecked, readState, writeState } from './url_state.js';

const $ = (id) => document.getElementById(id);

// The position of the run to show: the one the URL asks for when it could
// be opened, else the first that could.
export function chosenRun(runs) {
  const usable = runs.filter((r) => r.error === null);
  const asked = readState('run');
  return usable.some((r) => r.run === asked) ? asked : usable[0].run;
}

// Opens the page again on run `k`, keeping the page's choices and leaving
// the run's own state (its scan, its zooms).
export function showRun(k) {
  writeState('run', k);
  clearRunState();
  openAgain(fragment());
  return new Promise(() => {});  // the page goes
}

// The selector and the overlay (null with one run).
export function showRuns(runs, position) {
  if (runs.length < 2) return null;
  showRunSelector($('run-select'), runs, position, showRun);
  $('overlay-panel').hidden = false;
  const overlay = new Overlay($('overlay'), $('run-legend'), runs, {
    onDrawn: () => { window.velmoranOverlayMs = performance.now(); },
    hidden: readState('hide'),
    onHidden: (list) => writeState('hide', list),
    view: { rt: readState('ov_rt'), y: readState('ov_y'), xicY: readState('ov_xic_y') },
    onView: (key, range) => writeState(`ov_${key}`, range),
  });
  overlay.setSelected(position);
  overlay.setKind(readState('trace'));
  keepChecked($('overlay-normalise'), 'norm', (on) => overlay.setNormalise(on));
  overlay.load().catch((error) => {
    $('run-legend').textContent = `Could not load the runs' chromatograms: ${error.message}`;
  });
  return overlay;
}
