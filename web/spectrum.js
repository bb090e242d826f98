// One scan's spectrum: a line for profile data, sticks for centroids, the
// precursor of a fragment scan as a dashed line, and the point under the
// cursor in the readout line.
import uPlot from 'uplot';
import { formatIntensity, formatNumber, intensityTicks } from './format.js';

// uPlot path builder drawing each point as a stick from zero.
function sticks(u, seriesIndex, first, last) {
  const xs = u.data[0];
  const ys = u.data[seriesIndex];
  const path = new Path2D();
  const zero = Math.round(u.valToPos(0, 'y', true));
  for (let i = first; i <= last; i++) {
    const x = Math.round(u.valToPos(xs[i], 'x', true)) + 0.5;
    path.moveTo(x, zero);
    path.lineTo(x, Math.round(u.valToPos(ys[i], 'y', true)));
  }
  return { stroke: path, fill: null, clip: null, band: null, gaps: null, flags: 0 };
}

export class SpectrumView {
  constructor(element, readout) {
    this.element = element;
    this.readout = readout;
    this.spectrum = null;
    this.drawnWaiters = [];
    window.addEventListener('resize', () => this.plot?.setSize(this.size()));
  }

  size() {
    return { width: Math.max(320, this.element.clientWidth), height: 320 };
  }

  // Shows `spectrum` (an /api/spectrum object); resolves once it is drawn.
  show(spectrum) {
    this.spectrum = spectrum;
    const drawn = new Promise((resolve) => this.drawnWaiters.push(resolve));
    const centroided = spectrum.centroided === true;
    // A new chart when the kind of drawing changes; new data otherwise.
    if (!this.plot || this.centroided !== centroided) {
      this.centroided = centroided;
      this.plot?.destroy();
      this.plot = new uPlot(this.options(centroided), [spectrum.mz, spectrum.intensity],
                            this.element);
    } else {
      this.plot.setData([spectrum.mz, spectrum.intensity]);
    }
    return drawn;
  }

  options(centroided) {
    return {
      ...this.size(),
      legend: { show: false },
      series: [
        {},
        {
          stroke: centroided ? '#111827' : '#1f6feb', width: 1,
          paths: centroided ? sticks : undefined,
          points: { show: false },
        },
      ],
      axes: [
        { label: 'm/z' },
        { label: 'intensity', values: intensityTicks, size: 70 },
      ],
      scales: {
        x: { time: false, range: (_u, min, max) => this.mzRange(min, max) },
        y: { range: (_u, _min, max) => [0, max > 0 ? max * 1.05 : 1] },
      },
      cursor: { drag: { x: true, y: false }, points: { show: !centroided } },
      hooks: {
        draw: [(u) => {
          this.drawPrecursor(u);
          const waiters = this.drawnWaiters;
          this.drawnWaiters = [];
          for (const resolve of waiters) resolve();
        }],
        setCursor: [(u) => this.showReadout(u)],
      },
    };
  }

  // The whole spectrum and its precursor, with a margin; a zoomed range as it is.
  mzRange(min, max) {
    const mz = this.spectrum?.mz ?? [];
    const whole = mz.length > 0 && min === mz[0] && max === mz[mz.length - 1];
    if (!whole) return [min, max];
    const precursor = this.spectrum.precursor_mz;
    const low = precursor == null ? min : Math.min(min, precursor);
    const high = precursor == null ? max : Math.max(max, precursor);
    const margin = (high - low) * 0.02 || 1;
    return [low - margin, high + margin];
  }

  drawPrecursor(u) {
    const mz = this.spectrum?.precursor_mz;
    if (mz == null || mz < u.scales.x.min || mz > u.scales.x.max) return;
    const { ctx, bbox } = u;
    const x = Math.round(u.valToPos(mz, 'x', true)) + 0.5;
    ctx.save();
    ctx.strokeStyle = '#c2410c';
    ctx.fillStyle = '#c2410c';
    ctx.setLineDash([5 * devicePixelRatio, 4 * devicePixelRatio]);
    ctx.beginPath();
    ctx.moveTo(x, bbox.top);
    ctx.lineTo(x, bbox.top + bbox.height);
    ctx.stroke();
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
    if (i == null || !this.spectrum) {
      this.readout.textContent = '';
      return;
    }
    this.readout.textContent =
      `m/z ${formatNumber(u.data[0][i])}   intensity ${formatIntensity(u.data[1][i])}`;
  }
}
