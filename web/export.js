// Downloads made by the page: numbers as CSV, a chart as PNG or SVG.
// Numbers are written as JSON parsed them, in JavaScript's shortest text
// that reads back to the same value (String(number)): the CSV holds the
// API's values, not the page's rounded display.
import { element } from './dom.js';

// Saves `blob` as `name` through a link with a download attribute.
export function downloadBlob(name, blob) {
  const url = URL.createObjectURL(blob);
  const link = element('a', { href: url, download: name, hidden: true });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// One CSV cell: a number as its shortest round-trip text, null (or a
// value JSON could not hold) empty, text quoted when it must be.
function cell(value) {
  if (value === null || value === undefined) return '';
  if (typeof value === 'number') return Number.isFinite(value) ? String(value) : '';
  const text = String(value);
  return /[",\r\n]/.test(text) ? `"${text.replaceAll('"', '""')}"` : text;
}

// CSV text of named columns of equal length: header is [name], columns
// [[value...]].
export function csvText(header, columns) {
  const rows = [header.map(cell).join(',')];
  const length = columns.length ? Math.max(...columns.map((c) => c.length)) : 0;
  for (let i = 0; i < length; i++) rows.push(columns.map((c) => cell(c[i])).join(','));
  return `${rows.join('\r\n')}\r\n`;
}

export const downloadText = (name, text, type) => downloadBlob(name, new Blob([text], { type }));
export const downloadCsv = (name, header, columns) => downloadText(name, csvText(header, columns), 'text/csv');
export const downloadSvg = (name, svgText) => downloadText(name, svgText, 'image/svg+xml');

// CSV of objects (rows of the API): one column per key of the first row.
export const downloadRows = (name, rows, keys = Object.keys(rows[0] ?? {})) =>
  downloadCsv(name, keys, keys.map((k) => rows.map((r) => r[k])));

// A canvas as PNG on a white ground (a chart's canvas is transparent).
export function downloadCanvasPng(name, canvas) {
  const copy = element('canvas', { width: canvas.width, height: canvas.height });
  const ctx = copy.getContext('2d');
  ctx.fillStyle = '#ffffff';
  ctx.fillRect(0, 0, copy.width, copy.height);
  ctx.drawImage(canvas, 0, 0);
  copy.toBlob((blob) => downloadBlob(name, blob), 'image/png');
}

// A series' colour (uPlot keeps it as a function).
const strokeOf = (u, series, i) =>
  (typeof series.stroke === 'function' ? series.stroke(u, i) : series.stroke) ?? '#000';

// The plot area of chart `u` in CSS pixels, from the chart's top left corner.
export function plotBox(u) {
  const { left, top, width, height } = u.bbox;
  const ratio = devicePixelRatio;
  return { x: left / ratio, y: top / ratio, w: width / ratio, h: height / ratio };
}

// Text for an SVG element or attribute.
export const escapeXml = (text) => String(text).replace(/[<>&"']/g, (c) => `&#${c.charCodeAt(0)};`);

// An SVG of a uPlot chart as it is shown: its axes with their ticks and
// labels, each shown series as a line (or `sticks` for the series whose
// index is in it) clipped to the plot, a legend of the series when there
// are several, and the chart's own marks: `marks` are vertical lines
// {x (a value on the x scale), color, dashed, from (0 to 1: the part of
// the plot's height from the bottom; 1 the whole height)}. A map adds
// `image` {href, x: [low, high], y: [low, high]} (a picture stretched over
// those ranges, under the rest), `circles` [{x, y, color}] and
// `decorate(box)`, elements of its own beside the plot (box: the plot's
// {x, y, w, h}).
// Coordinates are the chart's CSS pixels.
export function chartSvg(u, {
  title = '', sticks = new Set(), marks = [], image = null, circles = [], decorate = () => [],
} = {}) {
  const box = plotBox(u);
  const named = u.series.filter((s, i) => i > 0 && s.show && s.label);
  const legend = named.length > 1 ? 20 * Math.ceil(named.length / 6) : 0;
  const total = { w: u.width, h: u.height + (title ? 24 : 0) + legend };
  const shift = title ? 24 : 0;
  const parts = [
    `<svg xmlns="http://www.w3.org/2000/svg" width="${total.w}" height="${total.h}" ` +
      `viewBox="0 0 ${total.w} ${total.h}" font-family="sans-serif" font-size="12">`,
    `<rect width="100%" height="100%" fill="#fff"/>`,
  ];
  if (title) parts.push(`<text x="8" y="16" font-weight="bold">${escapeXml(title)}</text>`);
  const rect = `x="${box.x}" y="${box.y}" width="${box.w}" height="${box.h}"`;
  parts.push(`<g transform="translate(0 ${shift})">`, `<clipPath id="plot"><rect ${rect}/></clipPath>`,
             `<rect ${rect} fill="none" stroke="#d6dae2"/>`);
  const pos = (value, key) => u.valToPos(value, key);
  // Axes: the ticks uPlot drew, and the axis label.
  u.axes.forEach((axis, i) => {
    if (axis.show === false || !axis._splits) return;
    const key = axis.scale ?? (i === 0 ? 'x' : 'y');
    const splits = axis._splits;
    const labels = axis._values ?? splits;
    const horizontal = i === 0;
    const right = axis.side === 1;
    splits.forEach((value, j) => {
      const p = pos(value, key);
      if (!Number.isFinite(p)) return;
      if (horizontal) {
        const x = box.x + p;
        parts.push(`<line x1="${x}" y1="${box.y + box.h}" x2="${x}" y2="${box.y + box.h + 5}" stroke="#000"/>`);
        parts.push(`<text x="${x}" y="${box.y + box.h + 18}" text-anchor="middle">${escapeXml(labels[j] ?? '')}</text>`);
      } else {
        const y = box.y + p;
        const x0 = right ? box.x + box.w : box.x;
        const dx = right ? 5 : -5;
        parts.push(`<line x1="${x0}" y1="${y}" x2="${x0 + dx}" y2="${y}" stroke="#000"/>`);
        parts.push(`<text x="${x0 + dx * 1.6}" y="${y + 4}" text-anchor="${right ? 'start' : 'end'}">` +
                   `${escapeXml(labels[j] ?? '')}</text>`);
      }
    });
    if (axis.label) {
      if (horizontal) {
        parts.push(`<text x="${box.x + box.w / 2}" y="${u.height - 4}" text-anchor="middle">` +
                   `${escapeXml(axis.label)}</text>`);
      } else {
        const x = right ? u.width - 6 : 12;
        const y = box.y + box.h / 2;
        parts.push(`<text transform="translate(${x} ${y}) rotate(${right ? 90 : -90})" ` +
                   `text-anchor="middle">${escapeXml(axis.label)}</text>`);
      }
    }
  });
  // Series: the points in the x range, in CSS pixels.
  parts.push('<g clip-path="url(#plot)">');
  if (image) {
    const [x0, x1] = image.x.map((v) => box.x + pos(v, 'x'));
    const [y0, y1] = image.y.map((v) => box.y + pos(v, 'y'));
    parts.push(`<image x="${x0}" y="${y1}" width="${x1 - x0}" height="${y0 - y1}" ` +
               `preserveAspectRatio="none" style="image-rendering:pixelated" href="${image.href}"/>`);
  }
  const xs = u.data[0];
  const [xMin, xMax] = [u.scales.x.min, u.scales.x.max];
  u.series.forEach((series, i) => {
    if (i === 0 || !series.show) return;
    const key = series.scale ?? 'y';
    const ys = u.data[i];
    let d = '';
    let pen = false;
    // Sticks rise from zero, or from the bottom of a log axis.
    const floor = box.y + pos(u.scales[key].distr === 3 ? u.scales[key].min : 0, key);
    const base = Math.min(Number.isFinite(floor) ? floor : box.y + box.h, box.y + box.h).toFixed(2);
    for (let j = 0; j < xs.length; j++) {
      const [x, y] = [xs[j], ys[j]];
      if (x < xMin || x > xMax || !Number.isFinite(y)) {
        if (!series.spanGaps) pen = false;
        continue;
      }
      const px = (box.x + pos(x, 'x')).toFixed(2);
      const py = (box.y + pos(y, key)).toFixed(2);
      if (sticks.has(i)) {
        d += `M${px} ${base}V${py}`;
      } else {
        d += `${pen ? 'L' : 'M'}${px} ${py}`;
        pen = true;
      }
    }
    if (d) {
      parts.push(`<path d="${d}" fill="none" stroke="${escapeXml(strokeOf(u, series, i))}" ` +
                 `stroke-width="${series.width ?? 1}"/>`);
    }
  });
  for (const mark of marks) {
    const p = pos(mark.x, 'x');
    if (!Number.isFinite(p) || p < 0 || p > box.w) continue;
    const x = (box.x + p).toFixed(2);
    const y0 = box.y + box.h;
    parts.push(`<line x1="${x}" y1="${y0}" x2="${x}" y2="${(y0 - box.h * (mark.from ?? 1)).toFixed(2)}" ` +
               `stroke="${escapeXml(mark.color)}"${mark.dashed ? ' stroke-dasharray="4 3"' : ''}/>`);
  }
  for (const c of circles) {
    parts.push(`<circle cx="${box.x + pos(c.x, 'x')}" cy="${box.y + pos(c.y, 'y')}" r="2.5" ` +
               `fill="none" stroke="${escapeXml(c.color)}"/>`);
  }
  parts.push('</g>', ...decorate(box));
  // The legend: six series a row, under the chart.
  if (legend) {
    const width = u.width / 6;
    named.forEach((series, k) => {
      const x = 8 + (k % 6) * width;
      const y = u.height + 14 + 20 * Math.floor(k / 6);
      parts.push(`<line x1="${x}" y1="${y - 4}" x2="${x + 14}" y2="${y - 4}" stroke-width="2" ` +
                 `stroke="${escapeXml(strokeOf(u, series, u.series.indexOf(series)))}"/>`);
      parts.push(`<text x="${x + 18}" y="${y}">${escapeXml(series.label)}</text>`);
    });
  }
  parts.push('</g></svg>');
  return parts.join('\n');
}
