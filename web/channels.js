// An MRM run's channels: a list of them (with names and Q1/Q3 when the
// transition list gave them) whose check boxes show and hide each channel's
// chromatogram in a chart of its own, below the run's chromatogram. A click
// on the chart selects the nearest scan of the channels shown.
// window.velmoranChannels reports the list for tests.
import { fetchChromatograms } from './api.js';
import {
  INTENSITY_LABEL, RT_SERIES, YZoom, chartSize, drawnValues, intensityChart, lineSeries, onAxisMode,
} from './axes.js';
import { element, swatchItem } from './dom.js';
import { formatNumber } from './format.js';
import { RUN_COLORS } from './runs.js';
import { nearestByTime } from './scans.js';

// The first eight colours of the runs, repeating.
const COLORS = RUN_COLORS.slice(0, 8);

function label(channel) {
  const parts = [`channel ${channel.channel}`];
  if (channel.name != null) parts.push(channel.name);
  if (channel.q1 != null) parts.push(`${formatNumber(channel.q1)} → ${formatNumber(channel.q3)}`);
  return parts.join(' · ');
}

// The rows of /api/chromatograms as one trace per channel, on the union of
// their times (uPlot shares one x axis; a channel has no value at the
// others' times, and its line spans those gaps).
function traces(rows) {
  const byChannel = new Map();
  for (const row of rows) {
    if (!byChannel.has(row.channel)) {
      byChannel.set(row.channel, { channel: row.channel, q1: row.q1, q3: row.q3, name: row.name,
                                   points: [] });
    }
    byChannel.get(row.channel).points.push(row);
  }
  const times = [...new Set(rows.map((r) => r.rt_sec))].sort((a, b) => a - b);
  const at = new Map(times.map((t, i) => [t, i]));
  const channels = [...byChannel.values()];
  for (const channel of channels) {
    channel.values = new Array(times.length).fill(null);
    for (const p of channel.points) channel.values[at.get(p.rt_sec)] = p.intensity;
  }
  return { times, channels };
}

// Shows the channels of `run` (the /api/run object) after `anchor`, when it
// has any; onSelect(index) gets the table index of a scan clicked on.
// `position` is the run's position among the runs served.
export async function showChannels(run, anchor, onSelect, position = 0) {
  if (!run.channels || run.channels.length === 0) return;
  const { times, channels } = traces(await fetchChromatograms(position));
  const list = element('ul', { id: 'channel-list' });
  const chart = element('div', { id: 'channel-chart', className: 'chart' });
  anchor.after(element('section', { id: 'channels-panel' }, [
    element('h2', { textContent: `MRM channels (${channels.length})` }), list, chart]));

  // The chart, made again when the intensity axis changes (axes.js).
  const shown = channels.map(() => true);
  const zoom = new YZoom();
  const build = () => {
    const plot = intensityChart(chart, [times, ...channels.map((c) => drawnValues(c.values))], {
      x: 'retention time (s)', y: INTENSITY_LABEL, zoom, height: 220,
      series: [RT_SERIES, ...channels.map((c, i) => lineSeries(`${c.channel}`, COLORS[i % COLORS.length], {
        points: { show: true, size: 4 }, show: shown[i],
      }))],
      legend: { show: false },
      cursor: { drag: { x: true, y: false } },
    });
    // A click selects the nearest scan of the channels shown.
    plot.over.addEventListener('click', () => {
      const shownPoints = channels.filter((_, i) => shown[i]).flatMap((c) => c.points);
      const best = nearestByTime(shownPoints, plot.posToVal(plot.cursor.left, 'x'));
      if (best) onSelect(best.index);
    });
    return plot;
  };
  let plot = build();
  onAxisMode(() => {
    zoom.range = null;
    plot.destroy();
    plot = build();
  });
  window.addEventListener('resize', () => plot.setSize(chartSize(chart, 220)));

  list.append(...channels.map((channel, i) => swatchItem({
    checked: true, color: COLORS[i % COLORS.length], dataset: { channel: channel.channel },
    text: `${label(channel)} (${channel.points.length} scans)`,
    onChange: (checked) => {
      shown[i] = checked;
      plot.setSeries(i + 1, { show: checked });
      report();
    },
  })));

  function report() {
    window.velmoranChannels = channels.map((c, i) => ({
      channel: c.channel, name: c.name, q1: c.q1, q3: c.q3, points: c.points.length,
      shown: plot.series[i + 1].show,
    }));
  }
  report();
}
