// The run as an RT × m/z map: the grid that /api/map bins on the server,
// drawn by uPlot (axes, ticks, crosshair, drag to zoom) while its draw hook
// paints the cells on the plot's canvas with a log colour scale and its
// legend, fragment precursors as marks, the selected scan as a dashed line.
// A drag zooms (the server bins the new range), a double-click goes back
// to the whole run, a click selects the scan of the map's level nearest in
// time; the readout gives the RT, m/z and intensity under the cursor. Its
// zoom, level and marks are kept in the URL (map_rt, map_mz, map_level,
// map_marks); chart_export.js saves it as PNG, SVG and CSV.
import uPlot from 'uplot';
import { LITTLE_ENDIAN, fetchMap } from './api.js';
import { chartSize, onPlotClick, saneScale, verticalLine } from './axes.js';
import { element } from './dom.js';
import { chartSvg, csvText, escapeXml, plotBox } from './export.js';
import { formatIntensity } from './format.js';
import { levelsOf, nearestByTime, surveyLevel } from './scans.js';
import { keepChecked, readState, saneRange, writeState } from './url_state.js';

const HEIGHT = 420;
// Room at the right of the plot for the colour legend, in CSS pixels.
const LEGEND_PX = 92;
const LEGEND_BAR_PX = 12;
// Cells of the viridis ramp, low to high.
const RAMP = ['#440154', '#482878', '#3e4989', '#31688e', '#26828e', '#1f9e89', '#35b779',
              '#6ece58', '#b5de2b', '#fde725'].map((hex) => [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)));
const EMPTY = [255, 255, 255];
// The colour scale spans at most this many decades below the highest cell.
const DECADES = 5;
const INK = '#1d2433';
const MARK = '#c2410c';
// A press and release closer than this (CSS pixels) is a click, not a drag.
const CLICK_PX = 4;

function rampColor(t) {
  const x = Math.min(1, Math.max(0, t)) * (RAMP.length - 1);
  const i = Math.min(RAMP.length - 2, Math.floor(x));
  const f = x - i;
  return RAMP[i].map((c, k) => Math.round(c + (RAMP[i + 1][k] - c) * f));
}

// The shortest text that reads back to the same float32: the value the
// API sent, not rounded again.
export function float32Text(value) {
  for (let digits = 1; digits < 10; digits++) {
    const text = String(Number(value.toPrecision(digits)));
    if (Math.fround(Number(text)) === value) return text;
  }
  return String(value);
}

// The edges of an axis's cells as the server defines them.
export function cellEdges([lo, hi], cells) {
  const edges = [];
  for (let k = 0; k < cells; k++) edges.push(lo + (hi - lo) * k / cells);
  edges[0] = lo;
  edges.push(hi);
  return edges;
}

// The colour of each cell (log scale), one pixel a cell, first row the
// highest m/z, on a canvas of the grid's size; and the scale's ends.
function rasterize(grid) {
  let lowest = Infinity;
  for (const v of grid.cells) if (v > 0 && v < lowest) lowest = v;
  const high = grid.highest > 0 && Number.isFinite(grid.highest) ? grid.highest : 1;
  const low = Math.max(Number.isFinite(lowest) ? lowest : high, high / 10 ** DECADES);
  // 256 colours; a cell's is found by bisection over the values where the
  // colour changes (no logarithm per cell), written as one 32-bit word.
  const logLow = Math.log(low);
  const span = Math.log(high) - logLow || 1;
  const pack = ([r, g, b]) => (LITTLE_ENDIAN ? ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0
    : ((r << 24) | (g << 16) | (b << 8) | 255) >>> 0);
  const colors = Uint32Array.from({ length: 256 }, (_, i) => pack(rampColor(i / 255)));
  const bounds = Float64Array.from({ length: 255 }, (_, i) => Math.exp(logLow + span * (i + 0.5) / 255));
  const empty = pack(EMPTY);
  const image = new ImageData(grid.width, grid.height);
  const pixels = new Uint32Array(image.data.buffer);
  const cells = grid.cells;
  for (let i = 0; i < cells.length; i++) {
    const v = cells[i];
    if (!(v > 0)) {
      pixels[i] = empty;
      continue;
    }
    let lo = 0;
    let hi = 255;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (v < bounds[mid]) hi = mid; else lo = mid + 1;
    }
    pixels[i] = colors[lo];
  }
  const raster = element('canvas', { width: grid.width, height: grid.height });
  raster.getContext('2d').putImageData(image, 0, 0);
  return { raster, scale: { low, high } };
}

// The legend's decades between the scale's ends: [value, fraction from the
// bottom]. At most one a decade of a finite range (DECADES and one).
function legendTicks({ low, high }) {
  const span = Math.log(high) - Math.log(low) || 1;
  const out = [];
  const first = Math.ceil(Math.log10(low));
  for (let p = first; p <= first + DECADES && 10 ** p <= high; p++) {
    out.push([10 ** p, (Math.log(10 ** p) - Math.log(low)) / span]);
  }
  return out;
}

export class RunMap {
  // element: the map's box; scans: the rows of /api/scans; onSelect(index)
  // with the table index of the scan a click picks. controls: the level
  // <select>, the precursor check box and the readout.
  constructor(element, scans, { onSelect, level, precursors, readout, run = 0 }) {
    // run: the run's position among the server's runs.
    Object.assign(this, { element, run, scans, onSelect, readout, precursorBox: precursors });
    this.range = { rt: readState('map_rt'), mz: readState('map_mz') };
    Object.assign(this, { grid: null, selected: null, request: 0, drawMs: null, paintStart: null,
                          loading: Promise.resolve() });

    const levels = levelsOf(scans);
    this.defaultLevel = surveyLevel(scans);
    const wantedLevel = readState('map_level');
    this.level = levels.includes(wantedLevel) ? wantedLevel : this.defaultLevel;
    for (const l of levels) level.add(new Option(`MS${l}`, String(l), false, l === this.level));
    level.addEventListener('change', () => {
      this.level = Number(level.value);
      writeState('map_level', this.level === this.defaultLevel ? null : this.level);
      this.zoom({ rt: null, mz: null });
    });
    keepChecked(precursors, 'map_marks', () => this.plot?.redraw(false));
    this.plot = new uPlot(this.options(), [[0, 1], [0, 1]], element);
    this.listen(this.plot);
    let resizing = null;
    window.addEventListener('resize', () => {
      clearTimeout(resizing);
      resizing = setTimeout(() => {
        this.plot.setSize(chartSize(this.element, HEIGHT, 360));
        this.load();
      }, 200);
    });
  }

  options() {
    const gridRange = (key) => () => (this.grid ? this.grid[key] : [0, 1]);
    return {
      ...chartSize(this.element, HEIGHT, 360),
      padding: [8, LEGEND_PX, 0, 0],
      legend: { show: false },
      // The cells are paintCells': the one series only carries the scales.
      series: [{}, { show: false }],
      scales: { x: saneScale(gridRange('rt')), y: saneScale(gridRange('mz')) },
      axes: [
        { label: 'retention time (s)', grid: { show: false } },
        { label: 'm/z', grid: { show: false }, size: 64 },
      ],
      cursor: { drag: { x: true, y: true, setScale: false }, points: { show: false } },
      hooks: {
        setSelect: [(u) => this.zoomToSelection(u)],
        setCursor: [(u) => this.showReadout(u)],
        draw: [(u) => this.paintCells(u)],
      },
    };
  }

  // The plot area in CSS pixels, from the map's top left corner.
  area() {
    return plotBox(this.plot);
  }

  levelScans() {
    return this.scans.filter((s) => s.ms_level === this.level && Number.isFinite(s.rt_sec));
  }

  // Fetches the grid of the current range at about one cell a pixel (no
  // more columns than scans in the range: the others would be empty);
  // resolves once it is painted. `loading` is the latest such promise.
  load() {
    this.loading = this.fetchAndPaint();
    return this.loading;
  }

  async fetchAndPaint() {
    const { w, h } = this.area();
    const inRange = this.levelScans().filter((s) => !this.range.rt ||
      (s.rt_sec >= this.range.rt[0] && s.rt_sec <= this.range.rt[1])).length;
    const params = { width: Math.max(1, Math.min(4096, Math.round(w), inRange)),
                     height: Math.max(1, Math.min(4096, Math.round(h))), ms_level: this.level };
    if (this.range.rt) params.rt = `${this.range.rt[0]}:${this.range.rt[1]}`;
    if (this.range.mz) params.mz = `${this.range.mz[0]}:${this.range.mz[1]}`;
    const request = ++this.request;
    let grid;
    try {
      grid = await fetchMap(params, this.run);
    } catch (error) {
      if (request === this.request) this.readout.textContent = error.message;
      return;
    }
    if (request !== this.request) return;  // a later range won
    // From here until paintCells has painted the cells (drawMs).
    this.paintStart = performance.now();
    this.grid = grid;
    ({ raster: this.raster, scale: this.scale } = rasterize(grid));
    this.plot.setData([grid.rt, grid.mz]);
    this.readout.textContent = grid.points ? '' : `no points of MS${grid.msLevel} scans in this range`;
  }

  // The fragment scans whose precursor lies in the view (on a map of a
  // level below theirs).
  marks() {
    if (!this.precursorBox.checked || !this.grid) return [];
    const [rt, mz] = [this.grid.rt, this.grid.mz];
    return this.scans.filter((s) => s.ms_level > this.level && s.precursor_mz != null &&
      s.rt_sec >= rt[0] && s.rt_sec <= rt[1] && s.precursor_mz >= mz[0] && s.precursor_mz <= mz[1]);
  }

  select(index) {
    this.selected = index;
    this.plot.redraw(false);
  }

  // Bins another range (null: the level's whole extent) and keeps it in the URL.
  zoom(range) {
    this.range = { rt: range.rt && saneRange(...range.rt), mz: range.mz && saneRange(...range.mz) };
    writeState('map_rt', this.range.rt);
    writeState('map_mz', this.range.mz);
    return this.load();
  }

  // A drag's rectangle: the axes it spans by CLICK_PX or more are zoomed.
  zoomToSelection(u) {
    const { left, top, width, height } = u.select;
    u.setSelect({ left: 0, top: 0, width: 0, height: 0 }, false);
    if (!this.grid || (width < CLICK_PX && height < CLICK_PX)) return;
    const rt = [u.posToVal(left, 'x'), u.posToVal(left + width, 'x')];
    const mz = [u.posToVal(top + height, 'y'), u.posToVal(top, 'y')];
    this.zoom({
      rt: width >= CLICK_PX && rt[0] < rt[1] ? rt : this.range.rt,
      mz: height >= CLICK_PX && mz[0] < mz[1] ? mz : this.range.mz,
    });
  }

  // The cell under the cursor (CSS pixels in the plot), or null outside.
  cellAt(left, top) {
    const g = this.grid;
    const { w, h } = this.area();
    if (!g || !(left >= 0 && left < w && top >= 0 && top < h)) return null;
    const rt = this.plot.posToVal(left, 'x');
    const mz = this.plot.posToVal(top, 'y');
    const column = Math.floor((rt - g.rt[0]) / (g.rt[1] - g.rt[0]) * g.width);
    const row = Math.floor((g.mz[1] - mz) / (g.mz[1] - g.mz[0]) * g.height);
    const inside = column >= 0 && column < g.width && row >= 0 && row < g.height;
    return { rt, mz, value: inside ? g.cells[row * g.width + column] : 0 };
  }

  showReadout(u) {
    const cell = this.cellAt(u.cursor.left, u.cursor.top);
    this.readout.textContent = cell
      ? `RT ${cell.rt.toFixed(2)} s · m/z ${cell.mz.toFixed(4)} · ${cell.value > 0 ? formatIntensity(cell.value) : 'no points'}`
      : '';
  }

  // A click selects the nearest scan; a double-click bins the whole run.
  listen(u) {
    onPlotClick(u, CLICK_PX, () => {
      const cell = this.cellAt(u.cursor.left, u.cursor.top);
      const scan = cell && nearestByTime(this.levelScans(), cell.rt);
      if (scan) this.onSelect(scan.index);
    });
    u.over.addEventListener('dblclick', () => this.zoom({ rt: null, mz: null }));
  }

  // Paints the map on the plot's canvas after uPlot has drawn its axes: the
  // cells, stretched over their ranges with no smoothing, the marks and the
  // selected scan clipped to the plot, and the colour legend at the right.
  paintCells(u) {
    if (!this.grid) return;
    const { ctx, bbox } = u;
    const ratio = devicePixelRatio;
    const [rt, mz] = [this.grid.rt, this.grid.mz];
    const x0 = u.valToPos(rt[0], 'x', true);
    const x1 = u.valToPos(rt[1], 'x', true);
    const y0 = u.valToPos(mz[1], 'y', true);
    const y1 = u.valToPos(mz[0], 'y', true);
    ctx.save();
    ctx.beginPath();
    ctx.rect(bbox.left, bbox.top, bbox.width, bbox.height);
    ctx.clip();
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(this.raster, x0, y0, x1 - x0, y1 - y0);
    ctx.strokeStyle = MARK;
    ctx.lineWidth = ratio;
    for (const s of this.marks()) {
      ctx.beginPath();
      ctx.arc(u.valToPos(s.rt_sec, 'x', true), u.valToPos(s.precursor_mz, 'y', true), 2.5 * ratio, 0, 2 * Math.PI);
      ctx.stroke();
    }
    const selected = this.scans[this.selected];
    if (selected && Number.isFinite(selected.rt_sec)) verticalLine(u, selected.rt_sec, '#111827');
    ctx.restore();
    ctx.save();
    ctx.strokeStyle = INK;
    ctx.lineWidth = ratio;
    ctx.strokeRect(bbox.left - 0.5 * ratio, bbox.top - 0.5 * ratio, bbox.width + ratio, bbox.height + ratio);
    this.paintLegend(ctx, bbox, ratio);
    ctx.restore();
    if (this.paintStart !== null) this.drawMs = performance.now() - this.paintStart;
    this.paintStart = null;
  }

  paintLegend(ctx, bbox, ratio) {
    const x = bbox.left + bbox.width + 14 * ratio;
    const bar = LEGEND_BAR_PX * ratio;
    const ramp = ctx.createLinearGradient(0, bbox.top + bbox.height, 0, bbox.top);
    RAMP.forEach((c, i) => ramp.addColorStop(i / (RAMP.length - 1), `rgb(${c.join(',')})`));
    ctx.fillStyle = ramp;
    ctx.fillRect(x, bbox.top, bar, bbox.height);
    ctx.strokeRect(x - 0.5 * ratio, bbox.top - 0.5 * ratio, bar + ratio, bbox.height + ratio);
    ctx.fillStyle = INK;
    ctx.font = `${11 * ratio}px system-ui, sans-serif`;
    ctx.textAlign = 'left';
    ctx.textBaseline = 'middle';
    for (const [value, f] of legendTicks(this.scale)) {
      const y = bbox.top + (1 - f) * bbox.height;
      ctx.fillRect(x + bar, Math.round(y), 3 * ratio, ratio);
      ctx.fillText(formatIntensity(value), x + bar + 5 * ratio, y);
    }
  }

  // The grid as CSV: a header of the columns' RT edges, then a row per m/z
  // cell (highest first) led by its lower edge; cell values as the API sent
  // them (the shortest text of each float32).
  csv() {
    const g = this.grid;
    if (!g) return '';
    const rows = cellEdges(g.mz, g.height).slice(0, g.height).reverse();
    const columns = [rows];
    for (let c = 0; c < g.width; c++) {
      columns.push(Array.from({ length: g.height }, (_, r) => float32Text(g.cells[r * g.width + c])));
    }
    return csvText(['mz_low\\rt_low_sec', ...cellEdges(g.rt, g.width).slice(0, g.width)], columns);
  }

  // The picture as SVG: uPlot's axes, the grid as an embedded PNG of one
  // pixel a cell, the marks, the selected scan and the legend.
  svg() {
    if (!this.grid) return '';
    const selected = this.scans[this.selected];
    return chartSvg(this.plot, {
      image: { href: this.raster.toDataURL('image/png'), x: this.grid.rt, y: this.grid.mz },
      circles: this.marks().map((s) => ({ x: s.rt_sec, y: s.precursor_mz, color: MARK })),
      marks: selected && Number.isFinite(selected.rt_sec) ? [{ x: selected.rt_sec, color: '#111827', dashed: true }] : [],
      decorate: (box) => {
        const x = box.x + box.w + 14;
        const stops = RAMP.map((c, i) => `<stop offset="${i / (RAMP.length - 1)}" stop-color="rgb(${c.join(',')})"/>`);
        return [
          `<defs><linearGradient id="ramp" x1="0" y1="1" x2="0" y2="0">${stops.join('')}</linearGradient></defs>`,
          `<rect x="${x}" y="${box.y}" width="${LEGEND_BAR_PX}" height="${box.h}" fill="url(#ramp)" stroke="${INK}"/>`,
          ...legendTicks(this.scale).map(([value, f]) => `<text x="${x + LEGEND_BAR_PX + 5}" ` +
            `y="${box.y + (1 - f) * box.h + 4}">${escapeXml(formatIntensity(value))}</text>`),
        ];
      },
    });
  }
}
