// The sysmon dashboard: one request for api/live per sampling interval, the
// histories read once from api/history, everything drawn in this page.
// Every text that comes from the system is inserted as text, never as HTML.
'use strict';

(function () {
  const HISTORY = 300;  // samples a history holds

  // Figures of one sample, as the library's histories record them.
  const METRICS = {
    'cpu': (s) => num(s.cpu && s.cpu.total_usage),
    'memory': (s) => {
      const m = s.memory || {};
      return num(m.total) > 0 ? num(m.used) / num(m.total) * 100 : 0;
    },
    'net-down': (s) => sum(s.network, 'down_bytes_sec'),
    'net-up': (s) => sum(s.network, 'up_bytes_sec'),
    'disk-read': (s) => sum(s.disks, 'read_bytes_sec'),
    'disk-write': (s) => sum(s.disks, 'write_bytes_sec'),
    'gpu': (s) => num(s.gpu && s.gpu.usage_percent),
  };

  const CHARTS = [
    {id: 'cpu', title: 'Processor', rate: false, series: [{metric: 'cpu', label: 'load'}]},
    {id: 'memory', title: 'Memory', rate: false, series: [{metric: 'memory', label: 'in use'}]},
    {id: 'network', title: 'Network', rate: true,
     series: [{metric: 'net-down', label: 'down'}, {metric: 'net-up', label: 'up'}]},
    {id: 'disk', title: 'Disk', rate: true,
     series: [{metric: 'disk-read', label: 'read'}, {metric: 'disk-write', label: 'write'}]},
    {id: 'gpu', title: 'GPU', rate: false, series: [{metric: 'gpu', label: 'load'}]},
  ];

  const PROCESS_KEYS = {
    pid: {value: (p) => num(p.pid), descending: false},
    user: {value: (p) => text(p.user).toLowerCase(), descending: false},
    cpu: {value: (p) => num(p.cpu_percent), descending: true},
    memory: {value: (p) => num(p.memory_bytes), descending: true},
    resident: {value: (p) => num(p.memory_bytes), descending: true},
    threads: {value: (p) => num(p.threads), descending: true},
    status: {value: (p) => text(p.status), descending: false},
    name: {value: (p) => text(p.name).toLowerCase(), descending: false},
    command: {value: (p) => text(p.command).toLowerCase(), descending: false},
  };
  const TREE_DEPTH = 64;  // deeper processes become roots, as in the library's tree

  const state = {
    interval: 1000,
    sequence: 0,          // sample shown
    needHistory: true,    // read the histories again before extending them
    series: {},           // metric -> values, oldest first
    live: null,           // latest api/live document
    timer: null,
    busy: false,
    offlineSince: null,
    sort: {key: 'cpu', descending: true},
    tree: false,
    filter: '',
  };

  // ---- small helpers ------------------------------------------------------

  function num(value) {
    return typeof value === 'number' && isFinite(value) ? value : 0;
  }

  function text(value) {
    return value === undefined || value === null ? '' : String(value);
  }

  function sum(list, member) {
    return Array.isArray(list) ? list.reduce((total, item) => total + num(item && item[member]), 0) : 0;
  }

  // Sizes and rates as `sysmon top` writes them: powers of 1024, one decimal.
  function bytes(value) {
    const units = 'BKMGTP';
    let v = num(value);
    let unit = 0;
    while (v >= 1024 && unit + 1 < units.length) {
      v /= 1024;
      unit += 1;
    }
    return unit === 0 ? v.toFixed(0) + 'B' : v.toFixed(1) + units[unit];
  }

  function rate(value) {
    return bytes(value) + '/s';
  }

  function percent(value) {
    return num(value).toFixed(1) + '%';
  }

  function uptime(seconds) {
    const s = Math.floor(num(seconds));
    const two = (n) => String(n).padStart(2, '0');
    return Math.floor(s / 86400) + 'd ' + two(Math.floor(s / 3600) % 24) + ':' + two(Math.floor(s / 60) % 60);
  }

  function el(tag, className, content) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (content !== undefined) node.textContent = content;
    return node;
  }

  function cell(row, content, className) {
    const td = el('td', className, text(content));
    row.appendChild(td);
    return td;
  }

  function cssVar(name) {
    return getComputedStyle(document.documentElement).getPropertyValue(name).trim();
  }

  // A bar with a label and a caption; share from 0 to 1.
  function meter(label, share, caption) {
    const row = el('div', 'bar');
    row.appendChild(el('span', 'bar-label', label));
    const track = el('span', 'bar-track');
    const fill = el('span', 'bar-fill');
    fill.style.width = (Math.min(Math.max(share, 0), 1) * 100).toFixed(1) + '%';
    track.appendChild(fill);
    row.appendChild(track);
    row.appendChild(el('span', 'bar-text', caption));
    return row;
  }

  function facts(list, pairs) {
    const fragment = document.createDocumentFragment();
    for (const [term, value] of pairs) {
      fragment.appendChild(el('dt', '', term));
      fragment.appendChild(el('dd', '', text(value)));
    }
    list.replaceChildren(fragment);
  }

  // ---- charts -------------------------------------------------------------

  function buildCharts() {
    const holder = document.getElementById('charts');
    for (const chart of CHARTS) {
      const figure = el('figure', 'chart panel');
      const caption = el('figcaption');
      caption.appendChild(el('span', 'chart-title', chart.title));
      chart.legend = el('span', 'chart-values');
      caption.appendChild(chart.legend);
      figure.appendChild(caption);
      chart.canvas = el('canvas');
      chart.canvas.id = 'chart-' + chart.id;
      chart.canvas.setAttribute('role', 'img');
      chart.canvas.setAttribute('aria-label', chart.title + ' over the last ' + HISTORY + ' samples');
      chart.canvas.dataset.points = '0';
      figure.appendChild(chart.canvas);
      holder.appendChild(figure);
    }
  }

  function drawChart(chart) {
    const canvas = chart.canvas;
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
    const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    const ctx = canvas.getContext('2d');
    ctx.clearRect(0, 0, width, height);
    const colors = [cssVar('--series-1'), cssVar('--series-2')];
    const values = chart.series.map((s) => state.series[s.metric] || []);
    let top = 100;
    if (chart.rate) {
      top = 1024;
      for (const list of values) for (const v of list) top = Math.max(top, v);
      top *= 1.1;
    }
    // The plot leaves a strip at the top for the scale's label.
    const pad = 16 * ratio;
    const plot = height - pad;
    // Grid: quarters of the scale.
    ctx.strokeStyle = cssVar('--grid');
    ctx.lineWidth = ratio;
    ctx.beginPath();
    for (let q = 0; q < 4; q += 1) {
      const y = Math.round(pad + plot * q / 4) + 0.5;
      ctx.moveTo(0, y);
      ctx.lineTo(width, y);
    }
    ctx.stroke();
    const step = width / (HISTORY - 1);
    values.forEach((list, index) => {
      if (list.length === 0) return;
      const x0 = width - (list.length - 1) * step;
      const y = (v) => height - Math.min(Math.max(v / top, 0), 1) * (plot - ratio) - ratio / 2;
      ctx.beginPath();
      list.forEach((v, i) => {
        if (i === 0) ctx.moveTo(x0, y(v));
        else ctx.lineTo(x0 + i * step, y(v));
      });
      ctx.strokeStyle = colors[index];
      ctx.lineWidth = 1.5 * ratio;
      ctx.stroke();
      if (index === 0) {
        ctx.lineTo(width, height);
        ctx.lineTo(x0, height);
        ctx.closePath();
        ctx.globalAlpha = 0.18;
        ctx.fillStyle = colors[index];
        ctx.fill();
        ctx.globalAlpha = 1;
      }
    });
    // The scale's top, in the corner.
    ctx.fillStyle = cssVar('--muted');
    ctx.font = (11 * ratio) + 'px sans-serif';
    ctx.textAlign = 'right';
    ctx.textBaseline = 'top';
    ctx.fillText(chart.rate ? rate(top) : '100%', width - 2 * ratio, 2 * ratio);
    canvas.dataset.points = String(values[0].length);
    canvas.dataset.sequence = String(state.sequence);

    chart.legend.replaceChildren();
    chart.series.forEach((s, index) => {
      const list = values[index];
      const last = list.length ? list[list.length - 1] : 0;
      const item = el('span', 'legend series-' + (index + 1),
                      (chart.series.length > 1 ? s.label + ' ' : '') + (chart.rate ? rate(last) : percent(last)));
      chart.legend.appendChild(item);
    });
  }

  function drawCharts() {
    for (const chart of CHARTS) drawChart(chart);
  }

  function appendSample(sample) {
    for (const metric of Object.keys(METRICS)) {
      const list = state.series[metric] || (state.series[metric] = []);
      list.push(METRICS[metric](sample));
      if (list.length > HISTORY) list.splice(0, list.length - HISTORY);
    }
  }

  async function readHistories(sample) {
    const metrics = Object.keys(METRICS);
    const lists = await Promise.all(metrics.map(async (metric) => {
      const response = await request('api/history?metric=' + metric + '&count=' + HISTORY);
      const list = await response.json();
      return Array.isArray(list) ? list.map(num) : [];
    }));
    // Read after `sample`, some histories may already hold the next one.
    // Below their capacity, those are the longer ones: cut to the shortest.
    const shortest = Math.min(...lists.map((list) => list.length));
    if (shortest < HISTORY) for (const list of lists) list.length = shortest;
    // If all hold it, or at capacity, the newest figures are not this
    // sample's but the ones before them are.
    const expected = metrics.map((metric) => METRICS[metric](sample));
    const endsWith = (i, offset) => {
      const at = lists[i].length - 1 - offset;
      return at >= 0 && Math.abs(lists[i][at] - expected[i]) < 0.006;
    };
    const all = (offset) => metrics.every((metric, i) => endsWith(i, offset));
    if (!all(0)) {
      const whole = all(1);
      lists.forEach((list, i) => {
        if (whole || (list.length === HISTORY && !endsWith(i, 0) && endsWith(i, 1))) list.pop();
      });
    }
    const holder = document.getElementById('charts');
    holder.dataset.historySequence = String(num(sample.sequence));
    metrics.forEach((metric, i) => {
      state.series[metric] = lists[i];
      // A history that is still empty starts with the sample in hand.
      if (state.series[metric].length === 0) state.series[metric].push(METRICS[metric](sample));
    });
    holder.dataset.historyPoints = String(state.series[metrics[0]].length);
  }

  // ---- panels -------------------------------------------------------------

  function renderCpu(cpu) {
    const cores = Array.isArray(cpu.per_core) ? cpu.per_core : [];
    const bars = document.getElementById('cpu-bars');
    const fragment = document.createDocumentFragment();
    cores.forEach((load, i) => {
      fragment.appendChild(meter(String(i), num(load) / 100, percent(load)));
    });
    bars.replaceChildren(fragment);
    let summary = text(cpu.name) + ' · ' + num(cpu.cores) + ' cores, ' + num(cpu.threads) +
        ' threads · ' + percent(cpu.total_usage);
    if (num(cpu.frequency_mhz) > 0) summary += ' · ' + num(cpu.frequency_mhz).toFixed(0) + ' MHz';
    if (num(cpu.temperature_c) > 0) summary += ' · ' + num(cpu.temperature_c).toFixed(1) + ' °C';
    document.getElementById('cpu-summary').textContent = summary;
  }

  function renderMemory(memory) {
    const m = memory || {};
    const bars = document.getElementById('memory-bars');
    bars.replaceChildren(
      meter('Mem', num(m.total) > 0 ? num(m.used) / num(m.total) : 0, bytes(m.used) + '/' + bytes(m.total)),
      meter('Swap', num(m.swap_total) > 0 ? num(m.swap_used) / num(m.swap_total) : 0,
            bytes(m.swap_used) + '/' + bytes(m.swap_total)));
    document.getElementById('memory-note').textContent =
        'available ' + bytes(m.available) + ' · cached ' + bytes(m.cached);
  }

  // A table of one row per item; a column is [text of an item, class name].
  function renderTable(id, items, columns, empty) {
    const body = document.querySelector('#' + id + ' tbody');
    const fragment = document.createDocumentFragment();
    for (const item of items) {
      const row = el('tr');
      for (const [value, className] of columns) {
        const content = value(item || {});
        if (content instanceof Node) cell(row, '', className).appendChild(content);
        else cell(row, content, className);
      }
      fragment.appendChild(row);
    }
    if (items.length === 0) {
      const row = el('tr', 'empty');
      cell(row, empty).colSpan = columns.length;
      fragment.appendChild(row);
    }
    body.replaceChildren(fragment);
  }

  function renderVolumes(disks) {
    renderTable('volumes', Array.isArray(disks) ? disks : [], [
      [(d) => d.name], [(d) => d.mount], [(d) => d.fs],
      [(d) => meter('', num(d.total) > 0 ? num(d.used) / num(d.total) : 0, bytes(d.used)), 'num'],
      [(d) => bytes(d.total), 'num'], [(d) => bytes(d.free), 'num'],
      [(d) => rate(d.read_bytes_sec), 'num'], [(d) => rate(d.write_bytes_sec), 'num'],
    ], 'No volumes');
  }

  function renderInterfaces(network) {
    renderTable('interfaces', Array.isArray(network) ? network : [], [
      [(n) => n.name], [(n) => n.ip],
      [(n) => rate(n.down_bytes_sec), 'num'], [(n) => rate(n.up_bytes_sec), 'num'],
      [(n) => bytes(n.total_recv), 'num'], [(n) => bytes(n.total_sent), 'num'],
    ], 'No interfaces up');
  }

  function renderGpus(gpu) {
    const g = gpu || {};
    // Every adapter where the document lists them, else its own figures.
    const adapters = Array.isArray(g.adapters) && g.adapters.length ? g.adapters : [g];
    renderTable('gpus', adapters, [
      [(a) => a.name], [(a) => percent(a.usage_percent), 'num'],
      [(a) => bytes(a.vram_used) + '/' + bytes(a.vram_total), 'num'],
      [(a) => num(a.temperature_c).toFixed(1) + ' °C', 'num'],
      [(a) => num(a.power_watts).toFixed(1) + ' W', 'num'],
      [(a) => a.driver], [(a) => a.source],
    ], 'No adapters');
  }

  function renderSystem(system, cpu, battery) {
    const s = system || {};
    facts(document.getElementById('system-facts'), [
      ['Host', s.hostname], ['OS', s.os], ['Kernel', s.kernel], ['Architecture', s.cpu_arch],
      ['Uptime', uptime(s.uptime_seconds)], ['Booted', s.boot_time],
      ['Processor', (cpu && cpu.name) || ''],
    ]);
    const b = battery || {};
    const pairs = [];
    if (b.present) {
      pairs.push(['Charge', num(b.percent) + '%'], ['Status', b.status]);
      if (num(b.time_remaining_min) > 0) {
        const minutes = num(b.time_remaining_min);
        pairs.push(['Remaining', Math.floor(minutes / 60) + 'h ' + String(minutes % 60).padStart(2, '0') + 'm']);
      }
      pairs.push(['Power', num(b.power_draw_watts).toFixed(2) + ' W'], ['Health', num(b.health_percent) + '%']);
    } else {
      pairs.push(['Battery', 'none'], ['Power', text(b.status)]);
    }
    facts(document.getElementById('battery-facts'), pairs);
    document.getElementById('host').textContent = text(s.hostname);
    document.title = 'sysmon · ' + text(s.hostname);
  }

  // ---- processes ----------------------------------------------------------

  function compareProcesses(a, b) {
    const key = PROCESS_KEYS[state.sort.key];
    const va = key.value(a);
    const vb = key.value(b);
    if (va !== vb) {
      const order = va < vb ? -1 : 1;
      return state.sort.descending ? -order : order;
    }
    return num(a.pid) - num(b.pid);
  }

  function matches(process, needle) {
    return needle === '' || text(process.name).toLowerCase().includes(needle) ||
        text(process.command).toLowerCase().includes(needle);
  }

  // [process, depth] in display order: the list sorted, or the tree with
  // every parent followed by its children, siblings sorted alike. A process is
  // a root when its parent is 0, itself, or not among the shown processes.
  function processRows(list) {
    const shown = list.filter((p) => p && matches(p, state.filter));
    shown.sort(compareProcesses);
    if (!state.tree) return shown.map((p) => [p, 0]);
    const byPid = new Map(shown.map((p) => [num(p.pid), p]));
    const children = new Map();
    const roots = [];
    for (const p of shown) {
      const parent = num(p.ppid);
      if (parent === 0 || parent === num(p.pid) || !byPid.has(parent)) {
        roots.push(p);
      } else {
        if (!children.has(parent)) children.set(parent, []);
        children.get(parent).push(p);
      }
    }
    const rows = [];
    const placed = new Set();
    const visit = (p, depth) => {
      placed.add(p);
      rows.push([p, depth]);
      for (const child of children.get(num(p.pid)) || []) {
        if (placed.has(child)) continue;
        if (depth + 1 >= TREE_DEPTH) continue;  // listed as a root below
        visit(child, depth + 1);
      }
    };
    for (const p of roots) visit(p, 0);
    // Processes in parent cycles or below the depth limit: roots themselves.
    for (const p of shown) if (!placed.has(p)) visit(p, 0);
    return rows;
  }

  function renderProcesses() {
    const list = state.live && Array.isArray(state.live.processes) ? state.live.processes : [];
    const rows = processRows(list);
    const body = document.querySelector('#processes tbody');
    const fragment = document.createDocumentFragment();
    for (const [p, depth] of rows) {
      const row = el('tr');
      row.dataset.pid = String(num(p.pid));
      row.dataset.ppid = String(num(p.ppid));
      row.dataset.memory = String(num(p.memory_bytes));
      row.dataset.cpu = String(num(p.cpu_percent));
      row.dataset.depth = String(depth);
      cell(row, String(num(p.pid)), 'num');
      const name = cell(row, (depth ? '└ ' : '') + text(p.name), 'name');
      name.title = text(p.name);
      if (depth) name.style.paddingLeft = (0.4 + Math.min(depth, 20) * 1.1).toFixed(1) + 'em';
      cell(row, p.user);
      cell(row, num(p.cpu_percent).toFixed(1), 'num');
      cell(row, num(p.memory_percent).toFixed(1), 'num');
      cell(row, bytes(p.memory_bytes), 'num');
      cell(row, String(num(p.threads)), 'num');
      cell(row, text(p.status).charAt(0) || '?').title = text(p.status);
      cell(row, p.command, 'command').title = text(p.command);
      fragment.appendChild(row);
    }
    body.replaceChildren(fragment);
    body.dataset.sequence = String(num(state.live && state.live.sequence));
    const count = document.getElementById('process-count');
    count.textContent = rows.length === list.length
        ? rows.length + ' processes'
        : rows.length + ' of ' + list.length + ' processes';
    for (const th of document.querySelectorAll('#processes th[data-key]')) {
      if (th.dataset.key === state.sort.key) {
        th.setAttribute('aria-sort', state.sort.descending ? 'descending' : 'ascending');
      } else {
        th.removeAttribute('aria-sort');
      }
    }
  }

  function setUpProcessControls() {
    for (const th of document.querySelectorAll('#processes th[data-key]')) {
      th.querySelector('button').addEventListener('click', () => {
        const key = th.dataset.key;
        if (state.sort.key === key) {
          state.sort.descending = !state.sort.descending;
        } else {
          state.sort = {key, descending: PROCESS_KEYS[key].descending};
        }
        renderProcesses();
      });
    }
    const filter = document.getElementById('filter');
    filter.addEventListener('input', () => {
      state.filter = filter.value.trim().toLowerCase();
      renderProcesses();
    });
    const toggle = document.getElementById('tree-toggle');
    toggle.addEventListener('click', () => {
      state.tree = !state.tree;
      toggle.setAttribute('aria-pressed', String(state.tree));
      renderProcesses();
    });
  }

  // ---- refresh ------------------------------------------------------------

  function setStatus(kind, message) {
    const status = document.getElementById('status');
    status.dataset.state = kind;
    status.textContent = message;
    document.body.classList.toggle('offline', kind === 'offline');
  }

  async function request(url) {
    const controller = new AbortController();
    const timeout = setTimeout(() => controller.abort(), Math.max(5000, 2 * state.interval));
    try {
      // Resolved against the page (so a path prefix of a proxy is kept) and
      // without credentials typed into the address, which fetch refuses; the
      // browser sends the ones it already holds for this server.
      const target = new URL(url, document.baseURI);
      target.username = '';
      target.password = '';
      const response = await fetch(target, {signal: controller.signal, cache: 'no-store', credentials: 'same-origin'});
      if (!response.ok) throw new Error('HTTP ' + response.status);
      return response;
    } finally {
      clearTimeout(timeout);
    }
  }

  function schedule(delay) {
    clearTimeout(state.timer);
    state.timer = document.hidden ? null : setTimeout(refresh, Math.max(50, delay));
  }

  function render(sample) {
    renderCpu(sample.cpu || {});
    renderMemory(sample.memory);
    renderVolumes(sample.disks);
    renderInterfaces(sample.network);
    renderGpus(sample.gpu);
    renderSystem(sample.system, sample.cpu, sample.battery);
    renderProcesses();
    drawCharts();
  }

  async function refresh() {
    state.timer = null;
    if (state.busy || document.hidden) return;
    state.busy = true;
    // Asked again a little after the server's next sample.
    const margin = Math.min(150, state.interval / 4);
    let delay = state.interval;
    try {
      const response = await request('api/live');
      const age = parseInt(response.headers.get('Sysmon-Sample-Age-Ms'), 10) || 0;
      const sample = await response.json();
      state.interval = Math.max(100, num(sample.interval_ms) || 1000);
      delay = state.interval - age + margin;
      const sequence = num(sample.sequence);
      if (sequence === state.sequence && !state.needHistory) {
        delay = margin;  // asked too early: still the same sample
      } else {
        // A skipped sample (a hidden tab, a late answer) or a restarted
        // server: the histories tell what the page did not see.
        if (sequence !== state.sequence + 1) state.needHistory = true;
        state.live = sample;
        if (!state.needHistory) {
          appendSample(sample);
          state.sequence = sequence;
        } else if (age <= state.interval - Math.min(250, state.interval / 2)) {
          await readHistories(sample);
          state.needHistory = false;
          state.sequence = sequence;
        }
        // Else the next sample is due: the histories are read just after it,
        // so that they end with the sample they are read with.
        render(sample);
      }
      state.offlineSince = null;
      setStatus('online', 'Live · a sample every ' + (state.interval / 1000).toFixed(1) + ' s');
    } catch (error) {
      if (state.offlineSince === null) state.offlineSince = new Date();
      state.needHistory = true;  // the server may come back with other histories
      delay = Math.min(Math.max(state.interval, 500), 2000);
      setStatus('offline', 'Disconnected: the server cannot be reached since ' +
                state.offlineSince.toLocaleTimeString() + '; retrying every ' +
                (delay / 1000).toFixed(1) + ' s.');
    } finally {
      state.busy = false;
    }
    schedule(delay);
  }

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) {
      clearTimeout(state.timer);
      state.timer = null;
    } else {
      refresh();
    }
  });

  let resizeFrame = 0;
  window.addEventListener('resize', () => {
    cancelAnimationFrame(resizeFrame);
    resizeFrame = requestAnimationFrame(drawCharts);
  });

  buildCharts();
  setUpProcessControls();
  refresh();
}());
