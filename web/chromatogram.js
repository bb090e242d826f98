// The run's chromatogram: the total-ion (TIC) or base-peak (BPC) trace of
// the survey scans, fragment scans marked under it, the selected scan as a
// vertical line, and extracted ion chromatograms (XIC) overlaid on a scale
// of their own.
import {
  INTENSITY_LABEL, RT_SERIES, YZoom, chartSize, drawnValues, intensityChart, lineSeries, narrower,
  onPlotClick, verticalLine, xRangeOf,
} from './axes.js';
import { nearestByTime, surveyLevel } from './scans.js';

// XIC colours: a set of colours of maximum contrast (less white, and a
// reddish orange too near the fragment marks), and black; they repeat only
// past 20 targets.
export const XIC_COLORS = [
  '#875692', '#008856', '#be0032', '#f38400', '#0067a5', '#882d17', '#e68fac', '#8db600',
  '#604e97', '#f6a600', '#b3446c', '#2b3d26', '#a1caf1', '#654522', '#c2b280',
  '#848482', '#f99379', '#dcd300', '#f3c300', '#222222',
];
// Height of the band at the bottom of the plot where fragment scans are marked.
const MARK_BAND_PX = 10;
// Width in CSS pixels of a column of the density strip that stands for
// fragment-scan marks too close together to be told apart.
const STRIP_COLUMN_PX = 2;

export class Chromatogram {
  // scans: the rows of /api/scans. onSelect(index) is called with the
  // table index of the scan the user picked; onFirstDraw once drawn.
  // onView(range) after the user zooms in x (range: [min, max] of
  // retention time, null for the whole run); onIntensityView(range) after
  // a zoom in intensity (null: automatic); onXicIntensityView(range) after
  // a zoom of the XICs' own axis. color: the trace's colour (the run's,
  // when several runs are open); yRange: the intensity zoom to show first.
  constructor(element, scans, {
    onSelect, onFirstDraw, onView, onIntensityView, onXicIntensityView, color = '#1f6feb', yRange,
  }) {
    Object.assign(this, { element, scans, onSelect, onFirstDraw, onView, onIntensityView,
                          onXicIntensityView, color });
    // Fragment marks are orange, blue where the trace itself is orange.
    this.markRgb = color.toLowerCase() === '#c2410c' ? '31, 111, 235' : '194, 65, 12';
    this.yZoom = new YZoom(yRange);
    this.xicZoom = new YZoom();
    this.kind = 'tic';
    this.selected = null;
    this.xics = [];

    this.traceLevel(surveyLevel(scans));
    this.build();
    window.addEventListener('resize', () => this.plot.setSize(chartSize(element, 260)));
  }

  // Scans without a finite retention time have no place on the time axis:
  // they are left out of the trace and the marks (the header counts them).
  traceLevel(level) {
    this.level = level;
    const timed = this.scans.filter((s) => Number.isFinite(s.rt_sec));
    this.traceScans = timed.filter((s) => s.ms_level === level);
    this.markedScans = timed.filter((s) => s.ms_level > level);
    this.times = this.traceScans.map((s) => s.rt_sec);
    this.positionOfScanId = new Map(this.traceScans.map((s, i) => [s.scan_id, i]));
  }

  // The trace of another MS level (an XIC of a product m/z in an MRM run
  // lies on the fragment scans): its scans' TIC or BPC, XICs cleared.
  // The zoom of the old trace is not carried over: its scans are others.
  setLevel(level) {
    this.traceLevel(level);
    this.xics = [];
    this.clearIntensityZooms();
    this.plot?.destroy();
    this.plot = null;
    this.build();
  }

  clearIntensityZooms() {
    this.yZoom.range = null;
    this.xicZoom.range = null;
    this.onIntensityView?.(null);
    this.onXicIntensityView?.(null);
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
    const key = this.kind === 'tic' ? 'tic' : 'base_peak_intensity';
    return [this.times, drawnValues(this.traceScans.map((s) => s[key])),
            ...this.xics.map((x) => drawnValues(x.values))];
  }

  // Tells onView of a change of the x range.
  reportView(u) {
    const range = this.xRange(u);
    if (JSON.stringify(range) === this.lastView) return;
    this.lastView = JSON.stringify(range);
    this.onView?.(range);
  }

  // The retention-time range in view, null for the whole run.
  xRange(u = this.plot) {
    return narrower(xRangeOf(u), this.times);
  }

  setXRange(range) {
    if (range) this.plot.setScale('x', { min: range[0], max: range[1] });
  }

  // The highest XIC value at the scans in view, null without XICs.
  xicHighestInView() {
    if (!this.xics.length) return null;
    const range = this.xRange() ?? [-Infinity, Infinity];
    let highest = 0;
    for (const xic of this.xics) {
      xic.values.forEach((v, i) => {
        if (v !== null && v > highest && this.times[i] >= range[0] && this.times[i] <= range[1]) {
          highest = v;
        }
      });
    }
    return highest;
  }

  build() {
    // The zoom is kept across rebuilds.
    const zoom = this.xRange();
    this.plot?.destroy();
    const series = [
      RT_SERIES,
      lineSeries(this.kind.toUpperCase(), this.color),
      ...this.xics.map((x, i) => lineSeries(`XIC ${x.target}`, XIC_COLORS[i % XIC_COLORS.length],
                                            { scale: 'xic', spanGaps: false })),
    ];
    let drawn = false;
    this.plot = intensityChart(this.element, this.data(), {
      x: 'retention time (s)', y: INTENSITY_LABEL, height: 260, series,
      zoom: this.yZoom, onZoom: () => this.onIntensityView?.(this.yZoom.range),
      xic: this.xics.length ? {
        label: 'XIC (counts)', zoom: this.xicZoom,
        onZoom: () => this.onXicIntensityView?.(this.xicZoom.range),
      } : null,
      hooks: {
        draw: [(u) => {
          this.drawMarks(u);
          if (!drawn) {
            drawn = true;
            this.onFirstDraw?.();
          }
        }],
        ready: [(u) => this.listen(u)],
        setScale: [(u, key) => { if (key === 'x') this.reportView(u); }],
      },
    });
    this.setXRange(zoom);
  }

  // Fragment scans as short ticks along the bottom, the selected scan as a line.
  // Where ticks would merge (two scans within a column of the strip), a
  // density strip instead: each column as dark as the scans it holds.
  drawMarks(u) {
    const { ctx, bbox } = u;
    const bottom = bbox.top + bbox.height;
    const [xMin, xMax] = [u.scales.x.min, u.scales.x.max];
    const column = STRIP_COLUMN_PX * devicePixelRatio;
    const counts = new Uint32Array(Math.ceil(bbox.width / column) + 1);
    let crowded = false;
    for (const s of this.markedScans) {
      if (s.rt_sec < xMin || s.rt_sec > xMax) continue;
      const at = Math.floor((u.valToPos(s.rt_sec, 'x', true) - bbox.left) / column);
      const c = Math.min(Math.max(at, 0), counts.length - 1);
      counts[c]++;
      if (counts[c] > 1 || (c > 0 && counts[c - 1] > 0)) crowded = true;
    }
    this.marksDrawnAs = crowded ? 'strip' : 'ticks';
    ctx.save();
    ctx.lineWidth = 1;
    const band = MARK_BAND_PX * devicePixelRatio;
    if (crowded) {
      const most = Math.max(...counts);
      counts.forEach((n, c) => {
        if (n === 0) return;
        ctx.fillStyle = `rgba(${this.markRgb}, ${(0.25 + (0.75 * n) / most).toFixed(3)})`;
        ctx.fillRect(bbox.left + c * column, bottom - band, column, band);
      });
    } else {
      ctx.beginPath();
      ctx.strokeStyle = `rgb(${this.markRgb})`;
      counts.forEach((n, c) => {
        if (n === 0) return;
        const x = Math.round(bbox.left + c * column) + 0.5;
        ctx.moveTo(x, bottom);
        ctx.lineTo(x, bottom - band);
      });
      ctx.stroke();
    }
    const selected = this.scans[this.selected];
    if (selected && selected.rt_sec >= xMin && selected.rt_sec <= xMax) {
      const x = verticalLine(u, selected.rt_sec,
                             selected.ms_level > this.level ? `rgb(${this.markRgb})` : '#111827');
      // Its own mark stands out of the strip.
      ctx.setLineDash([]);
      ctx.lineWidth = 3 * devicePixelRatio;
      ctx.beginPath();
      ctx.moveTo(x, bottom);
      ctx.lineTo(x, bottom - band - 3 * devicePixelRatio);
      ctx.stroke();
    }
    ctx.restore();
  }

  // A click (a press and release without a drag) selects the nearest scan:
  // a fragment scan when it lands in the band of marks, else a trace scan.
  listen(u) {
    onPlotClick(u, 4, () => {
      const rt = u.posToVal(u.cursor.left, 'x');
      const inBand = u.cursor.top > u.over.clientHeight - MARK_BAND_PX - 4;
      const pool = inBand && this.markedScans.length ? this.markedScans : this.traceScans;
      const nearest = nearestByTime(pool, rt);
      if (nearest) this.onSelect(nearest.index);
      this.element.focus();
    });
  }
}
