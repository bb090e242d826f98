// The spectrum's panel: the selected scan's spectrum (fetched once, the
// last 64 kept for going back and forth), its title, and its zooms and
// lock kept in the URL (mz, mz_y, lock) with the lock and reset controls.
import { fetchSpectrum } from './api.js';
import { onAxisMode } from './axes.js';
import { formatCount, formatNumber } from './format.js';
import { SpectrumView } from './spectrum.js';
import { keepChecked, readState, writeState } from './url_state.js';

const SPECTRA_KEPT = 64;
const $ = (id) => document.getElementById(id);

// leftOut: points without a finite m/z or intensity, not drawn.
function spectrumTitle(spectrum, leftOut) {
  const kind = spectrum.centroided === null ? 'no points'
    : `${spectrum.centroided ? 'centroid' : 'profile'}, ${formatCount(spectrum.mz.length)} points`;
  const rt = Number.isFinite(spectrum.rt_sec) ? `RT ${formatNumber(spectrum.rt_sec, 2)} s` : 'no finite RT';
  const parts = [`Scan ${spectrum.scan_id}`, `MS${spectrum.ms_level}`, rt];
  if (Number.isFinite(spectrum.precursor_mz)) {
    parts.push(`precursor m/z ${formatNumber(spectrum.precursor_mz)}`);
  }
  if (spectrum.mrm_channel != null) parts.push(`channel ${spectrum.mrm_channel}`);
  parts.push(kind);
  if (leftOut === spectrum.mz.length && leftOut > 0) parts.push('no finite point');
  else if (leftOut > 0) parts.push(`${formatCount(leftOut)} not finite, not drawn`);
  return parts.join(' · ');
}

export class SpectrumPanel {
  // run: the position of the run shown; scans: its rows of /api/scans.
  constructor(run, scans) {
    Object.assign(this, { run, scans, spectra: new Map(), latest: 0 });
    const view = new SpectrumView($('spectrum'), $('readout'), {
      onView: (range) => writeState('mz', range),
      onIntensityView: (range) => writeState('mz_y', range),
    });
    this.view = view;
    view.yZoom.range = readState('mz_y');
    view.zoom = readState('mz');
    keepChecked($('spectrum-lock'), 'lock', (on) => { view.lock = on; });
    $('spectrum-reset').addEventListener('click', () => view.resetZoom());
    // An intensity zoom is a range of one axis; another axis starts whole.
    onAxisMode(() => {
      view.yZoom.range = null;
      writeState('mz_y', null);
      view.rebuild();
    });
  }

  async spectrumAt(index) {
    let spectrum = this.spectra.get(index);
    if (!spectrum) {
      spectrum = await fetchSpectrum(index, this.run);
      if (this.spectra.size >= SPECTRA_KEPT) this.spectra.delete(this.spectra.keys().next().value);
      this.spectra.set(index, spectrum);
    }
    return spectrum;
  }

  // Shows the spectrum of table index `index`; resolves once it is drawn
  // (at once when a later call won).
  async show(index) {
    const request = ++this.latest;
    let spectrum;
    try {
      spectrum = await this.spectrumAt(index);
    } catch (error) {  // the scan could not be read: its error, in place of the spectrum
      if (request !== this.latest) return;
      $('spectrum-title').textContent = `Scan ${this.scans[index].scan_id} · ${error.message}`;
      await this.view.showUnreadable(error.message);
      return;
    }
    if (request !== this.latest) return;  // a later selection won
    const drawn = this.view.show(spectrum);
    $('spectrum-title').textContent = spectrumTitle(spectrum, this.view.leftOut);
    await drawn;
  }
}
