// Several runs served at once: the selector of the run whose scans the
// page shows, and the overlay of every run's chromatogram (TIC or BPC of
// its survey level, and the XICs of the targets extracted), each run in a
// colour of its own, a legend whose check boxes hide a run, and the
// option to scale each trace to its own highest point (%).
// Names are set as text only: a run's name is whatever its directory is
// called.
import uPlot from 'uplot';
import { fetchScans, fetchXic } from './api.js';
import {
  INTENSITY_LABEL, RT_SERIES, YZoom, chartSize, drawnValues, intensityChart, lineSeries, narrower,
  onAxisMode, xRangeOf,
} from './axes.js';
import { element, swatchItem } from './dom.js';
import { formatIntensity } from './format.js';
import { surveyLevel } from './scans.js';

// 32 runs at most; colours repeat after 20, with another dash.
export const RUN_COLORS = [
  '#1f6feb', '#c2410c', '#15803d', '#7c3aed', '#be185d', '#0e7490', '#854d0e', '#4b5563',
  '#dc2626', '#65a30d', '#0891b2', '#9333ea', '#ea580c', '#0f766e', '#a21caf', '#4338ca',
  '#b45309', '#166534', '#9f1239', '#1e3a8a',
];
const XIC_DASHES = [[6, 3], [2, 2], [8, 3, 2, 3], [1, 3]];

// Run k's colour, in the overlay and in the chromatogram when it is selected.
export const colorOf = (k) => RUN_COLORS[k % RUN_COLORS.length];

// Fills the <select> with the runs (a run that could not be opened is
// listed, disabled, with its reason) and calls onChange(K) on a choice.
export function showRunSelector(select, runs, chosen, onChange) {
  select.replaceChildren(...runs.map((run) => element('option', {
    value: String(run.run), title: run.path, disabled: run.error !== null,
    textContent: `${run.run}: ${run.name}${run.error !== null ? ` (could not be opened: ${run.error})` : ''}`,
  })));
  select.value = String(chosen);
  select.hidden = false;
  select.addEventListener('change', () => onChange(Number(select.value)));
}

// The trace of one run: its scans of the survey level with a finite
// retention time, in time order.
function traceOf(scans) {
  const level = surveyLevel(scans);
  const kept = scans.filter((s) => s.ms_level === level && Number.isFinite(s.rt_sec))
    .sort((a, b) => a.rt_sec - b.rt_sec);
  return {
    level,
    times: kept.map((s) => s.rt_sec),
    tic: kept.map((s) => s.tic),
    bpc: kept.map((s) => s.base_peak_intensity),
  };
}

function scaled(values, normalise) {
  if (!normalise) return values;
  const highest = values.reduce((m, v) => (v > m ? v : m), 0);
  return highest > 0 ? values.map((v) => (v == null ? v : (100 * v) / highest)) : values;
}

export class Overlay {
  // runs: the rows of /api/runs. Draws into `chart`, lists the runs in
  // `legend`; onDrawn() once every run's trace is drawn the first time.
  // hidden: the positions of the runs hidden at first; onHidden(list) is
  // told the positions hidden whenever they change. view: the zooms to
  // show first ({rt, y, xicY}: [low, high] or null); onView(key, range) is
  // told of each zoom the user makes ('rt', 'y' or 'xic_y'; null: whole).
  constructor(chart, legend, runs, { onDrawn, hidden = [], onHidden, view = {}, onView } = {}) {
    Object.assign(this, { chart, legend, onDrawn, onHidden, onView, kind: 'tic', normalise: false });
    this.runs = runs.filter((r) => r.error === null);
    this.selected = this.runs[0]?.run ?? 0;
    this.shown = new Map(this.runs.map((r) => [r.run, !hidden.includes(r.run)]));
    // The retention-time zoom to show once the traces are drawn.
    this.wantedX = view.rt ?? null;
    this.traces = new Map();
    this.xics = [];  // [{run, target, times, values}]
    // The intensity axis is the page's choice (linear, log, relative), and
    // zooms in y as the other charts do.
    this.yZoom = new YZoom(view.y);
    this.xicZoom = new YZoom(view.xicY);
    onAxisMode(() => {
      this.clearIntensityZooms();
      this.build();
    });
    window.addEventListener('resize', () => this.plot?.setSize(chartSize(chart, 240)));
  }

  // Fetches every run's scans (all at once) and draws their traces. Each
  // run's rows are dropped once its trace is taken: 32 runs of 30,000
  // scans are never all in memory together.
  async load() {
    await Promise.all(this.runs.map(async (r) => {
      this.traces.set(r.run, traceOf(await fetchScans(r.run)));
    }));
    this.showLegend();
    this.build();
  }

  setKind(kind) {
    this.kind = kind;
    this.build();
  }

  // Normalised traces are percentages: an intensity zoom of counts no
  // longer applies (before the first drawing, the zooms asked for stay).
  setNormalise(normalise) {
    if (this.plot && normalise !== this.normalise) this.clearIntensityZooms();
    this.normalise = normalise;
    this.build();
  }

  clearIntensityZooms() {
    this.yZoom.range = null;
    this.xicZoom.range = null;
    this.onView?.('y', null);
    this.onView?.('xic_y', null);
  }

  setSelected(k) {
    this.selected = k;
    this.build();
  }

  // The XICs of `mzs` in every run (± tolerance in unit 'ppm' or 'da', at
  // MS level `level`); [] clears them.
  async setXics(mzs, tolerance, unit, level) {
    if (!mzs.length) {
      this.xics = [];
      this.xicZoom.range = null;
      this.onView?.('xic_y', null);
      this.build();
      return;
    }
    const answers = await Promise.all(this.runs.map((r) => fetchXic(mzs, tolerance, unit, level, r.run)));
    this.xics = [];
    this.runs.forEach((r, i) => {
      mzs.forEach((target, targetIndex) => {
        const rows = answers[i].filter((row) => row.target === target && Number.isFinite(row.rt_sec))
          .sort((a, b) => a.rt_sec - b.rt_sec);
        this.xics.push({ run: r.run, target, targetIndex, times: rows.map((row) => row.rt_sec),
                         values: rows.map((row) => row.intensity) });
      });
    });
    this.build();
  }

  showLegend() {
    this.legend.replaceChildren(...this.runs.map((r) => swatchItem({
      checked: this.shown.get(r.run), color: colorOf(r.run), text: r.name, title: r.path,
      dataset: { run: String(r.run) },
      onChange: (checked) => {
        this.shown.set(r.run, checked);
        this.showSeries();
        this.onHidden?.(this.runs.filter((x) => !this.shown.get(x.run)).map((x) => x.run));
      },
    })));
  }

  // One series per run, then one per run and XIC target; the runs' series
  // in the order of this.seriesRuns.
  build() {
    const key = this.kind === 'tic' ? 'tic' : 'bpc';
    const tables = [];
    const series = [RT_SERIES];
    this.seriesRuns = [];
    const unit = this.normalise ? '%' : '';
    const value = (_u, v) => (v == null ? '–' : `${formatIntensity(v)}${unit}`);
    for (const r of this.runs) {
      const trace = this.traces.get(r.run);
      if (!trace) continue;
      tables.push([trace.times, drawnValues(scaled(trace[key], this.normalise))]);
      series.push(lineSeries(r.name, colorOf(r.run), { width: r.run === this.selected ? 2 : 1, value }));
      this.seriesRuns.push(r.run);
    }
    this.xics.forEach((x) => {
      tables.push([x.times, drawnValues(scaled(x.values, this.normalise))]);
      series.push(lineSeries(`${this.runs.find((r) => r.run === x.run)?.name} XIC ${x.target}`,
                             colorOf(x.run), { width: 1, dash: XIC_DASHES[x.targetIndex % XIC_DASHES.length],
                                               scale: this.normalise ? 'y' : 'xic', value }));
      this.seriesRuns.push(x.run);
    });
    if (!tables.length) return;
    const data = uPlot.join(tables);
    const zoom = narrower(this.plot ? xRangeOf(this.plot) : this.wantedX, data[0]);
    this.wantedX = null;
    this.plot?.destroy();
    this.plot = intensityChart(this.chart, data, {
      x: 'retention time (s)', height: 240, series, legend: { show: false },
      y: this.normalise ? "% of each trace's highest" : `${this.kind.toUpperCase()} ${INTENSITY_LABEL}`,
      zoom: this.yZoom, onZoom: () => this.onView?.('y', this.yZoom.range),
      xic: this.xics.length && !this.normalise ? {
        label: `XIC ${INTENSITY_LABEL}`, zoom: this.xicZoom,
        onZoom: () => this.onView?.('xic_y', this.xicZoom.range),
      } : null,
      hooks: {
        setScale: [(u, key) => { if (key === 'x') this.reportView(u); }],
        draw: [() => {
          this.onDrawn?.();
          this.onDrawn = null;
        }],
      },
    });
    if (zoom) this.plot.setScale('x', { min: zoom[0], max: zoom[1] });
    this.showSeries();
  }

  // Tells onView of the retention-time range shown (null: every time).
  reportView(u) {
    const range = xRangeOf(u);
    if (range && u.data[0].length) this.onView?.('rt', narrower(range, u.data[0]));
  }

  showSeries() {
    this.seriesRuns.forEach((run, i) => {
      const show = this.shown.get(run);
      if (this.plot.series[i + 1].show !== show) this.plot.setSeries(i + 1, { show });
    });
    this.report();
  }

  // For tests: the series drawn, with their run, whether shown and their
  // highest value.
  report() {
    window.velmoranOverlay = this.seriesRuns.map((run, i) => ({
      run, label: this.plot.series[i + 1].label, shown: this.plot.series[i + 1].show,
      color: colorOf(run),
      highest: this.plot.data[i + 1].reduce((m, v) => (v != null && v > m ? v : m), 0),
    }));
  }
}
