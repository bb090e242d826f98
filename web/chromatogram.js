// The run's chromatogram: the total-ion (TIC) or base-peak (BPC) trace of
// the survey scans, fragment scans marked under it, the selected scan as a
// vertical line, and extracted ion chromatograms (XIC) overlaid on a scale
// of their own.
import uPlot from 'uplot';
import { formatIntensity, intensityTicks } from './format.js';

// XIC colours; orange is kept for the fragment-scan marks.
const XIC_COLORS = ['#7c3aed', '#15803d', '#be185d', '#0e7490', '#854d0e', '#4b5563'];
// Intensities from zero up to a little above the highest in view.
const fromZero = (_u, _min, max) => [0, max > 0 ? max * 1.05 : 1];
// Height of the band at the bottom of the plot where fragment scans are marked.
const MARK_BAND_PX = 10;

export class Chromatogram {
  // scans: the rows of /api/scans. onSelect(index) is called with the
  // table index of the scan the user picked; onFirstDraw once drawn.
  constructor(element, scans, { onSelect, onFirstDraw }) {
    this.element = element;
    this.scans = scans;
    this.onSelect = onSelect;
    this.onFirstDraw = onFirstDraw;
    this.kind = 'tic';
    this.selected = null;
    this.xics = [];

    // The trace shows the survey level (MS1), or every scan of the lowest
    // level when the run has no MS1 scans.
    this.traceLevel(Math.min(...scans.map((s) => s.ms_level)));

    this.build();
    this.onResize = () => this.plot.setSize(this.size());
    window.addEventListener('resize', this.onResize);
  }

  // Removes the chart (another run is shown).
  destroy() {
    window.removeEventListener('resize', this.onResize);
    this.plot?.destroy();
    this.plot = null;
  }

  traceLevel(level) {
    this.level = level;
    this.traceScans = this.scans.filter((s) => s.ms_level === level);
    this.markedScans = this.scans.filter((s) => s.ms_level > level);
    this.times = this.traceScans.map((s) => s.rt_sec);
    this.positionOfScanId = new Map(this.traceScans.map((s, i) => [s.scan_id, i]));
  }

  // The trace of another MS level (an XIC of a product m/z in an MRM run
  // lies on the fragment scans): its scans' TIC or BPC, XICs cleared.
  // The zoom of the old trace is not carried over: its scans are others.
  setLevel(level) {
    this.traceLevel(level);
    this.xics = [];
    this.plot?.destroy();
    this.plot = null;
    this.build();
  }

  size() {
    return { width: Math.max(320, this.element.clientWidth), height: 260 };
  }

  traceValues() {
    const key = this.kind === 'tic' ? 'tic' : 'base_peak_intensity';
    return this.traceScans.map((s) => s[key]);
  }

  setKind(kind) {
    this.kind = kind;
    this.build();
  }

  // xics: [{target, values}] with one value per trace scan.
  setXics(xics) {
    this.xics = xics;
    this.build();
  }

  select(index) {
    this.selected = index;
    this.plot.redraw(false);
  }

  data() {
    return [this.times, this.traceValues(), ...this.xics.map((x) => x.values)];
  }

  build() {
    // The zoom is kept across rebuilds; a plot not yet drawn has no range
    // (null), which must not become one.
    const x = this.plot?.scales.x;
    const scale = x && Number.isFinite(x.min) && Number.isFinite(x.max)
      ? { min: x.min, max: x.max } : null;
    this.plot?.destroy();
    const fullRange = this.times.length && scale &&
      (scale.min > this.times[0] || scale.max < this.times[this.times.length - 1]);
    const series = [
      { label: 'RT (s)', value: (_u, v) => (v == null ? '–' : v.toFixed(2)) },
      {
        label: this.kind.toUpperCase(), stroke: '#1f6feb', width: 1.25, spanGaps: true,
        points: { show: false }, value: (_u, v) => formatIntensity(v),
      },
      ...this.xics.map((x, i) => ({
        label: `XIC ${x.target}`, stroke: XIC_COLORS[i % XIC_COLORS.length], width: 1.25,
        scale: 'xic', points: { show: false }, value: (_u, v) => formatIntensity(v),
      })),
    ];
    const axes = [
      { label: 'retention time (s)' },
      { label: 'intensity', values: intensityTicks, size: 70 },
    ];
    if (this.xics.length) {
      axes.push({ scale: 'xic', side: 1, label: 'XIC', values: intensityTicks, size: 70,
                  grid: { show: false } });
    }
    let drawn = false;
    this.plot = new uPlot({
      ...this.size(),
      series,
      axes,
      scales: { x: { time: false }, y: { range: fromZero }, xic: { range: fromZero } },
      cursor: { drag: { x: true, y: false }, points: { show: false } },
      hooks: {
        draw: [(u) => {
          this.drawMarks(u);
          if (!drawn) {
            drawn = true;
            this.onFirstDraw?.();
          }
        }],
        ready: [(u) => this.listen(u)],
      },
    }, this.data(), this.element);
    if (fullRange) this.plot.setScale('x', scale);
  }

  // Fragment scans as short ticks along the bottom, the selected scan as a line.
  drawMarks(u) {
    const { ctx, bbox } = u;
    const bottom = bbox.top + bbox.height;
    const [xMin, xMax] = [u.scales.x.min, u.scales.x.max];
    ctx.save();
    ctx.beginPath();
    ctx.strokeStyle = '#c2410c';
    ctx.lineWidth = 1;
    for (const s of this.markedScans) {
      if (s.rt_sec < xMin || s.rt_sec > xMax) continue;
      const x = Math.round(u.valToPos(s.rt_sec, 'x', true)) + 0.5;
      ctx.moveTo(x, bottom);
      ctx.lineTo(x, bottom - MARK_BAND_PX * devicePixelRatio);
    }
    ctx.stroke();
    const selected = this.selected === null ? null : this.scans[this.selected];
    if (selected && selected.rt_sec >= xMin && selected.rt_sec <= xMax) {
      const x = Math.round(u.valToPos(selected.rt_sec, 'x', true)) + 0.5;
      ctx.beginPath();
      ctx.strokeStyle = selected.ms_level > this.level ? '#c2410c' : '#111827';
      ctx.setLineDash([4 * devicePixelRatio, 3 * devicePixelRatio]);
      ctx.moveTo(x, bbox.top);
      ctx.lineTo(x, bottom);
      ctx.stroke();
    }
    ctx.restore();
  }

  // A click (a press and release without a drag) selects the nearest scan:
  // a fragment scan when it lands in the band of marks, else a trace scan.
  listen(u) {
    let down = null;
    u.over.addEventListener('mousedown', (e) => { down = { x: e.clientX, y: e.clientY }; });
    u.over.addEventListener('mouseup', (e) => {
      if (!down || Math.abs(e.clientX - down.x) > 3 || Math.abs(e.clientY - down.y) > 3) return;
      const rt = u.posToVal(u.cursor.left, 'x');
      const inBand = u.cursor.top > u.over.clientHeight - MARK_BAND_PX - 4;
      const pool = inBand && this.markedScans.length ? this.markedScans : this.traceScans;
      const nearest = nearestByTime(pool, rt);
      if (nearest) this.onSelect(nearest.index);
      this.element.focus();
    });
  }
}

function nearestByTime(scans, rt) {
  let best = null;
  for (const s of scans) {
    if (best === null || Math.abs(s.rt_sec - rt) < Math.abs(best.rt_sec - rt)) best = s;
  }
  return best;
}
