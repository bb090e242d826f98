// The intensity axis of every chart: linear from zero, logarithmic, or
// relative (percent of the highest value in view). One choice for the
// whole page: charts subscribe with onAxisMode() and redraw with the
// scale and axis options made here. A y zoom (a range of intensities the
// user dragged out) is kept per chart in a YZoom and wins over the
// automatic range until reset. Every range a chart shows passes through
// saneRange (url_state.js), so no axis is narrower than its ticks can step.
import uPlot from 'uplot';
import { formatIntensity } from './format.js';
import { readState, saneRange, writeState } from './url_state.js';

export const AXIS_MODES = ['linear', 'log', 'relative'];
// The data's intensities are detector counts.
export const INTENSITY_LABEL = 'intensity (counts)';

let mode = 'linear';
const listeners = [];

export function axisMode() {
  return mode;
}

export function setAxisMode(next) {
  if (!AXIS_MODES.includes(next) || next === mode) return;
  mode = next;
  for (const listener of listeners) listener(mode);
}

export function onAxisMode(listener) {
  listeners.push(listener);
}

// The page's choice (#axis-mode), kept in the URL (axis).
export function wireAxisMode(select) {
  setAxisMode(readState('axis'));
  select.value = mode;
  select.addEventListener('change', () => setAxisMode(select.value));
  onAxisMode((next) => writeState('axis', next));
}

// uPlot options of a scale of numbers whose range, as `range` gives it
// (by default the one uPlot chose from the data, a drag or setScale), is
// made one an axis can show.
export function saneScale(range = (_u, min, max) => [min, max]) {
  return {
    time: false,
    range: (u, min, max) => {
      const [low, high] = range(u, min, max);
      return low == null || high == null ? [low, high] : saneRange(low, high) ?? [low, high];
    },
  };
}

// A chart's intensities as drawn: on a log axis, values at or below zero
// have no place and are left out (null: a gap in a line, no stick).
export function drawnValues(values) {
  if (mode !== 'log') return values;
  return values.map((v) => (v > 0 ? v : null));
}

// The y range a user dragged out on one chart, or null for automatic.
export class YZoom {
  constructor() {
    this.range = null;
    // The highest value in view when last ranged (relative axis labels).
    this.viewMax = 1;
  }
}

// uPlot scale options for an intensity scale ranged through `zoom`.
export function intensityScale(zoom) {
  const log = mode === 'log';
  return {
    distr: log ? 3 : 1,
    log: 10,
    range: (_u, min, max) => {
      zoom.viewMax = Number.isFinite(max) && max > 0 ? max : 1;
      // A range reaching zero or below has no place on a log axis.
      if (zoom.range && !(log && zoom.range[0] <= 0)) return zoom.range;
      if (log) {
        if (!(max > 0)) return [1, 10];
        const low = min > 0 ? min : max / 1000;
        return uPlot.rangeLog(low, max, 10, true);
      }
      return saneRange(0, max > 0 ? max * 1.05 : 1) ?? [0, 1];
    },
  };
}

// uPlot axis options for an intensity axis labelled `label` (with its unit).
export function intensityAxis(label, zoom, extra = {}) {
  const axis = { label, size: 70, ...extra };
  if (mode === 'relative') {
    // Short enough for the height of a chart.
    axis.label = `${label.startsWith('XIC') ? 'XIC, ' : ''}% of highest in view`;
    // Ticks at round percentages of the highest value in view.
    axis.splits = (u, axisIndex, min, max) => {
      const top = zoom.viewMax;
      const ticks = [];
      for (let p = 0; p <= 100; p += 20) {
        const v = (top * p) / 100;
        if (v >= min && v <= max) ticks.push(v);
      }
      return ticks;
    };
    axis.values = (_u, splits) =>
      splits.map((v) => (v == null ? '' : `${Number(((v / zoom.viewMax) * 100).toFixed(1))}%`));
  } else {
    // A log axis labels only some of its ticks (null: no label).
    axis.values = (_u, splits) => splits.map((v) => (v == null ? '' : formatIntensity(v)));
  }
  return axis;
}

// Zoom in y on chart `u` (scale `scaleKey`): drag on the y axis, or drag
// across the plot with Shift held. Double-click returns to the automatic
// range. `changed` is called after the range changes.
export function enableYZoom(u, zoom, axisIndex, changed) {
  const over = u.over;
  const band = document.createElement('div');
  band.className = 'y-zoom-band';
  band.hidden = true;
  over.append(band);
  let start = null;

  const topOf = (event) => event.clientY - over.getBoundingClientRect().top;
  const begin = (event) => {
    if (event.button !== 0) return;
    start = Math.min(Math.max(topOf(event), 0), over.clientHeight);
    event.preventDefault();
    event.stopPropagation();
    window.addEventListener('mousemove', move);
    window.addEventListener('mouseup', end, { once: true });
  };
  const move = (event) => {
    const now = Math.min(Math.max(topOf(event), 0), over.clientHeight);
    band.hidden = false;
    band.style.top = `${Math.min(start, now)}px`;
    band.style.height = `${Math.abs(now - start)}px`;
  };
  const end = (event) => {
    window.removeEventListener('mousemove', move);
    band.hidden = true;
    const now = Math.min(Math.max(topOf(event), 0), over.clientHeight);
    const from = start;
    start = null;
    if (Math.abs(now - from) < 5) return;
    const key = u.axes[axisIndex].scale;
    const values = [u.posToVal(from, key), u.posToVal(now, key)].sort((a, b) => a - b);
    if (!(values[1] > values[0])) return;
    zoom.range = saneRange(...values);
    if (!zoom.range) return;
    rerange(u);
    changed?.();
  };
  u.axes[axisIndex]._el?.addEventListener('mousedown', begin);
  // Capture: before uPlot's own drag (x zoom) sees the press.
  over.addEventListener('mousedown', (event) => { if (event.shiftKey) begin(event); }, true);
  over.addEventListener('dblclick', () => {
    if (!zoom.range) return;
    zoom.range = null;
    rerange(u);
    changed?.();
  });
}

// Ranges the y scales again for the current x range.
export function rerange(u) {
  const { min, max } = u.scales.x;
  if (Number.isFinite(min) && Number.isFinite(max)) u.setScale('x', { min, max });
  else u.redraw(true);
}
