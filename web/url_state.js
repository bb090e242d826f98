// The view's state in the URL's fragment (#scan=12&xic=524.26,609.3&...):
// a reload or a bookmark restores it. Every key the page keeps is declared
// once, below, with its kind (how its text reads) and its scope: a 'run'
// key describes the run shown (its scan, its zooms) and goes when another
// run is chosen; a 'page' key is a choice that applies to any run. Each
// panel reads its keys at start and writes them as they change; the
// address bar follows after a short pause (history.replaceState, no new
// history entry, no reload).
// The token is never kept here: api.js takes it out of the query, and a
// `token` key in the fragment is dropped unread, as is any key not declared.

// kind: 'range' "LOW:HIGH", two finite numbers, LOW < HIGH;
// 'integer' a whole number; 'positive' a number above 0; 'numbers' a list
// of positive numbers (kept as typed), 'integers' a list of whole numbers,
// comma-separated; 'choice' one of `values`; 'flag' a boolean as 1 or 0.
// Writing a key's default (`dflt`) removes it.
const KEYS = {
  run: { kind: 'integer', scope: 'page', dflt: 0 },
  scan: { kind: 'integer', scope: 'run', dflt: 0 },
  rt: { kind: 'range', scope: 'run' },
  mz: { kind: 'range', scope: 'run' },
  rt_y: { kind: 'range', scope: 'run' },
  xic_y: { kind: 'range', scope: 'run' },
  mz_y: { kind: 'range', scope: 'run' },
  map_rt: { kind: 'range', scope: 'run' },
  map_mz: { kind: 'range', scope: 'run' },
  trace: { kind: 'choice', scope: 'page', values: ['tic', 'bpc'] },
  axis: { kind: 'choice', scope: 'page', values: ['linear', 'log', 'relative'] },
  lock: { kind: 'flag', scope: 'page', dflt: true },
  xic: { kind: 'numbers', scope: 'page' },
  tol: { kind: 'positive', scope: 'page' },
  unit: { kind: 'choice', scope: 'page', values: ['ppm', 'da'] },
  level: { kind: 'integer', scope: 'page' },
  map_level: { kind: 'integer', scope: 'page' },
  map_marks: { kind: 'flag', scope: 'page', dflt: true },
  hide: { kind: 'integers', scope: 'page', dflt: [] },
  norm: { kind: 'flag', scope: 'page', dflt: false },
  ov_rt: { kind: 'range', scope: 'page' },
  ov_y: { kind: 'range', scope: 'page' },
  ov_xic_y: { kind: 'range', scope: 'page' },
};

const WRITE_DELAY_MS = 250;
// A fragment longer than this (a crafted link) is ignored whole.
const MAX_FRAGMENT = 16384;
// The narrowest span of a range, relative to its magnitude (at least 1): a
// double holds about 16 significant digits, so the ticks of a narrower
// range would step by less than the spacing of doubles there, and an axis
// stepping from tick to tick would never reach its end. 1e-9 leaves every
// tick of the widest axis seven digits of room and is far below the
// resolution of any m/z, time or intensity.
const MIN_RELATIVE_SPAN = 1e-9;

const values = new Map();
let timer = null;

function declared(key) {
  const spec = KEYS[key];
  if (!spec) throw new Error(`url_state: no key ${key}`);
  return spec;
}

// A key's value when the fragment holds none (a fresh list for a list).
function defaultOf(spec) {
  const dflt = spec.dflt ?? spec.values?.[0] ?? null;
  return Array.isArray(dflt) ? [...dflt] : dflt;
}

function load() {
  const fragment = location.hash.slice(1);
  if (fragment.length > MAX_FRAGMENT) return;
  let dropped = false;
  for (const [key, value] of new URLSearchParams(fragment)) {
    if (!Object.hasOwn(KEYS, key)) dropped = true;
    else if (!values.has(key)) values.set(key, value);
  }
  // A token put into the fragment leaves the address bar at once.
  if (dropped) flush();
}

function flush() {
  timer = null;
  history.replaceState(history.state, '', location.pathname + location.search + fragment());
}

// The range [low, high] as an axis can show it: null unless both ends are
// finite, low ≤ high and the span is finite; a span narrower than
// MIN_RELATIVE_SPAN of the ends' magnitude is widened about its middle.
// Every range the page reads or applies passes through here.
export function saneRange(low, high) {
  if (!Number.isFinite(low) || !Number.isFinite(high) || low > high ||
      !Number.isFinite(high - low)) {
    return null;
  }
  const least = MIN_RELATIVE_SPAN * Math.max(1, Math.abs(low), Math.abs(high));
  if (high - low >= least) return [low, high];
  const middle = low / 2 + high / 2;
  return [middle - least / 2, middle + least / 2];
}

const isWhole = (text) => /^\d{1,9}$/.test(text);
const isPositive = (text) => text.trim() !== '' && Number(text) > 0 && Number.isFinite(Number(text));

// "524.26, 609.3" (commas, spaces or semicolons between) as its parts, as
// typed; null when any part is not a positive number.
export function positiveList(text) {
  const parts = text.split(/[\s,;]+/).filter((p) => p !== '');
  return parts.length && parts.every(isPositive) ? parts : null;
}

// Reads a key's text as its kind; the key's default (or null) when absent
// or not of its kind.
const readers = {
  range: (text) => {
    const parts = text.split(':');
    if (parts.length !== 2 || parts.some((p) => p.trim() === '')) return undefined;
    const [low, high] = parts.map(Number);
    return low < high ? saneRange(low, high) ?? undefined : undefined;
  },
  integer: (text) => (isWhole(text) ? Number(text) : undefined),
  positive: (text) => (isPositive(text) ? Number(text) : undefined),
  numbers: (text) => positiveList(text) ?? undefined,
  integers: (text) => text.split(',').filter(isWhole).map(Number),
  choice: (text, spec) => (spec.values.includes(text) ? text : undefined),
  flag: (text) => (text === '1' ? true : text === '0' ? false : undefined),
};

const writers = {
  range: (range) => `${range[0]}:${range[1]}`,
  numbers: (list) => list.join(','),
  integers: (list) => list.join(','),
  flag: (on) => (on ? '1' : '0'),
};

// The value kept under `key`, of its kind, or its default.
export function readState(key) {
  const spec = declared(key);
  const text = values.get(key);
  const value = text === undefined ? undefined : readers[spec.kind](text, spec);
  return value !== undefined ? value : defaultOf(spec);
}

// Keeps `value` (of the key's kind; null, the default or an empty list
// removes the key); the address bar follows within WRITE_DELAY_MS.
export function writeState(key, value) {
  const spec = declared(key);
  const text = value === null || value === undefined || value === defaultOf(spec) ? ''
    : (writers[spec.kind] ?? String)(value);
  if (text === '') values.delete(key);
  else values.set(key, text);
  if (timer === null) timer = setTimeout(flush, WRITE_DELAY_MS);
}

// Check box `box` kept in the URL under the flag `key`: checked as the URL
// says, then onChange(checked) at once and after each change.
export function keepChecked(box, key, onChange) {
  box.checked = readState(key);
  onChange(box.checked);
  box.addEventListener('change', () => {
    writeState(key, box.checked);
    onChange(box.checked);
  });
}

// Forgets every key of the run shown (another run is chosen).
export function clearRunState() {
  for (const [key, spec] of Object.entries(KEYS)) if (spec.scope === 'run') values.delete(key);
}

// The whole state as the text of a fragment ("#scan=12&..."; "" when empty).
export function fragment() {
  const text = new URLSearchParams([...values]).toString();
  return text ? `#${text}` : '';
}

load();
