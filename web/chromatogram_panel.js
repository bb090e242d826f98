// The chromatogram's panel: the run's trace (TIC or BPC, #trace-kind) with
// its zooms kept in the URL (rt, rt_y, xic_y, trace). window.velmoranReady
// becomes true once it is first drawn.
import { onAxisMode } from './axes.js';
import { Chromatogram } from './chromatogram.js';
import { readState, writeState } from './url_state.js';

// onSelect(index) with the table index of a scan clicked; onView() after a
// zoom in time; overlay: the runs' overlay (null with one run), whose
// trace kind follows this one's.
export function showChromatogram(scans, { onSelect, onView, color, overlay }) {
  // Read before the chart reports its first view.
  const wanted = { rt: readState('rt'), y: readState('rt_y') };
  const chromatogram = new Chromatogram(document.getElementById('chromatogram'), scans, {
    onSelect,
    onFirstDraw: () => {
      // Milliseconds since navigation began, for the benchmark.
      window.velmoranReadyMs = performance.now();
      window.velmoranReady = true;
    },
    onView: (range) => {
      writeState('rt', range);
      onView();
    },
    onIntensityView: (range) => writeState('rt_y', range),
    onXicIntensityView: (range) => writeState('xic_y', range),
    color,
    yRange: wanted.y,
  });
  const kind = readState('trace');
  for (const input of document.querySelectorAll('#trace-kind input')) {
    input.checked = input.value === kind;
    input.addEventListener('change', () => {
      chromatogram.setKind(input.value);
      overlay?.setKind(input.value);
      writeState('trace', input.value);
    });
  }
  if (kind !== 'tic') chromatogram.setKind(kind);
  // Intensity zooms are ranges of one axis; another axis starts whole.
  onAxisMode(() => {
    chromatogram.clearIntensityZooms();
    chromatogram.build();
  });
  // The time zoom asked for, once the XICs (which may change the trace's
  // level, and so the chart) are drawn.
  chromatogram.restoreView = () => chromatogram.setXRange(wanted.rt);
  return chromatogram;
}
