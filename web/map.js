// The run as an RT × m/z map: the grid that /api/map bins on the server,
// painted on a canvas with a log colour scale and its legend, fragment
// precursors as marks, the selected scan as a dashed line. Drag to zoom
// (the server bins the new range), double-click to go back to the whole
// run, click to select the scan of the map's level nearest in time; the
// readout gives the RT, m/z and intensity under the cursor. Exports the
// picture as PNG or SVG and the grid as CSV with the values the API gave.
import { fetchMap } from './api.js';
import { formatIntensity } from './format.js';
import { readState, saneRange, writeState } from './url_state.js';

// The plot's margins in CSS pixels: m/z labels left, RT labels below, the
// legend right.
const MARGIN = { left: 64, right: 92, top: 8, bottom: 40 };
const HEIGHT = 380;
// Cells of the viridis ramp, low to high.
const RAMP = ['#440154', '#482878', '#3e4989', '#31688e', '#26828e', '#1f9e89', '#35b779',
              '#6ece58', '#b5de2b', '#fde725'].map((hex) => [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)));
const EMPTY = [255, 255, 255];
// The colour scale spans at most this many decades below the highest cell.
const DECADES = 5;
const INK = '#1d2433';
const MARK = '#c2410c';

function rampColor(t) {
  const x = Math.min(1, Math.max(0, t)) * (RAMP.length - 1);
  const i = Math.min(RAMP.length - 2, Math.floor(x));
  const f = x - i;
  return RAMP[i].map((c, k) => Math.round(c + (RAMP[i + 1][k] - c) * f));
}

// Tick values for a range, at a step of 1, 2 or 5 times a power of ten.
function ticks(lo, hi, count) {
  const raw = (hi - lo) / Math.max(1, count);
  const power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw) ?? raw;
  const out = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi; v += step) out.push(Number(v.toPrecision(12)));
  return out;
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

function download(name, blob) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

export class RunMap {
  // scans: the rows of /api/scans; onSelect(index) with the table index of
  // the scan a click picks. controls: the level <select>, the precursor
  // check box, the readout and the export buttons.
  constructor(canvas, scans, { onSelect, level, precursors, readout, exports, name, run = 0 }) {
    this.canvas = canvas;
    this.run = run;  // the run's position among the server's runs
    this.scans = scans;
    this.onSelect = onSelect;
    this.readout = readout;
    this.name = name;
    this.precursorBox = precursors;
    // The zoom, level and marks kept in the URL's fragment (map_rt, map_mz,
    // map_level, map_marks=0).
    this.range = { rt: readState('map_rt'), mz: readState('map_mz') };
    this.grid = null;
    this.selected = null;
    this.request = 0;
    this.drawMs = null;

    const levels = [...new Set(scans.map((s) => s.ms_level))].sort((a, b) => a - b);
    this.defaultLevel = levels.includes(1) ? 1 : (levels[0] ?? 1);
    const wantedLevel = readState('map_level');
    this.level = levels.includes(wantedLevel) ? wantedLevel : this.defaultLevel;
    for (const l of levels) level.add(new Option(`MS${l}`, String(l), false, l === this.level));
    level.addEventListener('change', () => {
      this.level = Number(level.value);
      writeState('map_level', this.level === this.defaultLevel ? null : this.level);
      this.zoom({ rt: null, mz: null });
    });
    precursors.checked = readState('map_marks');
    precursors.addEventListener('change', () => {
      writeState('map_marks', precursors.checked);
      this.paint();
    });
    exports.png.addEventListener('click', () => this.canvas.toBlob((b) => download(`${this.name}-map.png`, b)));
    exports.svg.addEventListener('click', () => download(`${this.name}-map.svg`,
      new Blob([this.svg()], { type: 'image/svg+xml' })));
    exports.csv.addEventListener('click', () => download(`${this.name}-map.csv`,
      new Blob([this.csv()], { type: 'text/csv' })));
    this.listen();
    let resizing = null;
    window.addEventListener('resize', () => {
      clearTimeout(resizing);
      resizing = setTimeout(() => this.load(), 200);
    });
  }

  // The plot area in CSS pixels.
  area() {
    const width = Math.max(360, this.canvas.parentElement.clientWidth);
    return { width, height: HEIGHT, x: MARGIN.left, y: MARGIN.top,
             w: width - MARGIN.left - MARGIN.right, h: HEIGHT - MARGIN.top - MARGIN.bottom };
  }

  levelScans() {
    return this.scans.filter((s) => s.ms_level === this.level && Number.isFinite(s.rt_sec));
  }

  // Fetches the grid of the current range at about one cell a pixel (no more
  // columns than scans in the range: the others would be empty); resolves
  // once it is painted.
  async load() {
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
    const t0 = performance.now();
    this.grid = grid;
    this.raster = this.rasterize(grid);
    this.paint();
    this.drawMs = performance.now() - t0;
    this.readout.textContent = grid.points ? '' : `no points of MS${grid.msLevel} scans in this range`;
  }

  // The colour of each cell (log scale), one pixel a cell, first row the
  // highest m/z.
  rasterize(grid) {
    let lowest = Infinity;
    for (const v of grid.cells) if (v > 0 && v < lowest) lowest = v;
    const high = grid.highest > 0 ? grid.highest : 1;
    const low = Math.max(Number.isFinite(lowest) ? lowest : high, high / 10 ** DECADES);
    this.scale = { low, high };
    // 256 colours; a cell's is found by bisection over the values where
    // the colour changes (no logarithm per cell), written as one 32-bit word.
    const logLow = Math.log(low);
    const span = Math.log(high) - logLow || 1;
    const little = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;
    const pack = ([r, g, b]) => (little ? ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0
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
    const raster = document.createElement('canvas');
    raster.width = grid.width;
    raster.height = grid.height;
    raster.getContext('2d').putImageData(image, 0, 0);
    return raster;
  }

  x(rt) {
    const a = this.area();
    return a.x + (rt - this.grid.rt[0]) / (this.grid.rt[1] - this.grid.rt[0]) * a.w;
  }

  y(mz) {
    const a = this.area();
    return a.y + (this.grid.mz[1] - mz) / (this.grid.mz[1] - this.grid.mz[0]) * a.h;
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
    this.paint();
  }

  // Bins another range (null: the level's whole extent) and keeps it in the URL.
  zoom(range) {
    this.range = { rt: range.rt && saneRange(...range.rt), mz: range.mz && saneRange(...range.mz) };
    writeState('map_rt', this.range.rt);
    writeState('map_mz', this.range.mz);
    this.loading = this.load();
    return this.loading;
  }

  // Draws the grid, axes, legend and marks; `overlay` adds the crosshair or
  // the zoom rectangle.
  paint(overlay = null) {
    if (!this.grid) return;
    const a = this.area();
    const ratio = devicePixelRatio;
    if (this.canvas.width !== Math.round(a.width * ratio) || this.canvas.height !== Math.round(a.height * ratio)) {
      this.canvas.width = Math.round(a.width * ratio);
      this.canvas.height = Math.round(a.height * ratio);
      this.canvas.style.width = `${a.width}px`;
      this.canvas.style.height = `${a.height}px`;
    }
    const ctx = this.canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, a.width, a.height);
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(this.raster, a.x, a.y, a.w, a.h);
    ctx.strokeStyle = INK;
    ctx.lineWidth = 1;
    ctx.strokeRect(a.x - 0.5, a.y - 0.5, a.w + 1, a.h + 1);
    ctx.fillStyle = INK;
    ctx.font = '11px system-ui, sans-serif';
    for (const { at, text, side } of this.axisLabels()) {
      if (side === 'x') {
        ctx.textAlign = 'center';
        ctx.textBaseline = 'top';
        ctx.fillRect(Math.round(at), a.y + a.h, 1, 4);
        ctx.fillText(text, at, a.y + a.h + 6);
      } else {
        ctx.textAlign = 'right';
        ctx.textBaseline = 'middle';
        ctx.fillRect(a.x - 4, Math.round(at), 4, 1);
        ctx.fillText(text, a.x - 6, at);
      }
    }
    ctx.textAlign = 'center';
    ctx.textBaseline = 'bottom';
    ctx.fillText('retention time (s)', a.x + a.w / 2, a.height - 2);
    ctx.save();
    ctx.translate(12, a.y + a.h / 2);
    ctx.rotate(-Math.PI / 2);
    ctx.textBaseline = 'top';
    ctx.fillText('m/z', 0, -10);
    ctx.restore();
    this.paintLegend(ctx, a);

    ctx.save();
    ctx.beginPath();
    ctx.rect(a.x, a.y, a.w, a.h);
    ctx.clip();
    ctx.strokeStyle = MARK;
    for (const s of this.marks()) {
      const [x, y] = [this.x(s.rt_sec), this.y(s.precursor_mz)];
      ctx.beginPath();
      ctx.arc(x, y, 2.5, 0, 2 * Math.PI);
      ctx.stroke();
    }
    const selected = this.selected === null ? null : this.scans[this.selected];
    if (selected && Number.isFinite(selected.rt_sec)) {
      const x = Math.round(this.x(selected.rt_sec)) + 0.5;
      ctx.strokeStyle = '#111827';
      ctx.setLineDash([4, 3]);
      ctx.beginPath();
      ctx.moveTo(x, a.y);
      ctx.lineTo(x, a.y + a.h);
      ctx.stroke();
      ctx.setLineDash([]);
    }
    if (overlay?.crosshair) {
      const [x, y] = overlay.crosshair;
      ctx.strokeStyle = 'rgba(17, 24, 39, 0.6)';
      ctx.beginPath();
      ctx.moveTo(Math.round(x) + 0.5, a.y);
      ctx.lineTo(Math.round(x) + 0.5, a.y + a.h);
      ctx.moveTo(a.x, Math.round(y) + 0.5);
      ctx.lineTo(a.x + a.w, Math.round(y) + 0.5);
      ctx.stroke();
    }
    if (overlay?.box) {
      const [x0, y0, x1, y1] = overlay.box;
      ctx.fillStyle = 'rgba(31, 111, 235, 0.15)';
      ctx.strokeStyle = '#1f6feb';
      ctx.fillRect(Math.min(x0, x1), Math.min(y0, y1), Math.abs(x1 - x0), Math.abs(y1 - y0));
      ctx.strokeRect(Math.min(x0, x1), Math.min(y0, y1), Math.abs(x1 - x0), Math.abs(y1 - y0));
    }
    ctx.restore();
  }

  axisLabels() {
    const a = this.area();
    const [rt, mz] = [this.grid.rt, this.grid.mz];
    const digits = (lo, hi, n) => Math.max(0, Math.min(6, 1 - Math.floor(Math.log10((hi - lo) / n))));
    const rtDigits = digits(rt[0], rt[1], 8);
    const mzDigits = digits(mz[0], mz[1], 8);
    return [
      ...ticks(rt[0], rt[1], Math.max(2, Math.floor(a.w / 90)))
        .map((v) => ({ side: 'x', at: this.x(v), text: v.toFixed(rtDigits) })),
      ...ticks(mz[0], mz[1], Math.max(2, Math.floor(a.h / 40)))
        .map((v) => ({ side: 'y', at: this.y(v), text: v.toFixed(mzDigits) })),
    ];
  }

  // The legend's decades: [value, fraction from the bottom].
  legendTicks() {
    const { low, high } = this.scale;
    const span = Math.log(high) - Math.log(low) || 1;
    const out = [];
    for (let p = Math.ceil(Math.log10(low)); 10 ** p <= high; p++) {
      out.push([10 ** p, (Math.log(10 ** p) - Math.log(low)) / span]);
    }
    return out;
  }

  paintLegend(ctx, a) {
    const x = a.x + a.w + 14;
    const bar = 12;
    const ramp = ctx.createLinearGradient(0, a.y + a.h, 0, a.y);
    RAMP.forEach((c, i) => ramp.addColorStop(i / (RAMP.length - 1), `rgb(${c.join(',')})`));
    ctx.fillStyle = ramp;
    ctx.fillRect(x, a.y, bar, a.h);
    ctx.strokeStyle = INK;
    ctx.strokeRect(x - 0.5, a.y - 0.5, bar + 1, a.h + 1);
    ctx.fillStyle = INK;
    ctx.textAlign = 'left';
    ctx.textBaseline = 'middle';
    for (const [value, f] of this.legendTicks()) {
      const y = a.y + (1 - f) * a.h;
      ctx.fillRect(x + bar, Math.round(y), 3, 1);
      ctx.fillText(formatIntensity(value), x + bar + 5, y);
    }
  }

  // The cell under a point of the canvas (CSS pixels), or null outside.
  cellAt(px, py) {
    const a = this.area();
    if (!this.grid || px < a.x || px >= a.x + a.w || py < a.y || py >= a.y + a.h) return null;
    const g = this.grid;
    const column = Math.min(g.width - 1, Math.floor((px - a.x) / a.w * g.width));
    const row = Math.min(g.height - 1, Math.floor((py - a.y) / a.h * g.height));
    const rt = g.rt[0] + (px - a.x) / a.w * (g.rt[1] - g.rt[0]);
    const mz = g.mz[1] - (py - a.y) / a.h * (g.mz[1] - g.mz[0]);
    return { rt, mz, value: g.cells[row * g.width + column] };
  }

  // The scan of the map's level nearest in time to `rt`.
  nearest(rt) {
    let best = null;
    for (const s of this.levelScans()) {
      if (best === null || Math.abs(s.rt_sec - rt) < Math.abs(best.rt_sec - rt)) best = s;
    }
    return best;
  }

  listen() {
    const point = (e) => {
      const box = this.canvas.getBoundingClientRect();
      return [e.clientX - box.left, e.clientY - box.top];
    };
    let down = null;
    this.canvas.addEventListener('mousedown', (e) => {
      const at = point(e);
      if (this.cellAt(...at)) down = at;
    });
    this.canvas.addEventListener('mousemove', (e) => {
      const at = point(e);
      const cell = this.cellAt(...at);
      this.readout.textContent = cell
        ? `RT ${cell.rt.toFixed(2)} s · m/z ${cell.mz.toFixed(4)} · ${cell.value > 0 ? formatIntensity(cell.value) : 'no points'}`
        : '';
      if (down) {
        const a = this.area();
        const clamp = ([x, y]) => [Math.min(a.x + a.w, Math.max(a.x, x)), Math.min(a.y + a.h, Math.max(a.y, y))];
        this.paint({ box: [...down, ...clamp(at)] });
      } else {
        this.paint(cell ? { crosshair: at } : null);
      }
    });
    this.canvas.addEventListener('mouseleave', () => {
      this.readout.textContent = '';
      if (!down) this.paint();
    });
    window.addEventListener('mouseup', (e) => {
      if (!down) return;
      const start = down;
      down = null;
      const a = this.area();
      const [x, y] = point(e);
      const end = [Math.min(a.x + a.w, Math.max(a.x, x)), Math.min(a.y + a.h, Math.max(a.y, y))];
      if (Math.abs(end[0] - start[0]) < 4 && Math.abs(end[1] - start[1]) < 4) {
        const cell = this.cellAt(...start);
        const scan = cell && this.nearest(cell.rt);
        if (scan) this.onSelect(scan.index);
        this.paint();
        return;
      }
      const toRt = (px) => this.grid.rt[0] + (px - a.x) / a.w * (this.grid.rt[1] - this.grid.rt[0]);
      const toMz = (py) => this.grid.mz[1] - (py - a.y) / a.h * (this.grid.mz[1] - this.grid.mz[0]);
      const rt = [toRt(Math.min(start[0], end[0])), toRt(Math.max(start[0], end[0]))];
      const mz = [toMz(Math.max(start[1], end[1])), toMz(Math.min(start[1], end[1]))];
      // A drag along one axis only zooms that axis.
      this.zoom({
        rt: Math.abs(end[0] - start[0]) >= 4 && rt[0] < rt[1] ? rt : this.range.rt,
        mz: Math.abs(end[1] - start[1]) >= 4 && mz[0] < mz[1] ? mz : this.range.mz,
      });
    });
    this.canvas.addEventListener('dblclick', () => this.zoom({ rt: null, mz: null }));
  }

  // The grid as CSV: a header of the columns' RT edges, then a row per m/z
  // cell (highest first) led by its lower edge; cell values as the API sent
  // them (the shortest text of each float32).
  csv() {
    const g = this.grid;
    if (!g) return '';
    const columns = cellEdges(g.rt, g.width);
    const rows = cellEdges(g.mz, g.height);
    const lines = [['mz_low\\rt_low_sec', ...columns.slice(0, g.width)].join(',')];
    for (let r = 0; r < g.height; r++) {
      const values = new Array(g.width + 1);
      values[0] = rows[g.height - 1 - r];
      for (let c = 0; c < g.width; c++) values[c + 1] = float32Text(g.cells[r * g.width + c]);
      lines.push(values.join(','));
    }
    return `${lines.join('\n')}\n`;
  }

  // The picture as SVG: the grid as an embedded PNG of one pixel a cell,
  // axes, legend and marks as vector elements.
  svg() {
    const a = this.area();
    const esc = (text) => String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;');
    const parts = [
      `<svg xmlns="http://www.w3.org/2000/svg" width="${a.width}" height="${a.height}" ` +
      `viewBox="0 0 ${a.width} ${a.height}" font-family="system-ui, sans-serif" font-size="11">`,
      `<rect width="${a.width}" height="${a.height}" fill="#fff"/>`,
      `<image x="${a.x}" y="${a.y}" width="${a.w}" height="${a.h}" preserveAspectRatio="none" ` +
      `style="image-rendering:pixelated" href="${this.raster.toDataURL('image/png')}"/>`,
      `<rect x="${a.x}" y="${a.y}" width="${a.w}" height="${a.h}" fill="none" stroke="${INK}"/>`,
    ];
    for (const { at, text, side } of this.axisLabels()) {
      parts.push(side === 'x'
        ? `<line x1="${at}" x2="${at}" y1="${a.y + a.h}" y2="${a.y + a.h + 4}" stroke="${INK}"/>` +
          `<text x="${at}" y="${a.y + a.h + 16}" text-anchor="middle">${esc(text)}</text>`
        : `<line x1="${a.x - 4}" x2="${a.x}" y1="${at}" y2="${at}" stroke="${INK}"/>` +
          `<text x="${a.x - 6}" y="${at + 4}" text-anchor="end">${esc(text)}</text>`);
    }
    parts.push(`<text x="${a.x + a.w / 2}" y="${a.height - 4}" text-anchor="middle">retention time (s)</text>`,
               `<text transform="translate(12 ${a.y + a.h / 2}) rotate(-90)" text-anchor="middle">m/z</text>`);
    for (const s of this.marks()) {
      parts.push(`<circle cx="${this.x(s.rt_sec)}" cy="${this.y(s.precursor_mz)}" r="2.5" fill="none" stroke="${MARK}"/>`);
    }
    const x = a.x + a.w + 14;
    const stops = RAMP.map((c, i) => `<stop offset="${i / (RAMP.length - 1)}" stop-color="rgb(${c.join(',')})"/>`);
    parts.push(`<defs><linearGradient id="ramp" x1="0" y1="1" x2="0" y2="0">${stops.join('')}</linearGradient></defs>`,
               `<rect x="${x}" y="${a.y}" width="12" height="${a.h}" fill="url(#ramp)" stroke="${INK}"/>`);
    for (const [value, f] of this.legendTicks()) {
      const y = a.y + (1 - f) * a.h;
      parts.push(`<text x="${x + 17}" y="${y + 4}">${esc(formatIntensity(value))}</text>`);
    }
    parts.push('</svg>');
    return parts.join('\n');
  }
}
