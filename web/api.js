// The viewer's JSON API. Every request carries the page's token in the
// X-Velmoran-Token header; errors come back as {"error": "..."}.
const token = new URLSearchParams(location.search).get('token') ?? '';
// Once read, the token leaves the address bar, the history and screenshots.
if (token) history.replaceState(history.state, '', location.pathname + location.hash);

async function getJson(path) {
  const response = await fetch(path, { headers: { 'X-Velmoran-Token': token } });
  const body = await response.json();
  if (!response.ok) throw new Error(body.error ?? `HTTP ${response.status}`);
  return body;
}

export const fetchRun = () => getJson('/api/run');
export const fetchScans = () => getJson('/api/scans');
export const fetchSpectrum = (index) => getJson(`/api/spectrum/${index}`);
export const fetchChromatograms = () => getJson('/api/chromatograms');

// unit: 'ppm' or 'da', the tolerance's unit.
export function fetchXic(mzs, tolerance, unit, msLevel) {
  const query = new URLSearchParams();
  for (const mz of mzs) query.append('mz', mz);
  query.set(unit === 'da' ? 'da' : 'ppm', tolerance);
  query.set('ms_level', msLevel);
  return getJson(`/api/xic?${query}`);
}
