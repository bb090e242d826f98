// The header: the run's name and what it holds (/api/run), and the scans
// without a finite retention time, which the charts leave out.
import { element } from './dom.js';
import { formatCount, formatNumber } from './format.js';

// A range with only its finite ends: "a – b", "from a", "up to b", or "–".
function finiteRange(low, high, digits) {
  const lowOk = Number.isFinite(low);
  const highOk = Number.isFinite(high);
  if (lowOk && highOk) return `${formatNumber(low, digits)} – ${formatNumber(high, digits)}`;
  if (lowOk) return `from ${formatNumber(low, digits)}`;
  if (highOk) return `up to ${formatNumber(high, digits)}`;
  return '–';
}

export function showSummary(run, scans) {
  document.getElementById('run-name').textContent = run.name;
  document.title = `${run.name} · velmoran view`;
  const levels = Object.entries(run.scans_by_ms_level)
    .map(([level, count]) => `MS${level} ${formatCount(count)}`).join(', ');
  const untimed = scans.filter((s) => !Number.isFinite(s.rt_sec)).length;
  const items = [
    ['scans', `${formatCount(run.scans)} (${levels})`],
    ['spectra', `${formatCount(run.profile_spectra)} profile, ` +
      `${formatCount(run.centroid_spectra)} centroid, ${formatCount(run.empty_spectra)} empty`],
    ['points', formatCount(run.points)],
    ['RT (s)', finiteRange(run.rt_sec_min, run.rt_sec_max, 2) +
      (untimed ? ` (${formatCount(untimed)} scan${untimed > 1 ? 's' : ''} without a finite RT)` : '')],
    ['m/z', finiteRange(run.mz_min, run.mz_max, 4)],
  ];
  document.getElementById('run-summary').replaceChildren(...items.map(([key, value]) =>
    element('div', {}, [element('dt', { textContent: key }), element('dd', { textContent: value })])));
}
