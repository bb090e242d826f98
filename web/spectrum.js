// One scan's spectrum: a line for profile data, sticks for centroids, the
// precursor of a fragment scan as a dashed line, and the point under the
// cursor in the readout line. With the lock on (the default), an m/z zoom
// stays when another scan is shown, so a cluster can be followed from
// scan to scan.
import {
  INTENSITY_LABEL, YZoom, chartSize, drawnValues, intensityChart, saneScale, verticalLine,
} from './axes.js';
import { formatIntensity, formatNumber } from './format.js';

// uPlot path builder drawing each point as a stick from zero (from the
// bottom of a log axis).
function sticks(u, seriesIndex, first, last) {
  const xs = u.data[0];
  const ys = u.data[seriesIndex];
  const path = new Path2D();
  const base = u.scales.y.distr === 3 ? u.scales.y.min : 0;
  const zero = Math.round(u.valToPos(base, 'y', true));
  for (let i = first; i <= last; i++) {
    if (ys[i] === null) continue;
    const x = Math.round(u.valToPos(xs[i], 'x', true)) + 0.5;
    path.moveTo(x, zero);
    path.lineTo(x, Math.round(u.valToPos(ys[i], 'y', true)));
  }
  return { stroke: path, fill: null, clip: null, band: null, gaps: null, flags: 0 };
}

export class SpectrumView {
  // onView(range) after the m/z range in view changes ([min, max] of a
  // zoom, null for the whole spectrum); onIntensityView(range) after the
  // intensity zoom does (null: automatic).
  constructor(element, readout, { onView, onIntensityView } = {}) {
    Object.assign(this, { element, readout, onView, onIntensityView });
    this.spectrum = null;
    this.points = [[], []];
    this.lock = true;
    this.zoom = null;  // the m/z range kept across scans, null: each spectrum whole
    this.yZoom = new YZoom();
    // Points of the spectrum not drawn (no finite m/z or intensity).
    this.leftOut = 0;
    this.drawnWaiters = [];
    window.addEventListener('resize', () => this.plot?.setSize(chartSize(element, 320)));
  }

  // The points shown: the spectrum's finite ones (all of them, usually).
  // A spectrum that has points but no finite one shows none, and says so.
  drawablePoints({ mz, intensity }) {
    const finite = (_, i) => Number.isFinite(mz[i]) && Number.isFinite(intensity[i]);
    const points = mz.every(finite) ? [mz, intensity] : [mz.filter(finite), intensity.filter(finite)];
    this.leftOut = mz.length - points[0].length;
    return points;
  }

  // Shows `spectrum` (an /api/spectrum object); resolves once it is drawn.
  show(spectrum) {
    this.spectrum = spectrum;
    this.points = this.drawablePoints(spectrum);
    const drawn = new Promise((resolve) => this.drawnWaiters.push(resolve));
    const centroided = spectrum.centroided === true;
    if (!this.lock) this.zoom = null;
    this.element.classList.toggle('nothing-drawn', this.points[0].length === 0);
    // A new chart when the kind of drawing changes; new data otherwise.
    if (!this.plot || this.centroided !== centroided) {
      this.centroided = centroided;
      this.rebuild();
    } else {
      this.plot.setData(this.data());
      this.applyZoom();
    }
    return drawn;
  }

  // A scan whose points could not be read: an empty chart with the
  // server's message ("could not be read: ..."); resolves once drawn.
  showUnreadable(message) {
    return this.show({
      mz: [], intensity: [], centroided: null, precursor_mz: null, unreadable: message,
    });
  }

  data() {
    return [this.points[0], drawnValues(this.points[1])];
  }

  // A new chart (another kind of drawing, another intensity axis).
  rebuild() {
    if (!this.spectrum) return;
    this.plot?.destroy();
    this.plot = intensityChart(this.element, this.data(), this.options(this.centroided));
    // uPlot's double-click returns to the whole spectrum.
    this.plot.over.addEventListener('dblclick', () => {
      this.zoom = null;
      this.onView?.(null);
    });
    this.applyZoom();
  }

  applyZoom() {
    if (this.zoom) this.plot.setScale('x', { min: this.zoom[0], max: this.zoom[1] });
  }

  // The whole spectrum, in m/z and intensity.
  resetZoom() {
    this.yZoom.range = null;
    this.onIntensityView?.(null);
    this.zoom = null;
    this.plot?.setData(this.data());
    this.onView?.(null);
  }

  options(centroided) {
    return {
      x: 'm/z', y: INTENSITY_LABEL, height: 320, legend: { show: false },
      zoom: this.yZoom, onZoom: () => this.onIntensityView?.(this.yZoom.range),
      xScale: saneScale((_u, min, max) => this.mzRange(min, max)),
      series: [{}, {
        stroke: centroided ? '#111827' : '#1f6feb', width: 1, paths: centroided ? sticks : undefined,
        points: { show: false },
      }],
      cursor: { drag: { x: true, y: false }, points: { show: !centroided } },
      hooks: {
        draw: [(u) => {
          this.drawPrecursor(u);
          this.drawNothing(u);
          const waiters = this.drawnWaiters;
          this.drawnWaiters = [];
          for (const resolve of waiters) resolve();
        }],
        setCursor: [(u) => this.showReadout(u)],
        // A drag by the user (a selection, then the x scale set from it)
        // changes the zoom kept.
        setSelect: [(u) => { this.dragged = u.select.width > 0; }],
        setScale: [(_u, key) => {
          if (key === 'x' && this.dragged) {
            this.dragged = false;
            this.noteUserZoom();
          }
        }],
      },
    };
  }

  // The whole spectrum and its precursor, with a margin; a zoomed range as it is.
  mzRange(min, max) {
    const mz = this.points[0];
    if (mz.length === 0) return this.zoom ?? [0, 1];
    const whole = min === mz[0] && max === mz[mz.length - 1];
    if (!whole) return [min, max];
    const precursor = this.spectrum.precursor_mz;
    const usable = precursor != null && Number.isFinite(precursor);
    const low = usable ? Math.min(min, precursor) : min;
    const high = usable ? Math.max(max, precursor) : max;
    const margin = (high - low) * 0.02 || 1;
    return [low - margin, high + margin];
  }

  // Called by the page after uPlot's own zoom (drag, double-click): keeps
  // the range the user chose.
  noteUserZoom() {
    const x = this.plot?.scales.x;
    const mz = this.points[0];
    if (!x || !mz.length) return;
    const [low, high] = this.mzRange(mz[0], mz[mz.length - 1]);
    const whole = x.min <= low && x.max >= high;
    this.zoom = whole ? null : [x.min, x.max];
    this.onView?.(this.zoom);
  }

  drawNothing(u) {
    if (this.points[0].length !== 0 || !this.spectrum) return;
    const { ctx, bbox } = u;
    ctx.save();
    ctx.fillStyle = '#5b6475';
    ctx.font = `${14 * devicePixelRatio}px system-ui, sans-serif`;
    ctx.textAlign = 'center';
    const text = this.spectrum.unreadable
      ?? (this.spectrum.mz.length === 0 ? 'no points in this spectrum'
        : 'no point of this spectrum has a finite m/z and intensity');
    ctx.fillText(text, bbox.left + bbox.width / 2, bbox.top + bbox.height / 2);
    ctx.restore();
  }

  drawPrecursor(u) {
    const mz = this.spectrum?.precursor_mz;
    if (mz == null || !Number.isFinite(mz) || mz < u.scales.x.min || mz > u.scales.x.max) return;
    const { ctx, bbox } = u;
    ctx.save();
    const x = verticalLine(u, mz, '#c2410c', [5, 4]);
    ctx.fillStyle = '#c2410c';
    ctx.font = `${12 * devicePixelRatio}px system-ui, sans-serif`;
    const label = `precursor ${formatNumber(mz)}`;
    const gap = 4 * devicePixelRatio;
    const width = ctx.measureText(label).width;
    // Right of the line, or left of it where the plot ends first.
    const left = x + gap + width > bbox.left + bbox.width ? x - gap - width : x + gap;
    ctx.fillText(label, left, bbox.top + 14 * devicePixelRatio);
    ctx.restore();
  }

  showReadout(u) {
    const i = u.cursor.idx;
    if (i == null || !this.spectrum || !this.points[0].length) {
      this.readout.textContent = '';
      return;
    }
    this.readout.textContent =
      `m/z ${formatNumber(this.points[0][i])}   intensity ${formatIntensity(this.points[1][i])}`;
  }
}
