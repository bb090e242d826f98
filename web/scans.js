// What several panels ask of a run's scan rows (/api/scans).

// The MS levels present, lowest first.
export const levelsOf = (scans) => [...new Set(scans.map((s) => s.ms_level))].sort((a, b) => a - b);

// The survey level: MS1, or the lowest level when the run has no MS1 scans.
export function surveyLevel(scans) {
  const levels = levelsOf(scans);
  return levels.includes(1) ? 1 : (levels[0] ?? 1);
}

// The row of `rows` (each with an rt_sec) nearest in time to `rt`; null for none.
export function nearestByTime(rows, rt) {
  let best = null;
  for (const s of rows) {
    if (best === null || Math.abs(s.rt_sec - rt) < Math.abs(best.rt_sec - rt)) best = s;
  }
  return best;
}
