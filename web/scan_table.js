// The scan table of the selected run: one row per scan in a scrolling box
// that holds only the rows in view (30,000 scans scroll as 30 do). A click
// on a column's header sorts by it, a second click reverses; the rows
// filter by MS level and by RT and precursor ranges; a click on a row, or
// ↑ ↓ in the focused table, selects a scan, and the selected row follows
// the selection made elsewhere and scrolls into view.
import { element } from './dom.js';
import { formatCount, formatIntensity, formatNumber } from './format.js';
import { levelsOf } from './scans.js';

// A row's height in pixels: the CSS of #scans gives rows exactly this.
const ROW_PX = 22;
// Rows drawn above and below the visible ones.
const OVERSCAN = 10;

const COLUMNS = [
  { key: 'index', label: 'index', text: (s) => String(s.index) },
  { key: 'scan_id', label: 'scan id', text: (s) => String(s.scan_id) },
  { key: 'ms_level', label: 'level', text: (s) => `MS${s.ms_level}` },
  { key: 'rt_sec', label: 'RT (s)', text: (s) => formatNumber(s.rt_sec, 3) },
  { key: 'precursor_mz', label: 'precursor m/z', text: (s) => formatNumber(s.precursor_mz, 4) },
  { key: 'mrm_channel', label: 'channel', text: (s) => (s.mrm_channel ?? '–').toString() },
  { key: 'tic', label: 'TIC', text: (s) => formatIntensity(s.tic) },
  { key: 'base_peak_mz', label: 'base peak m/z', text: (s) => formatNumber(s.base_peak_mz, 4) },
  { key: 'base_peak_intensity', label: 'base peak', text: (s) => formatIntensity(s.base_peak_intensity) },
];

// A number typed in a filter box, or null when the box is empty or not a number.
function bound(input) {
  const value = input.value.trim() === '' ? NaN : Number(input.value);
  return Number.isFinite(value) ? value : null;
}

// Whether `v` lies within the bounds typed (null: no bound); NaN never does.
const within = (v, low, high) => (low === null || v >= low) && (high === null || v <= high);

export class ScanTable {
  // Builds the filters and the table inside `panel`; onSelect(index) gets
  // the table index of the scan the user picked.
  constructor(panel, { onSelect }) {
    this.onSelect = onSelect;
    this.scans = [];
    this.rows = new Int32Array(0);  // scan indices in the order shown
    this.rowOf = new Int32Array(0);  // scan index -> row, -1 when filtered out
    this.sortKey = 'index';
    this.sortDirection = 1;
    this.selected = null;
    this.drawnFirst = -1;

    this.level = element('select', { id: 'scan-level', title: 'Only the scans of this MS level' });
    const number = (id, title) => element('input', { id, type: 'number', step: 'any', title });
    this.rtMin = number('scan-rt-min', 'Lowest retention time (s)');
    this.rtMax = number('scan-rt-max', 'Highest retention time (s)');
    this.precursorMin = number('scan-precursor-min', 'Lowest precursor m/z');
    this.precursorMax = number('scan-precursor-max', 'Highest precursor m/z');
    this.count = element('span', { id: 'scan-count' });
    const filters = element('form', { id: 'scan-filters' }, [
      element('label', {}, ['level ', this.level]),
      element('label', {}, ['RT ', this.rtMin, ' – ', this.rtMax, ' s']),
      element('label', {}, ['precursor m/z ', this.precursorMin, ' – ', this.precursorMax]),
      this.count,
    ]);
    filters.addEventListener('submit', (event) => event.preventDefault());
    filters.addEventListener('input', () => this.refresh());
    this.level.addEventListener('change', () => this.refresh());

    this.headers = COLUMNS.map((column) => {
      const button = element('button', { type: 'button', textContent: column.label });
      button.addEventListener('click', () => this.sortBy(column.key));
      return element('th', { scope: 'col' }, [button]);
    });
    this.body = element('tbody');
    this.table = element('table', { id: 'scans' }, [
      element('thead', {}, [element('tr', {}, this.headers)]),
      this.body,
    ]);
    this.table.setAttribute('role', 'grid');
    this.table.setAttribute('aria-label', 'Scans of the selected run');
    this.scroller = element('div', { id: 'scans-scroll', tabIndex: 0 }, [this.table]);
    panel.append(element('div', { className: 'toolbar' }, [filters]), this.scroller);

    let pending = false;
    this.scroller.addEventListener('scroll', () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => {
        pending = false;
        this.draw();
      });
    });
    this.body.addEventListener('click', (event) => {
      const row = event.target.closest('tr[data-index]');
      if (row) this.onSelect(Number(row.dataset.index));
    });
    // ↑ ↓ step through the rows as shown (sorted and filtered).
    this.scroller.addEventListener('keydown', (event) => {
      const step = { ArrowUp: -1, ArrowDown: 1 }[event.key];
      if (!step || !this.rows.length) return;
      event.preventDefault();
      event.stopPropagation();
      const at = this.selected === null ? -1 : this.rowOf[this.selected];
      const next = at < 0 ? 0 : Math.min(this.rows.length - 1, Math.max(0, at + step));
      this.onSelect(this.rows[next]);
    });
    window.addEventListener('resize', () => this.draw(true));
  }

  // The rows of /api/scans of the run to show; filters stay, the selection goes.
  setScans(scans) {
    this.scans = scans;
    this.selected = null;
    const levels = levelsOf(scans);
    const chosen = this.level.value;
    this.level.replaceChildren(new Option('all', ''),
                               ...levels.map((l) => new Option(`MS${l}`, String(l))));
    this.level.value = levels.includes(Number(chosen)) ? chosen : '';
    this.refresh();
  }

  sortBy(key) {
    this.sortDirection = key === this.sortKey ? -this.sortDirection : 1;
    this.sortKey = key;
    this.refresh();
  }

  // Filters, sorts and draws again, keeping the selected row in view.
  refresh() {
    const level = this.level.value === '' ? null : Number(this.level.value);
    const [rtLow, rtHigh] = [bound(this.rtMin), bound(this.rtMax)];
    const [pLow, pHigh] = [bound(this.precursorMin), bound(this.precursorMax)];
    const byPrecursor = pLow !== null || pHigh !== null;
    const kept = [];
    for (const s of this.scans) {
      if (level !== null && s.ms_level !== level) continue;
      if (!within(s.rt_sec, rtLow, rtHigh)) continue;
      if (byPrecursor && (s.precursor_mz == null || !within(s.precursor_mz, pLow, pHigh))) continue;
      kept.push(s.index);
    }
    this.rows = Int32Array.from(kept);
    this.sortRows();
    this.rowOf = new Int32Array(this.scans.length).fill(-1);
    this.rows.forEach((index, row) => { this.rowOf[index] = row; });

    const order = this.sortDirection > 0 ? 'ascending' : 'descending';
    this.headers.forEach((th, i) => th.setAttribute('aria-sort', COLUMNS[i].key === this.sortKey ? order : 'none'));
    this.table.setAttribute('aria-rowcount', String(this.rows.length + 1));
    const noun = this.scans.length === 1 ? 'scan' : 'scans';
    this.count.textContent = this.rows.length === this.scans.length
      ? `${formatCount(this.scans.length)} ${noun}`
      : `${formatCount(this.rows.length)} of ${formatCount(this.scans.length)} ${noun}`;
    this.draw(true);
    if (this.selected !== null) this.scrollTo(this.selected);
  }

  // Scans without a value in the column (no precursor, no channel) come
  // last either way; equal values keep the table's order.
  sortRows() {
    const key = this.sortKey;
    const direction = this.sortDirection;
    if (key === 'index' && direction > 0) return;  // kept in table order already
    const values = Float64Array.from(this.scans, (s) => s[key] ?? NaN);
    const valued = [];
    const missing = [];
    for (const i of this.rows) (Number.isNaN(values[i]) ? missing : valued).push(i);
    const sorted = Int32Array.from(valued).sort(direction > 0
      ? (a, b) => values[a] - values[b] || a - b
      : (a, b) => values[b] - values[a] || a - b);
    this.rows = Int32Array.from([...sorted, ...missing]);
  }

  // Marks the scan at table index `index` as selected and scrolls its row into view.
  select(index) {
    this.selected = index;
    this.scrollTo(index);
    this.draw(true);
  }

  // A row just past an edge of the view (the next one) scrolls in at that
  // edge; a row further away comes to the middle.
  scrollTo(index) {
    const row = this.rowOf[index];
    if (row === undefined || row < 0) return;
    const view = this.scroller.clientHeight - this.table.tHead.offsetHeight;
    const top = row * ROW_PX;
    const scrolled = this.scroller.scrollTop;
    if (top >= scrolled && top + ROW_PX <= scrolled + view) return;
    if (top >= scrolled - ROW_PX && top < scrolled) {
      this.scroller.scrollTop = top;
    } else if (top + ROW_PX > scrolled + view && top <= scrolled + view) {
      this.scroller.scrollTop = top + ROW_PX - view;
    } else {
      this.scroller.scrollTop = Math.max(0, top - (view - ROW_PX) / 2);
    }
  }

  // Draws the rows in view and spacers for the rest; only when the first
  // row drawn changes, unless `force`.
  draw(force = false) {
    const visible = Math.ceil(this.scroller.clientHeight / ROW_PX) + 1;
    const first = Math.max(0, Math.floor(this.scroller.scrollTop / ROW_PX) - OVERSCAN);
    const last = Math.min(this.rows.length, first + visible + 2 * OVERSCAN);
    if (!force && first === this.drawnFirst) return;
    this.drawnFirst = first;
    const spacer = (rows) => {
      const cell = element('td', { colSpan: COLUMNS.length });
      cell.style.height = `${rows * ROW_PX}px`;
      return element('tr', { className: 'spacer' }, [cell]);
    };
    const rows = [];
    if (first > 0) rows.push(spacer(first));
    for (let r = first; r < last; r++) {
      const scan = this.scans[this.rows[r]];
      const tr = element('tr', {}, COLUMNS.map((c) => element('td', { textContent: c.text(scan) })));
      tr.dataset.index = String(scan.index);
      tr.setAttribute('aria-rowindex', String(r + 2));
      if (scan.index === this.selected) {
        tr.className = 'selected';
        tr.setAttribute('aria-selected', 'true');
      }
      rows.push(tr);
    }
    if (last < this.rows.length) rows.push(spacer(this.rows.length - last));
    this.body.replaceChildren(...rows);
  }
}
