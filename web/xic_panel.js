// The XIC box (#xic-form): extracts the XICs of up to 100 m/z values from
// the run shown (and every run of the overlay), draws them over the
// chromatogram and keeps them in the URL (xic, tol, unit, level; their
// intensity zoom xic_y). The status line gives the highest value in view.
import { fetchXic } from './api.js';
import { formatIntensity } from './format.js';
import { levelsOf } from './scans.js';
import { positiveList, readState, writeState } from './url_state.js';

const MAX_TARGETS = 100;
const $ = (id) => document.getElementById(id);

export class XicPanel {
  constructor(chromatogram, overlay, run, scans) {
    // rows: the last XIC's rows as the API gave them (for the CSV).
    Object.assign(this, { chromatogram, overlay, run, rows: null, summary: '' });
    this.wanted = { xic: readState('xic'), tol: readState('tol'), unit: readState('unit'),
                    level: readState('level'), y: readState('xic_y') };
    this.levels = $('xic-level');
    for (const level of levelsOf(scans)) {
      this.levels.add(new Option(`MS${level}`, String(level), false, level === chromatogram.level));
    }
    $('xic-form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.extract();
    });
    $('xic-clear').addEventListener('click', () => this.clear());
  }

  showStatus() {
    if (!this.rows) return;
    const highest = this.chromatogram.xicHighestInView();
    $('xic-status').textContent = `${this.summary}, highest ${formatIntensity(highest)} counts` +
      (this.chromatogram.xRange() ? ' in view' : '');
  }

  async extract() {
    const status = $('xic-status');
    const mzs = positiveList($('xic-mz').value);
    const tolerance = Number($('xic-tolerance').value);
    const unit = $('xic-unit').value === 'da' ? 'da' : 'ppm';
    const level = Number(this.levels.value);
    status.className = '';
    if (!mzs || mzs.length > MAX_TARGETS || !Number.isFinite(tolerance) || !(tolerance > 0)) {
      status.className = 'error';
      status.textContent = `Give 1 to ${MAX_TARGETS} m/z values and a tolerance above 0.`;
      return;
    }
    status.textContent = 'extracting…';
    const chromatogram = this.chromatogram;
    try {
      const [rows] = await Promise.all([fetchXic(mzs, tolerance, unit, level, this.run),
                                        this.overlay?.setXics(mzs, tolerance, unit, level)]);
      writeState('xic', mzs);
      writeState('tol', tolerance);
      writeState('unit', unit);
      writeState('level', level);
      if (level !== chromatogram.level) chromatogram.setLevel(level);
      const byTarget = new Map(mzs.map((mz) => [mz, new Array(chromatogram.times.length).fill(null)]));
      for (const row of rows) {
        const position = chromatogram.positionOfScanId.get(row.scan_id);
        const values = byTarget.get(row.target);
        if (values && position !== undefined) values[position] = row.intensity;
      }
      chromatogram.setXics([...byTarget].map(([target, values]) => ({ target, values })));
      this.rows = rows;
      $('xic-csv').disabled = false;
      this.summary = `${mzs.length} XIC${mzs.length > 1 ? 's' : ''} at MS${level} ` +
        `± ${tolerance} ${unit === 'da' ? 'Da' : 'ppm'}`;
      this.showStatus();
    } catch (error) {
      status.className = 'error';
      status.textContent = error.message;
    }
  }

  clear() {
    this.chromatogram.xicZoom.range = null;
    this.chromatogram.setXics([]);
    this.overlay?.setXics([]);
    this.rows = null;
    $('xic-csv').disabled = true;
    $('xic-status').textContent = '';
    for (const key of ['xic', 'tol', 'unit', 'level', 'xic_y']) writeState(key, null);
  }

  // The XICs the URL asks for, with their intensity zoom.
  async restore() {
    const { xic, tol, unit, level, y } = this.wanted;
    if (!xic) return;
    $('xic-mz').value = xic.slice(0, MAX_TARGETS).join(', ');
    if (tol !== null) $('xic-tolerance').value = String(tol);
    $('xic-unit').value = unit;
    if ([...this.levels.options].some((o) => o.value === String(level))) this.levels.value = String(level);
    await this.extract();
    if (y && this.chromatogram.xics.length) {
      this.chromatogram.xicZoom.range = y;
      this.chromatogram.build();
    }
  }
}
