// The batch report of velmoran qc: the data is the JSON block of the page;
// uPlot (embedded before this script) draws the charts.
(function () {
  "use strict";
  const data = JSON.parse(document.getElementById("qc-data").textContent);
  const LIMIT = 3.5;
  document.getElementById("batch").textContent = data.batch;

  function colour(i, n) {
    return "hsl(" + Math.round((360 * i) / Math.max(n, 1)) + ", 70%, 42%)";
  }
  function width() {
    return Math.max(600, Math.min(1400, document.body.clientWidth - 40));
  }

  // Every run's TIC on one time axis: the union of their times, each run
  // null where it has no spectrum, lines spanning the gaps. A time that is
  // not a finite number has no place on the axis and is left out.
  function drawTics() {
    const times = [...new Set(data.runs.flatMap((run) => run.rt))]
      .filter(Number.isFinite).sort((a, b) => a - b);
    const at = new Map(times.map((t, i) => [t, i]));
    const series = [{ label: "RT (s)" }];
    const columns = [times];
    data.runs.forEach((run, r) => {
      const y = new Array(times.length).fill(null);
      run.rt.forEach((t, i) => { if (at.has(t)) y[at.get(t)] = run.tic[i]; });
      columns.push(y);
      series.push({ label: run.name, stroke: colour(r, data.runs.length), spanGaps: true, width: 1.2 });
    });
    new uPlot({ width: width(), height: 360, series: series, scales: { x: { time: false } },
                axes: [{ label: "retention time (s)" }, { label: "TIC", size: 80 }] },
              columns, document.getElementById("tic"));
  }

  // One chart per single-valued metric: the runs in order, outliers red.
  function drawMetrics() {
    const box = document.getElementById("metrics");
    const x = data.runs.map((_, i) => i);
    data.metrics.forEach((metric) => {
      const div = document.createElement("div");
      div.className = "metric";
      const title = document.createElement("h3");
      title.textContent = metric.accession + " " + metric.name;
      div.appendChild(title);
      box.appendChild(div);
      const outliers = metric.values.map((v, i) =>
        metric.z[i] !== null && Math.abs(metric.z[i]) > LIMIT ? v : null);
      new uPlot({
        width: 320, height: 180, legend: { show: false },
        series: [{}, { stroke: "#3465a4", width: 0, points: { show: true, size: 6 } },
                 { stroke: "#cc0000", width: 0, points: { show: true, size: 11, fill: "#cc0000" } }],
        axes: [{ values: (u, ticks) => ticks.map((t) => Number.isInteger(t) && data.runs[t] ? data.runs[t].name : "") },
               { size: 80 }],
        scales: { x: { time: false, range: [-0.5, data.runs.length - 0.5] } },
      }, [x, metric.values, outliers], div);
      if (outliers.some((v) => v !== null)) div.classList.add("has-outlier");
    });
  }

  // Runs × metrics, sortable by each column.
  function drawTable() {
    const table = document.getElementById("table");
    const head = table.createTHead().insertRow();
    const headings = ["run"].concat(data.metrics.map((m) => m.accession + " " + m.name));
    let order = data.runs.map((_, i) => i);
    let sortedBy = -1;
    let ascending = true;
    const body = table.createTBody();
    function fill() {
      body.textContent = "";
      order.forEach((r) => {
        const row = body.insertRow();
        row.insertCell().textContent = data.runs[r].name;
        data.metrics.forEach((m) => {
          const cell = row.insertCell();
          const v = m.values[r];
          cell.textContent = v === null ? "" : String(Number(v.toPrecision(6)));
          const z = m.z[r];
          if (z !== null) cell.title = "robust z " + z.toFixed(2);
          if (z !== null && Math.abs(z) > LIMIT) cell.classList.add("outlier");
        });
      });
    }
    headings.forEach((text, c) => {
      const th = document.createElement("th");
      th.textContent = text;
      th.addEventListener("click", () => {
        ascending = sortedBy === c ? !ascending : true;
        sortedBy = c;
        const key = (r) => (c === 0 ? data.runs[r].name : data.metrics[c - 1].values[r]);
        order.sort((a, b) => {
          const ka = key(a), kb = key(b);
          if (ka === kb) return a - b;
          if (ka === null) return 1;
          if (kb === null) return -1;
          return (ka < kb ? -1 : 1) * (ascending ? 1 : -1);
        });
        head.querySelectorAll("th").forEach((h) => h.classList.remove("sorted"));
        th.classList.add("sorted");
        fill();
      });
      head.appendChild(th);
    });
    fill();
  }

  drawTics();
  drawMetrics();
  drawTable();
  document.body.dataset.drawn = "yes";
})();
