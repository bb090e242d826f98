// The intensity axis of every chart: linear from zero, logarithmic, or
// relative (percent of the highest value in view). One choice for the
// whole page: charts subscribe with onAxisMode() and redraw with the
// scale and axis options made here. A y zoom (a range of intensities the
// user dragged out) is kept per chart in a YZoom and wins over the
// automatic range until reset. Every range a chart shows passes through
// saneRange (url_state.js), so no axis is narrower than its ticks can step.
// Also what every chart's set-up shares: its size, series, a click, a line.
import uPlot from 'uplot';
import { element } from './dom.js';
import { formatIntensity } from './format.js';
import { readState, saneRange, writeState } from './url_state.js';

// The data's intensities are detector counts.
export const INTENSITY_LABEL = 'intensity (counts)';

let mode = 'linear';
const listeners = [];

// next: 'linear', 'log' or 'relative' (the URL's key and the <select> hold no other).
function setAxisMode(next) {
  if (next === mode) return;
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
  constructor(range = null) {
    this.range = range ?? null;
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
    axis.splits = (_u, _axisIndex, min, max) => [0, 20, 40, 60, 80, 100]
      .map((p) => (zoom.viewMax * p) / 100).filter((v) => v >= min && v <= max);
    axis.values = (_u, splits) =>
      splits.map((v) => (v == null ? '' : `${Number(((v / zoom.viewMax) * 100).toFixed(1))}%`));
  } else {
    // A log axis labels only some of its ticks (null: no label).
    axis.values = (_u, splits) => splits.map((v) => (v == null ? '' : formatIntensity(v)));
  }
  return axis;
}

// A chart's size: the width of its box (`least` pixels at least), `height` tall.
export const chartSize = (element, height, least = 320) =>
  ({ width: Math.max(least, element.clientWidth), height });

// The legend's retention time, and an intensity line's series.
export const RT_SERIES = { label: 'RT (s)', value: (_u, v) => (v == null ? '–' : v.toFixed(2)) };
export const lineSeries = (label, stroke, extra = {}) => ({
  label, stroke, width: 1.25, spanGaps: true, points: { show: false },
  value: (_u, v) => formatIntensity(v), ...extra,
});

// The x range in view of chart `u`, null before it has one.
export function xRangeOf(u) {
  const x = u?.scales.x;
  return x && Number.isFinite(x.min) && Number.isFinite(x.max) ? [x.min, x.max] : null;
}

// `range` when it leaves out some of `xs` (sorted): a zoom; null otherwise.
export function narrower(range, xs) {
  return range && xs.length && (range[0] > xs[0] || range[1] < xs[xs.length - 1]) ? range : null;
}

// A uPlot chart of intensities in `element`: the x axis labelled `x`
// (scale `xScale`), the intensity axis `y` zoomed through `zoom` (onZoom
// after a zoom) and, with `xic` ({label, zoom, onZoom}), the XICs' axis at
// the right on a scale of its own. A drag zooms in x; `options` are
// uPlot's (series, hooks, ...) over these.
export function intensityChart(element, data, {
  x, y, zoom, onZoom, xic = null, xScale = saneScale(), height, ...options
}) {
  const axes = [{ label: x }, intensityAxis(y, zoom)];
  const scales = { x: xScale, y: intensityScale(zoom) };
  if (xic) {
    axes.push(intensityAxis(xic.label, xic.zoom, { scale: 'xic', side: 1, grid: { show: false } }));
    scales.xic = intensityScale(xic.zoom);
  }
  const plot = new uPlot({
    ...chartSize(element, height), axes, scales,
    cursor: { drag: { x: true, y: false }, points: { show: false } },
    ...options,
  }, data, element);
  enableYZoom(plot, zoom, 1, onZoom);
  // The XICs' axis zooms on its own scale (Shift and a drag across the plot zoom both).
  if (xic) enableYZoom(plot, xic.zoom, 2, xic.onZoom);
  return plot;
}

// A dashed vertical line at `value` on the x scale across the plot of `u`
// (dash in CSS pixels); returns its x on the canvas.
export function verticalLine(u, value, color, dash = [4, 3]) {
  const { ctx, bbox } = u;
  const x = Math.round(u.valToPos(value, 'x', true)) + 0.5;
  ctx.strokeStyle = color;
  ctx.setLineDash(dash.map((d) => d * devicePixelRatio));
  ctx.beginPath();
  ctx.moveTo(x, bbox.top);
  ctx.lineTo(x, bbox.top + bbox.height);
  ctx.stroke();
  return x;
}

// Calls onClick() after a press and release on the plot of `u` less than
// `px` CSS pixels apart: a click, not a drag.
export function onPlotClick(u, px, onClick) {
  let down = null;
  u.over.addEventListener('mousedown', (e) => { down = [e.clientX, e.clientY]; });
  u.over.addEventListener('mouseup', (e) => {
    if (down && Math.abs(e.clientX - down[0]) < px && Math.abs(e.clientY - down[1]) < px) onClick();
  });
}

// Zoom in y on chart `u` (scale `scaleKey`): drag on the y axis, or drag
// across the plot with Shift held. Double-click returns to the automatic
// range. `changed` is called after the range changes.
export function enableYZoom(u, zoom, axisIndex, changed) {
  const over = u.over;
  const band = element('div', { className: 'y-zoom-band', hidden: true });
  over.append(band);
  let start = null;

  // The pointer's height in the plot, held inside it.
  const topOf = (event) =>
    Math.min(Math.max(event.clientY - over.getBoundingClientRect().top, 0), over.clientHeight);
  const begin = (event) => {
    if (event.button !== 0) return;
    start = topOf(event);
    event.preventDefault();
    event.stopPropagation();
    window.addEventListener('mousemove', move);
    window.addEventListener('mouseup', end, { once: true });
  };
  const move = (event) => {
    const now = topOf(event);
    band.hidden = false;
    band.style.top = `${Math.min(start, now)}px`;
    band.style.height = `${Math.abs(now - start)}px`;
  };
  const end = (event) => {
    window.removeEventListener('mousemove', move);
    band.hidden = true;
    const now = topOf(event);
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
