// The page's keys: stepping through the scans and resetting the spectrum's
// zoom; `?` opens a dialog that lists them. Keys typed into a field (the
// XIC box, a selector) are the field's, never the page's.
import { element } from './dom.js';

// [keys, what they do], as the dialog lists them.
export const KEYS = [
  ['← →', 'previous / next scan in table order'],
  ['[ ]   Shift+← Shift+→', 'previous / next scan of the same MS level'],
  ['Home End', 'first / last scan'],
  ['PgUp PgDn', '10 scans back / on'],
  ['0', "reset the spectrum's zoom (m/z and intensity)"],
  ['?', 'this list'],
];

const PAGE_STEP = 10;

// Whether the key event belongs to a field the user is typing into.
function typing(event) {
  const target = event.target;
  return target instanceof HTMLElement &&
    (target.isContentEditable || target.closest('input, select, textarea, dialog') !== null);
}

// The scan to go to for `event`, from the selected table index `selected`
// of `scans` (the rows of /api/scans); null when the key is not a step.
export function stepTarget(event, selected, scans) {
  const last = scans.length - 1;
  if (last < 0) return null;
  if (event.key === 'Home') return 0;
  if (event.key === 'End') return last;
  if (selected === null) return null;
  const clamp = (i) => Math.min(last, Math.max(0, i));
  const sameLevel = (direction) => {
    const level = scans[selected].ms_level;
    for (let i = selected + direction; i >= 0 && i <= last; i += direction) {
      if (scans[i].ms_level === level) return i;
    }
    return selected;
  };
  switch (event.key) {
    case 'ArrowLeft': return event.shiftKey ? sameLevel(-1) : clamp(selected - 1);
    case 'ArrowRight': return event.shiftKey ? sameLevel(1) : clamp(selected + 1);
    case '[': return sameLevel(-1);
    case ']': return sameLevel(1);
    case 'PageUp': return clamp(selected - PAGE_STEP);
    case 'PageDown': return clamp(selected + PAGE_STEP);
    default: return null;
  }
}

// Shows the dialog that lists the keys, made once, on the first `?`.
function showKeys() {
  let dialog = document.getElementById('keys-dialog');
  if (!dialog) {
    const list = element('dl', {}, KEYS.flatMap(([keys, what]) => [
      element('dt', {}, keys.split(/ +/).flatMap((key) => [element('kbd', { textContent: key }), ' '])),
      element('dd', { textContent: what }),
    ]));
    const close = element('button', { type: 'button', textContent: 'Close', onclick: () => dialog.close() });
    dialog = element('dialog', { id: 'keys-dialog' }, [
      element('h2', { id: 'keys-dialog-title', textContent: 'Keys' }), list, close]);
    dialog.setAttribute('aria-labelledby', 'keys-dialog-title');
    document.body.append(dialog);
  }
  if (!dialog.open) dialog.showModal();
}

// Listens for the page's keys. select(index) selects a scan;
// selected() is the selected table index (null before one is);
// resetZoom() resets the spectrum's zoom.
export function listenForKeys({ scans, select, selected, resetZoom }) {
  document.addEventListener('keydown', (event) => {
    if (typing(event) || event.ctrlKey || event.metaKey || event.altKey) return;
    const action = new Map([['?', showKeys], ['0', resetZoom]]).get(event.key);
    if (action) {
      event.preventDefault();
      action();
      return;
    }
    const target = stepTarget(event, selected(), scans);
    if (target === null) return;
    event.preventDefault();
    if (target !== selected()) select(target);
  });
}
