// Numbers as the page shows them.
export function formatNumber(value, digits = 4) {
  if (value === null || value === undefined) return '–';
  return Number(value).toFixed(digits);
}

// Intensities span many decades: three significant digits, exponent when large.
export function formatIntensity(value) {
  if (value === null || value === undefined) return '–';
  const magnitude = Math.abs(value);
  if (magnitude !== 0 && (magnitude >= 1e5 || magnitude < 1e-2)) return value.toExponential(2);
  return String(Number(value.toPrecision(3)));
}

export const formatCount = (value) => (value == null ? '–' : value.toLocaleString('en-US'));
