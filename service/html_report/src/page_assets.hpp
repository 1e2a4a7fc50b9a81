#pragma once
// The page's fixed parts. The script draws everything from the embedded data and inserts every
// text of the report with textContent, so nothing in the data is ever read as markup or code;
// the content security policy forbids the page any network access.
#include <string_view>

namespace morvi::service::html_report {

inline constexpr std::string_view PAGE_HEAD_BEFORE_TITLE = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)PAGE";

inline constexpr std::string_view PAGE_HEAD_AFTER_TITLE = R"PAGE(</title>
<style>
:root{--passed:#2e7d32;--passx:#66bb6a;--failed:#c62828;--errored:#ef6c00;--aborted:#6a1b9a;--blocked:#546e7a;--skipped:#9e9e9e;--none:#cfd8dc}
body{font:14px/1.4 system-ui,sans-serif;margin:0;color:#212121;background:#fafafa}
header,section{padding:12px 20px}
header{background:#fff;border-bottom:1px solid #ddd}
h1{font-size:20px;margin:0 0 6px}
h2{font-size:16px;margin:0 0 8px}
dl.facts{display:grid;grid-template-columns:max-content auto max-content auto;gap:2px 14px;margin:6px 0}
dl.facts dt{color:#666}dl.facts dd{margin:0;overflow-wrap:anywhere}
.badge{display:inline-block;padding:0 7px;border-radius:9px;color:#fff;font-size:12px;line-height:18px;vertical-align:middle}
.bar{display:flex;height:12px;min-width:160px;border-radius:3px;overflow:hidden;background:var(--none)}
.bar span{display:block;height:100%}
.counts span.count{margin-right:10px;white-space:nowrap}
.counts .n{font-weight:600;margin-left:3px}
table{border-collapse:collapse}
td,th{padding:2px 8px;text-align:left;vertical-align:top;border-bottom:1px solid #eee}
.failure{background:#fff;border-left:4px solid var(--failed);margin:6px 0;padding:6px 10px}
.failure .why{white-space:pre-wrap;overflow-wrap:anywhere;max-height:12em;overflow:auto;margin:2px 0;font-family:monospace}
a{color:#1565c0;cursor:pointer;text-decoration:none;overflow-wrap:anywhere}a:hover{text-decoration:underline}
#controls{position:sticky;top:0;background:#eceff1;z-index:2;display:flex;gap:10px;align-items:center}
#search{width:24em;padding:3px}
.node>.row{display:flex;gap:8px;align-items:center;padding:1px 0;cursor:pointer;white-space:nowrap}
.node>.row:hover{background:#e3f2fd}
.node.hl>.row{background:#fff59d}
.kids{margin-left:18px;border-left:1px dotted #bbb;padding-left:4px}
.tog{width:1em;display:inline-block;color:#555}
.dot{width:10px;height:10px;border-radius:50%;display:inline-block;flex:none}
.type{color:#666;font-size:12px}
.rt{color:#555;font-size:12px}
.fields{margin:2px 0 6px 26px;background:#fff;border:1px solid #e0e0e0;padding:4px 8px;max-width:100em}
.fields td{white-space:pre-wrap;overflow-wrap:anywhere;font-family:monospace;max-width:80em}
.fields td .v{display:block;max-height:20em;overflow:auto}
.more{margin:4px 0}
#tasks a,#slowest a{white-space:nowrap}
.muted{color:#777}
</style>
</head>
<body>
<noscript>This report draws itself with its own script: allow scripts for this file to see it.</noscript>
<header id="head"></header>
<section id="failures"></section>
<section id="slowest"></section>
<section id="controls"><input id="search" type="search" placeholder="Search ids and names" autocomplete="off"><label>Result <select id="filter"></select></label><span id="found" class="muted"></span></section>
<section id="search-results"></section>
<section id="tree-section"><h2>Tree</h2><div id="tree"></div></section>
<script type="application/json" id="morvi-data">)PAGE";

inline constexpr std::string_view PAGE_TAIL = R"PAGE(</script>
<script>
(function () {
'use strict';
var D = JSON.parse(document.getElementById('morvi-data').textContent);
var S = D.strings, NODES = D.nodes, N = NODES.length;
var RES = D.results.concat(['none']);
var NONE = RES.length - 1, BATCH = 200;
var parent = new Int32Array(N), first = new Int32Array(N).fill(-1), next = new Int32Array(N).fill(-1);
var last = new Int32Array(N).fill(-1), mask = new Int32Array(N), kidCount = new Int32Array(N);
var stack = [], i;
for (i = 0; i < N; i++) {
  var d = NODES[i][0], p = d > 0 ? stack[d - 1] : -1;
  stack[d] = i;
  parent[i] = p;
  if (p >= 0) {
    if (last[p] < 0) first[p] = i; else next[last[p]] = i;
    last[p] = i;
    kidCount[p]++;
  }
  mask[i] = 1 << NODES[i][3];
}
for (i = N - 1; i > 0; i--) mask[parent[i]] |= mask[i];
var failureOf = {};
D.failures.forEach(function (f) { failureOf[f[0]] = f; });

function el(tag, cls, text) {
  var e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = String(text);
  return e;
}
function add(parentEl) { for (var k = 1; k < arguments.length; k++) if (arguments[k]) parentEl.appendChild(arguments[k]); return parentEl; }
function type(n) { return S[NODES[n][1]]; }
function id(n) { return S[NODES[n][2]]; }
function name(n) { var a = NODES[n]; return a.length > 6 && a[6] >= 0 ? S[a[6]] : S[a[2]]; }
function result(n) { return RES[NODES[n][3]]; }
function fields(n) { var a = NODES[n]; return a.length > 5 && a[5] >= 0 ? D.fields[a[5]] : null; }
function fullid(n) {
  var a = NODES[n];
  if (a.length > 7 && a[7] >= 0) return S[a[7]];
  var p = parent[n];
  return p <= 0 ? id(n) : fullid(p) + '.' + id(n);
}
function seconds(s) {
  if (typeof s !== 'number' || !isFinite(s) || s < 0) return '';
  if (s < 0.001) return (s * 1e6).toFixed(0) + ' \u00b5s';
  if (s < 1) return (s * 1e3).toFixed(1) + ' ms';
  if (s < 60) return s.toFixed(3) + ' s';
  var h = Math.floor(s / 3600), m = Math.floor(s % 3600 / 60), r = s % 60;
  return (h ? h + ' h ' : '') + m + ' min ' + r.toFixed(0) + ' s';
}
function runtime(n) { var us = NODES[n][4]; return us < 0 ? '' : seconds(us / 1e6); }
function text(v) { return v === null || v === undefined ? '' : typeof v === 'string' ? v : JSON.stringify(v); }
function badge(res) { var b = el('span', 'badge', res); b.style.background = 'var(--' + res + ')'; return b; }
function link(n, label) {
  var a = el('a', null, label);
  a.href = '#node=' + n;
  a.onclick = function () { if (location.hash === a.hash) reveal(n); };
  return a;
}

function tallyBar(tally) {
  var bar = el('div', 'bar'), total = 0;
  D.results.forEach(function (r) { total += tally[r] || 0; });
  if (total > 0) D.results.forEach(function (r) {
    if (!tally[r]) return;
    var s = el('span');
    s.style.width = (100 * tally[r] / total) + '%';
    s.style.background = 'var(--' + r + ')';
    s.title = r + ' ' + tally[r];
    bar.appendChild(s);
  });
  return bar;
}
function tallyCounts(tally) {
  var c = el('div', 'counts');
  D.results.forEach(function (r) {
    var s = el('span', 'count');
    s.setAttribute('data-result', r);
    add(s, el('span', null, r), el('span', 'n', tally[r] || 0));
    c.appendChild(s);
  });
  var t = el('span', 'count');
  t.setAttribute('data-result', 'total');
  add(t, el('span', null, 'total'), el('span', 'n', tally.total === undefined ? '' : tally.total));
  c.appendChild(t);
  return c;
}

function drawHead() {
  var J = D.job, head = document.getElementById('head');
  var h1 = add(el('h1'), el('span', null, text(J.name !== undefined ? J.name : N ? id(0) : '')), document.createTextNode(' '), N ? badge(result(0)) : null);
  head.appendChild(h1);
  var facts = el('dl', 'facts');
  var ran = 0;
  for (var c = N ? first[0] : -1; c >= 0; c = next[c]) if (type(c) === 'Task') ran++;
  var health = J.health_result && J.health_result.value;
  [['result', N ? result(0) : ''], ['health', health || 'none'], ['started', text(J.starttime)], ['stopped', text(J.stoptime)],
   ['duration', seconds(J.runtime)], ['tasks run / planned', ran + ' / ' + (J.totaltasks === undefined ? '?' : text(J.totaltasks))],
   ['host', text(J.host)], ['submitter', text(J.submitter)], ['job type', text(J.job_type)], ['nodes', N + ' (from ' + D.source + ')']
  ].forEach(function (f) { var dd = el('dd', null, f[1]); dd.id = 'job-' + f[0].replace(/[^a-z]+/g, '-'); add(facts, el('dt', null, f[0]), dd); });
  head.appendChild(facts);
  if (J.summary) {
    var counts = tallyCounts(J.summary);
    counts.id = 'job-counts';
    add(head, tallyBar(J.summary), counts);
  }
  if (D.tasks.length) {
    var table = el('table');
    table.id = 'tasks';
    add(table, add(el('tr'), el('th', null, 'task'), el('th', null, 'type'), el('th', null, 'result'), el('th', null, 'runtime'), el('th', null, ''), el('th', null, 'counts')));
    D.tasks.forEach(function (t) {
      var n = t[0], tr = el('tr');
      tr.setAttribute('data-node', n);
      add(tr, add(el('td'), link(n, fullid(n))), el('td', 'type', type(n)), add(el('td'), badge(result(n))), el('td', 'rt', runtime(n)),
          add(el('td'), t[1] ? tallyBar(t[1]) : null), add(el('td'), t[1] ? tallyCounts(t[1]) : null));
      table.appendChild(tr);
    });
    head.appendChild(table);
  }
}

function logShare(f) {
  var logs = f[5], parts = [];
  if (logs && typeof logs === 'object') {
    if (logs.file !== undefined) parts.push(text(logs.file));
    if (logs.begin !== undefined) parts.push('from byte ' + text(logs.begin));
    if (logs.size !== undefined) parts.push(text(logs.size) + ' bytes');
  } else if (f[6]) parts.push(text(f[6]));
  return parts.join(', ');
}
function failureBox(f) {
  var n = f[0], box = el('div', 'failure');
  box.style.borderLeftColor = 'var(--' + f[1] + ')';
  add(box, add(el('div'), badge(f[1]), document.createTextNode(' '), link(n, fullid(n)), el('span', 'type', '  ' + type(n) + '  ' + runtime(n))));
  if (f[2]) add(box, el('div', 'why', 'reason: ' + f[2]));
  if (f[3]) add(box, el('div', 'why', 'data: ' + text(f[3])));
  if (Array.isArray(f[4]) && f[4].length) add(box, el('div', 'why', 'details: ' + f[4].map(text).join('\n')));
  var share = logShare(f);
  if (share) add(box, el('div', 'muted', 'log: ' + share));
  return box;
}
function batched(container, items, draw) {
  var shown = 0, more = el('button', 'more');
  function step() {
    var end = Math.min(items.length, shown + BATCH);
    for (; shown < end; shown++) container.insertBefore(draw(items[shown]), more);
    more.textContent = 'show ' + Math.min(BATCH, items.length - shown) + ' more of ' + (items.length - shown);
    more.style.display = shown < items.length ? '' : 'none';
  }
  more.onclick = function (e) { e.stopPropagation(); step(); };
  container.appendChild(more);
  step();
}
function drawFailures() {
  var box = document.getElementById('failures');
  add(box, el('h2', null, 'Failures (' + D.failures.length + ')'));
  if (!D.failures.length) { add(box, el('div', 'muted', 'No node failed, errored or aborted.')); return; }
  var list = el('div');
  list.id = 'failure-list';
  box.appendChild(list);
  batched(list, D.failures, failureBox);
}
function drawSlowest() {
  var box = document.getElementById('slowest');
  if (!D.slowest.length) { box.style.display = 'none'; return; }
  var table = el('table');
  add(box, el('h2', null, 'Slowest testcases'), table);
  D.slowest.forEach(function (n) { add(table, add(el('tr'), el('td', 'rt', runtime(n)), add(el('td'), badge(result(n))), add(el('td'), link(n, fullid(n))))); });
}

var rows = new Map();
var filterMask = -1;
function shows(n) { return (mask[n] & filterMask) !== 0; }
function valueCell(v) {
  var td = el('td');
  if (v && typeof v === 'object' && !Array.isArray(v)) {
    var t = el('table');
    Object.keys(v).forEach(function (k) { add(t, add(el('tr'), el('th', null, k), valueCell(v[k]))); });
    td.appendChild(t);
  } else {
    td.appendChild(el('span', 'v', Array.isArray(v) ? JSON.stringify(v, null, 1) : text(v)));
  }
  return td;
}
function fieldTable(n) {
  var t = el('table', 'fields'), f = fields(n) || {};
  function row(k, v) { add(t, add(el('tr'), el('th', null, k), valueCell(v))); }
  row('full id', fullid(n));
  if (name(n) !== id(n)) row('name', name(n));
  row('result', result(n));
  var fail = failureOf[n];
  if (fail && fail[2]) row('reason', fail[2]);
  if (fail && fail[7]) row('started', fail[7]);
  Object.keys(f).forEach(function (k) { row(k, f[k]); });
  return t;
}
function nodeEl(n) {
  var box = el('div', 'node'), r = el('div', 'row');
  box.setAttribute('data-node', n);
  var dot = el('span', 'dot');
  dot.style.background = 'var(--' + result(n) + ')';
  add(r, el('span', 'tog', kidCount[n] ? '\u25b8' : '\u00b7'), dot, el('span', 'res', result(n)), el('span', 'type', type(n)), el('span', 'id', name(n)), el('span', 'rt', runtime(n)));
  r.title = fullid(n);
  r.onclick = function () { toggle(n); };
  box.appendChild(r);
  rows.set(n, box);
  return box;
}
function childrenOf(n) { var list = []; for (var c = first[n]; c >= 0; c = next[c]) if (shows(c)) list.push(c); return list; }
function expand(n) {
  var box = rows.get(n);
  if (!box || box.classList.contains('open')) return;
  box.classList.add('open');
  box.firstChild.firstChild.textContent = kidCount[n] ? '\u25be' : '\u00b7';
  if (n !== 0) box.appendChild(fieldTable(n));
  if (kidCount[n]) {
    var kids = el('div', 'kids');
    box.appendChild(kids);
    batched(kids, childrenOf(n), nodeEl);
  }
}
function collapse(n) {
  var box = rows.get(n);
  box.classList.remove('open');
  box.firstChild.firstChild.textContent = kidCount[n] ? '\u25b8' : '\u00b7';
  while (box.childNodes.length > 1) {
    var gone = box.lastChild;
    gone.querySelectorAll('.node').forEach(function (e) { rows.delete(+e.getAttribute('data-node')); });
    box.removeChild(gone);
  }
}
function toggle(n) { if (rows.get(n).classList.contains('open')) collapse(n); else expand(n); }
function drawTree() {
  var tree = document.getElementById('tree');
  tree.textContent = '';
  rows.clear();
  if (!N) return;
  tree.appendChild(nodeEl(0));
  expand(0);
}
function reveal(n) {
  if (!(n >= 0 && n < N)) return;
  if (!shows(n)) { filterMask = -1; document.getElementById('filter').value = ''; drawTree(); }
  var path = [];
  for (var a = parent[n]; a >= 0; a = parent[a]) path.unshift(a);
  path.forEach(function (a) {
    expand(a);
    var box = rows.get(a), kids = box.querySelector(':scope > .kids');
    var more = kids && kids.querySelector(':scope > .more');
    var step = path[path.indexOf(a) + 1];
    var want = step === undefined ? n : step;
    while (!rows.has(want) && more && more.style.display !== 'none') more.click();
  });
  var box = rows.get(n);
  if (!box) return;
  document.querySelectorAll('.node.hl').forEach(function (e) { e.classList.remove('hl'); });
  box.classList.add('hl');
  expand(n);
  box.scrollIntoView({block: 'center'});
}

function search(q) {
  var out = document.getElementById('search-results'), found = document.getElementById('found');
  out.textContent = '';
  found.textContent = '';
  q = q.trim().toLowerCase();
  if (!q) return;
  var hit = new Uint8Array(S.length);
  for (var k = 0; k < S.length; k++) if (S[k].toLowerCase().indexOf(q) >= 0) hit[k] = 1;
  var dotted = q.indexOf('.') >= 0, matches = [];
  for (var n = 0; n < N; n++) {
    var a = NODES[n];
    if (!((1 << a[3]) & filterMask)) continue;
    if (hit[a[2]] || (a.length > 6 && a[6] >= 0 && hit[a[6]]) || (dotted && fullid(n).toLowerCase().indexOf(q) >= 0)) matches.push(n);
  }
  found.textContent = matches.length + (matches.length === 1 ? ' match' : ' matches');
  var list = el('div');
  list.id = 'match-list';
  out.appendChild(list);
  batched(list, matches, function (m) {
    return add(el('div', 'match'), badge(result(m)), document.createTextNode(' '), link(m, fullid(m)), el('span', 'type', '  ' + type(m) + '  ' + runtime(m)));
  });
}
function setFilter(value) {
  var sel = document.getElementById('filter');
  var code = RES.indexOf(value);
  sel.value = code >= 0 ? value : '';
  filterMask = code >= 0 ? 1 << code : -1;
  drawTree();
  search(document.getElementById('search').value);
}
function drawControls() {
  var sel = document.getElementById('filter');
  add(sel, el('option', null, 'all'));
  sel.firstChild.value = '';
  RES.forEach(function (r) { var o = el('option', null, r); o.value = r; sel.appendChild(o); });
  sel.onchange = function () { setFilter(sel.value); };
  var box = document.getElementById('search'), timer = 0;
  box.oninput = function () { clearTimeout(timer); timer = setTimeout(function () { search(box.value); }, 250); };
}
function route() {
  var args = {};
  location.hash.replace(/^#/, '').split('&').forEach(function (kv) {
    var at = kv.indexOf('=');
    if (at > 0) args[kv.slice(0, at)] = decodeURIComponent(kv.slice(at + 1));
  });
  if (args.filter !== undefined) setFilter(args.filter);
  if (args.q !== undefined) { document.getElementById('search').value = args.q; search(args.q); }
  if (args.node !== undefined) reveal(+args.node);
}

drawHead();
drawFailures();
drawSlowest();
drawControls();
drawTree();
route();
window.addEventListener('hashchange', route);
document.documentElement.setAttribute('data-ready-ms', String(Math.round(performance.now())));
})();
</script>
</body>
</html>
)PAGE";

}  // namespace morvi::service::html_report
