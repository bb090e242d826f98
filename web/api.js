// The viewer's JSON API; errors come back as {"error": "..."}. Requests
// carry no token: opening the printed URL (?token=...) gave this browser the
// server's session cookie (HttpOnly, for this server only), which every
// request, a reload included, sends by itself.
// The token leaves the address bar, the history and screenshots at once.
if (new URLSearchParams(location.search).has('token')) {
  history.replaceState(history.state, '', location.pathname + location.hash);
}

// Whether this machine stores numbers little-endian, as the map's cells come.
export const LITTLE_ENDIAN = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

// The response to `path`, or the error it carries.
async function fetchOk(path) {
  const response = await fetch(path);
  if (!response.ok) throw new Error((await response.json()).error ?? `HTTP ${response.status}`);
  return response;
}

const getJson = async (path) => (await fetchOk(path)).json();

// Opens the page again with this fragment ("#run=2&..."), in place of the
// current history entry, as the page's own state does.
export function openAgain(hash) {
  history.replaceState(history.state, '', location.pathname + hash);
  location.reload();
}

// Each run's routes are under /api/run/K/ (K its position, from 0); every
// fetcher of a run's data takes that position last, 0 when left out.
const runPath = (run, route) => `/api/run/${run}/${route}`;

export const fetchRuns = () => getJson('/api/runs');
export const fetchRun = (run = 0) => getJson(runPath(run, 'info'));
export const fetchScans = (run = 0) => getJson(runPath(run, 'scans'));
export const fetchSpectrum = (index, run = 0) => getJson(runPath(run, `spectrum/${index}`));
export const fetchChromatograms = (run = 0) => getJson(runPath(run, 'chromatograms'));

// unit: 'ppm' or 'da', the tolerance's unit.
export function fetchXic(mzs, tolerance, unit, msLevel, run = 0) {
  const query = new URLSearchParams();
  for (const mz of mzs) query.append('mz', mz);
  query.set(unit === 'da' ? 'da' : 'ppm', tolerance);
  query.set('ms_level', msLevel);
  return getJson(runPath(run, `xic?${query}`));
}

// The map's grid (/api/map): its float32 cells, row-major from the highest
// m/z down, and the bounds the server gives in its headers.
export async function fetchMap(params, run = 0) {
  const response = await fetchOk(runPath(run, `map?${new URLSearchParams(params)}`));
  const header = (name) => response.headers.get(`X-Velmoran-Map-${name}`);
  const range = (name) => header(name).split(':').map(Number);
  const bytes = await response.arrayBuffer();
  let cells = new Float32Array(bytes);
  if (!LITTLE_ENDIAN) {
    const view = new DataView(bytes);
    cells = cells.map((_, i) => view.getFloat32(4 * i, true));  // a big-endian machine
  }
  return { cells, width: Number(header('Width')), height: Number(header('Height')),
           rt: range('Rt'), mz: range('Mz'), msLevel: Number(header('Ms-Level')),
           scans: Number(header('Scans')), points: Number(header('Points')),
           highest: Number(header('Highest')) };
}
