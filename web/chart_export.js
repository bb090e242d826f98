// The export buttons of the chromatogram, the spectrum and the map: each
// chart as PNG (its canvas) and SVG, its numbers as CSV, as the API gave them.
import {
  chartSvg, downloadCanvasPng, downloadCsv, downloadRows, downloadSvg, downloadText,
} from './export.js';

// A file name from the run's name: letters, digits, dot, dash, underscore.
const safe = (text) => String(text).replace(/[^A-Za-z0-9._-]+/g, '_').replace(/^\.+/, '') || 'run';

// Wires the buttons. run: the /api/run object; chromatogram: the
// Chromatogram; spectrumView: the SpectrumView; map: the RunMap; xicRows()
// the rows of the last XIC request (null without one).
export function wireExports({ run, chromatogram, spectrumView, map, xicRows }) {
  const base = safe(run.name.replace(/\.d$/i, ''));
  const on = (id, handler) => document.getElementById(id)?.addEventListener('click', handler);
  const chromatogramName = () => `${base}-ms${chromatogram.level}-${chromatogram.kind}`;
  const spectrumName = () => `${base}-scan${spectrumView.spectrum?.scan_id ?? 'none'}`;

  on('chromatogram-png', () => downloadCanvasPng(`${chromatogramName()}.png`,
                                                 chromatogram.plot.ctx.canvas));
  // The fragment scans as ticks at the bottom, the selected scan dashed.
  on('chromatogram-svg', () => {
    const marks = chromatogram.markedScans.map((s) => ({ x: s.rt_sec, color: '#c2410c', from: 0.05 }));
    const selected = chromatogram.scans[chromatogram.selected];
    if (selected) marks.push({ x: selected.rt_sec, color: '#111827', dashed: true });
    downloadSvg(`${chromatogramName()}.svg`, chartSvg(chromatogram.plot, {
      title: `${run.name}: MS${chromatogram.level} ${chromatogram.kind.toUpperCase()}`, marks }));
  });
  // Every scan of the trace's level, those without a finite retention
  // time too (their rt_sec is empty), in table order.
  on('chromatogram-csv', () => {
    const scans = chromatogram.scans.filter((s) => s.ms_level === chromatogram.level);
    const keys = ['index', 'scan_id', 'ms_level', 'rt_sec', 'tic', 'base_peak_mz',
                  'base_peak_intensity'];
    downloadCsv(`${chromatogramName()}.csv`, keys, keys.map((k) => scans.map((s) => s[k])));
  });
  on('xic-csv', () => {
    const rows = xicRows();
    if (rows) downloadRows(`${base}-xic.csv`, rows);
  });

  on('spectrum-png', () => {
    if (spectrumView.plot) downloadCanvasPng(`${spectrumName()}.png`, spectrumView.plot.ctx.canvas);
  });
  on('spectrum-svg', () => {
    if (!spectrumView.plot) return;
    const title = document.getElementById('spectrum-title')?.textContent ?? '';
    const precursor = spectrumView.spectrum?.precursor_mz;
    const marks = Number.isFinite(precursor) ? [{ x: precursor, color: '#c2410c', dashed: true }] : [];
    downloadSvg(`${spectrumName()}.svg`, chartSvg(spectrumView.plot, {
      title, sticks: spectrumView.centroided ? new Set([1]) : new Set(), marks }));
  });
  // The whole spectrum, whatever the zoom: every point as the API gave it.
  on('spectrum-csv', () => {
    const spectrum = spectrumView.spectrum;
    if (spectrum) downloadCsv(`${spectrumName()}.csv`, ['mz', 'intensity'], [spectrum.mz, spectrum.intensity]);
  });

  on('map-png', () => downloadCanvasPng(`${base}-map.png`, map.plot.ctx.canvas));
  on('map-svg', () => downloadSvg(`${base}-map.svg`, map.svg()));
  on('map-csv', () => downloadText(`${base}-map.csv`, map.csv(), 'text/csv'));
}
