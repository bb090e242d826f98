// The view's state in the URL's fragment (#scan=12&xic=524.26,609.3&...):
// a reload or a bookmark restores it. A small store of text values by key;
// each part of the page reads its keys at start and writes them as they
// change, and the address bar follows after a short pause
// (history.replaceState, no new history entry, no reload).
// The token is never kept here: api.js takes it out of the query, and a
// `token` key in the fragment is dropped unread.

const WRITE_DELAY_MS = 250;
// A fragment longer than this (a crafted link) is ignored whole.
const MAX_FRAGMENT = 16384;

const values = new Map();
let timer = null;

function load() {
  const fragment = location.hash.slice(1);
  if (fragment.length > MAX_FRAGMENT) return;
  let dropped = false;
  for (const [key, value] of new URLSearchParams(fragment)) {
    if (key === 'token') dropped = true;
    else if (!values.has(key)) values.set(key, value);
  }
  // A token put into the fragment leaves the address bar at once.
  if (dropped) flush();
}

function flush() {
  timer = null;
  const fragment = new URLSearchParams([...values]).toString();
  const url = location.pathname + location.search + (fragment ? `#${fragment}` : '');
  history.replaceState(history.state, '', url);
}

load();

// The whole state as the text of a fragment ("#scan=12&..."; "" when empty).
export function fragment() {
  const text = new URLSearchParams([...values]).toString();
  return text ? `#${text}` : '';
}

// The text kept under `key`, or null.
export function readState(key) {
  return values.get(key) ?? null;
}

// Keeps `value` (text; null or '' removes the key); the address bar
// follows within WRITE_DELAY_MS.
export function writeState(key, value) {
  if (key === 'token') return;
  if (value === null || value === undefined || value === '') values.delete(key);
  else values.set(key, String(value));
  if (timer === null) timer = setTimeout(flush, WRITE_DELAY_MS);
}

// A range "low:high" of two finite numbers with low < high, or null.
export function readRange(key) {
  const parts = (readState(key) ?? '').split(':');
  if (parts.length !== 2) return null;
  const [low, high] = parts.map((p) => (p.trim() === '' ? NaN : Number(p)));
  return Number.isFinite(low) && Number.isFinite(high) && low < high ? [low, high] : null;
}

export function writeRange(key, range) {
  writeState(key, range ? `${range[0]}:${range[1]}` : null);
}
