// The compare page: its lines travel in the page as data (packed when large) and only the
// rows in and near the view are drawn, so that a page of a million lines opens at once.
import {findHits, hitSpans} from './compare_search.js';
import {createRowWindow} from './row_window.js';

(function () {
  'use strict';
  const el = id => document.getElementById(id);
  const position = el('position');
  const nav = el('changes');
  const viewEl = el('view');
  const searchBox = el('search');
  const searchStatus = el('search-status');
  const hideBlank = el('hide-blank');

  const KIND_BLANK = 1, KIND_LINE_END = 2;
  const END_NAMES = ['none', 'LF', 'CRLF', 'mixed'];
  const FOLD_LONGER_THAN = 8, FOLD_CONTEXT = 3;
  const NAV_CHUNK = 400;

  function escapeHtml(s) {
    return s.replace(/[&<>"']/g, c => '&#' + c.charCodeAt(0) + ';');
  }
  function rangeText(begin, size) {
    if (size === 0) return '\u00b7';
    return size === 1 ? String(begin + 1) : (begin + 1) + '\u2013' + (begin + size);
  }

  // The data: a line of JSON with the tables, then every line the tables show, each
  // ending with a line feed.
  function parseData(text) {
    const cut = text.indexOf('\n');
    const head = JSON.parse(text.slice(0, cut));
    const body = text.slice(cut + 1);
    let count = 0;
    for (let at = body.indexOf('\n'); at >= 0; at = body.indexOf('\n', at + 1)) ++count;
    const starts = new Uint32Array(count + 1);
    for (let k = 1, at = body.indexOf('\n'); at >= 0; at = body.indexOf('\n', at + 1)) starts[k++] = at + 1;
    return {head, body, starts};
  }

  async function unpack(text) {
    const raw = atob(text.trim());
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
    return parseData(await new Response(stream).text());
  }

  // ---- the model: tables of blocks, each block a run of common lines or a change
  function buildModel(data) {
    const {head} = data;
    const line = i => data.body.slice(data.starts[i], data.starts[i + 1] - 1);
    let extra = head.lines[0];  // the other columns' changed lines follow the first file
    const changes = [];
    const tables = head.tables.map((t, ti) => {
      const cols = t.files.length;
      const at = new Array(cols).fill(0);
      const blocks = [];
      const flat = t.blocks;
      for (let i = 0; i < flat.length;) {
        if (flat[i] === 0) {
          const n = flat[i + 1];
          blocks.push({common: true, n, begins: at.slice(), text: at.map(() => at[0])});
          for (let c = 0; c < cols; ++c) at[c] += n;
          i += 2;
          continue;
        }
        const sizes = flat.slice(i + 1, i + 1 + cols);
        const [kind, ends, only, markAt] = flat.slice(i + 1 + cols, i + 5 + cols);
        const text = [at[0]];
        for (let c = 1; c < cols; ++c) {
          text.push(extra);
          extra += sizes[c];
        }
        const b = {common: false, n: Math.max(...sizes), sizes, begins: at.slice(), text, kind,
                   ends, only, markAt, table: ti, number: head.firstChange + changes.length};
        changes.push(b);
        blocks.push(b);
        for (let c = 0; c < cols; ++c) at[c] += sizes[c];
        i += 5 + cols;
      }
      blocks.forEach((b, k) => {
        b.table = ti;
        b.index = k;
        if (!b.common) return;
        const atStart = k === 0, atEnd = k + 1 === blocks.length;
        let before = atStart ? 0 : FOLD_CONTEXT;
        const after = atEnd ? 0 : FOLD_CONTEXT;
        if (atStart && atEnd) before = FOLD_CONTEXT;
        b.folds = b.n > FOLD_LONGER_THAN && before + after < b.n;
        b.before = before;
        b.after = after;
      });
      return {files: t.files, cols, title: t.title, blocks, marks: t.marks};
    });
    return {names: head.names, lines: head.lines, tables, changes, line, body: data.body,
            starts: data.starts, binaryChanges: head.firstChange - 1};
  }

  function label(b) {
    if (b.kind === KIND_BLANK) return 'white space only';
    if (b.kind !== KIND_LINE_END) return '';
    const names = [];
    for (let c = 0; c < b.sizes.length; ++c) names.push(END_NAMES[(b.ends >> (2 * c)) & 3]);
    return 'line ending: ' + names.join(' / ');
  }

  // ---- rows: what the blocks show now, folds and hidden white-space changes considered
  class Rows {
    constructor(model) {
      this.model = model;
      this.hideBlank = false;
      this.multi = model.tables.length > 1;
      this.rebuild();
    }
    hidden(b) {
      return this.hideBlank && !b.common && (b.kind === KIND_BLANK || b.kind === KIND_LINE_END);
    }
    rebuild() {
      // Segments: a table's title row (several tables only) or a block.
      const segs = [];
      this.model.tables.forEach((t, ti) => {
        if (this.multi) segs.push({title: true, table: ti});
        t.blocks.forEach(b => segs.push(b));
      });
      const starts = new Float64Array(segs.length + 1);
      segs.forEach((s, k) => {
        s.seg = k;
        starts[k + 1] = starts[k] + this.shown(s);
      });
      this.segs = segs;
      this.starts = starts;
      this.count = starts[segs.length];
    }
    shown(s) {
      if (s.title) return 1;
      if (s.common && s.folds && !s.open) return s.before + 1 + s.after;
      return s.n;
    }
    // The segment and the row within it of row i.
    locate(i) {
      let lo = 0, hi = this.segs.length - 1;
      while (lo < hi) {
        const mid = (lo + hi + 1) >> 1;
        if (this.starts[mid] <= i) lo = mid; else hi = mid - 1;
      }
      return [this.segs[lo], i - this.starts[lo]];
    }
    // The row that shows line r of block b (a fold opens when the line is behind it).
    rowOf(b, r) {
      if (b.common && b.folds && !b.open && r >= b.before && r < b.n - b.after) {
        b.open = true;
        this.rebuild();
      }
      let k = r;
      if (b.common && b.folds && !b.open && r >= b.n - b.after) k = b.before + 1 + (r - (b.n - b.after));
      return this.starts[b.seg] + k;
    }
  }

  // ---- drawing one row
  function marksOf(table, b, r, c) {
    if (!b.rowMarks) {
      // Where each row's marks start, found once per block when first drawn.
      const offsets = new Uint32Array(b.n);
      let p = b.markAt;
      for (let row = 0; row < b.n; ++row) {
        offsets[row] = p;
        for (let col = 0; col < table.cols; ++col) p += 1 + 2 * table.marks[p];
      }
      b.rowMarks = offsets;
    }
    let p = b.rowMarks[r];
    for (let col = 0; col < c; ++col) p += 1 + 2 * table.marks[p];
    const spans = [];
    for (let k = 0, n = table.marks[p]; k < n; ++k) {
      spans.push([table.marks[p + 1 + 2 * k], table.marks[p + 2 + 2 * k]]);
    }
    return spans;
  }

  // The text with changed characters and search hits wrapped.
  function cellHtml(text, marks, hits) {
    if (!marks.length && !hits.length) return escapeHtml(text);
    const cuts = new Set([0, text.length]);
    for (const [b, e] of marks.concat(hits)) { cuts.add(b); cuts.add(e); }
    const points = [...cuts].sort((x, y) => x - y);
    let out = '';
    for (let k = 0; k + 1 < points.length; ++k) {
      const b = points[k], e = points[k + 1];
      if (b >= e) continue;
      const inside = spans => spans.some(([x, y]) => x <= b && e <= y);
      const cls = [inside(marks) ? 'ch' : '', inside(hits) ? 'hit' : ''].filter(Boolean).join(' ');
      const piece = escapeHtml(text.slice(b, e));
      out += cls ? '<span class="' + cls + '">' + piece + '</span>' : piece;
    }
    return out;
  }

  function sideName(cols, c) {
    if (cols === 2) return c === 0 ? 'left' : 'right';
    return c === 0 ? 'left' : c + 1 === cols ? 'right' : 'middle';
  }

  function rowOnly(model, b, r) {
    const cell = c => r < b.sizes[c] ? model.line(b.text[c] + r) : null;
    const a = [cell(0), cell(1), cell(2)];
    const same = (x, y) => a[x] === a[y];
    const s01 = same(0, 1), s02 = same(0, 2), s12 = same(1, 2);
    if (s01 && s02) return b.only;
    if (s12) return 0;
    if (s02) return 1;
    if (s01) return 2;
    return -1;
  }

  function createPage(model) {
    const rows = new Rows(model);
    const single = model.tables.length === 1 ? model.tables[0] : null;
    let current = -1;       // the change stepped to: binary pairs, then model.changes
    let query = null;       // the search's expression, null when no search
    let hits = [];          // [block, row] of each line that matches
    let hitIndex = -1;
    let hitRow = -1;

    const table = document.createElement('table');
    table.className = 'diff';
    const maxCols = Math.max(...model.tables.map(t => t.cols));
    const digits = String(Math.max(1, ...model.lines)).length;
    let colgroup = '<colgroup><col class="mark-col">';
    for (let c = 0; c < maxCols; ++c) colgroup += '<col style="width:' + (digits + 2) + 'ch"><col>';
    colgroup += '</colgroup>';
    let thead = '';
    if (single) {
      thead = '<thead><tr><th class="mark"></th>';
      single.files.forEach((f, c) => {
        thead += '<th></th><th class="title ' + sideName(single.cols, c) + '">' +
                 escapeHtml(model.names[f]) + '</th>';
      });
      thead += '</tr></thead>';
      if (single.title) {
        const p = document.createElement('p');
        p.className = 'pair-summary';
        p.innerHTML = single.title;
        el('top').append(p);
      }
    }
    table.innerHTML = colgroup + thead + '<tbody></tbody>';
    const tbody = table.tBodies[0];

    function textRow(s, r, cls, id, mark) {
      const t = model.tables[s.table];
      let html = '<tr class="' + cls + '"' + (id ? ' id="' + id + '"' : '') + '><td class="mark">' +
                 mark + '</td>';
      for (let c = 0; c < t.cols; ++c) {
        const present = s.common || r < s.sizes[c];
        html += '<td class="num">' + (present ? s.begins[c] + r + 1 : '') + '</td><td class="text c' +
                c + ' ' + sideName(t.cols, c) + (present || t.cols === 2 ? '' : ' absent') + '">';
        if (present) {
          const text = model.line(s.text[c] + r);
          const marks = s.common || rows.hidden(s) ? [] : marksOf(t, s, r, c);
          html += cellHtml(text, marks, query ? hitSpans(text, query) : []);
          if (!s.common && r === 0 && c + 1 === t.cols && label(s)) {
            html += '<span class="badge">' + label(s) + '</span>';
          }
        }
        html += '</td>';
      }
      return html + '</tr>';
    }

    function rowHtml(i) {
      const [s, k] = rows.locate(i);
      if (s.title) {
        return '<tr class="head"><td colspan="' + (1 + 2 * maxCols) + '" class="pair-summary">' +
               model.tables[s.table].title + '</td></tr>';
      }
      if (s.common) {
        const folded = s.folds && !s.open;
        if (folded && k === s.before) {
          const hiddenLines = s.n - s.before - s.after;
          const t = model.tables[s.table];
          const ranges = s.begins.map(b => rangeText(b + s.before, hiddenLines)).join(', ');
          return '<tr class="fold"><td class="mark">&#8942;</td><td colspan="' + 2 * t.cols +
                 '"><button type="button" data-seg="' + s.seg + '">Show ' + hiddenLines +
                 ' unchanged lines</button> (lines ' + ranges + ')</td></tr>';
        }
        const r = folded && k > s.before ? s.n - s.after + (k - s.before - 1) : k;
        return textRow(s, r, 'same', '', '&nbsp;');
      }
      const id = k === 0 ? 'change-' + s.number : '';
      const t = model.tables[s.table];
      if (rows.hidden(s)) return textRow(s, k, 'same blank', id, '&nbsp;');
      let cls, mark;
      if (t.cols === 2) {
        const left = k < s.sizes[0], right = k < s.sizes[1];
        cls = left && right ? 'changed' : left ? 'removed' : 'added';
        mark = left && right ? '!' : left ? '-' : '+';
      } else {
        const only = rowOnly(model, s, k);
        cls = only < 0 ? 'all' : 'only' + only;
        mark = only < 0 ? '*' : String(only + 1);
      }
      if (model.changes[current - binaryCount] === s) cls += ' current';
      return textRow(s, k, cls, id, mark);
    }

    const win = createRowWindow(viewEl, table, {
      count: () => rows.count,
      draw(first, last) {
        let html = '';
        for (let i = first; i < last; ++i) html += rowHtml(i);
        tbody.innerHTML = html;
        if (hitRow >= first && hitRow < last) tbody.rows[hitRow - first]?.classList.add('hit-row');
      },
    });

    // ---- moving between changes: binary pairs first (sections above the rows), then the
    // changes of the tables
    const binaryCount = model.binaryChanges;
    const totalChanges = binaryCount + model.changes.length;
    const shown = i => i < binaryCount || !rows.hidden(model.changes[i - binaryCount]);
    function show(i) {
      current = i;
      document.querySelectorAll('tr.current').forEach(tr => tr.classList.remove('current'));
      position.textContent = 'Change ' + (i + 1) + ' of ' + totalChanges;
      if (i < binaryCount) {
        const row = el('change-' + (i + 1));
        row.classList.add('current');
        row.scrollIntoView({block: 'center'});
        return;
      }
      win.scrollToRow(rows.rowOf(model.changes[i - binaryCount], 0));
    }
    function step(direction) {
      let i = current + direction;
      while (i >= 0 && i < totalChanges && !shown(i)) i += direction;
      if (i >= 0 && i < totalChanges) show(i);
    }

    // ---- the list of changes, written a part at a time as it is scrolled
    let listed = 0;
    function listMore() {
      if (!nav) return;
      let html = '';
      const end = Math.min(model.changes.length, listed + NAV_CHUNK);
      for (; listed < end; ++listed) {
        const b = model.changes[listed];
        const ranges = b.sizes.map((n, c) => rangeText(b.begins[c], n)).join(' \u2194 ');
        const note = label(b);
        html += '<a href="#change-' + b.number + '" data-index="' + listed + '">' + b.number + ': ' +
                ranges + (note ? ' (' + note + ')' : '') + '</a>\n';
      }
      nav.insertAdjacentHTML('beforeend', html);
    }
    if (nav) {
      listMore();
      nav.addEventListener('scroll', () => {
        if (nav.scrollTop + nav.clientHeight >= nav.scrollHeight - 20) listMore();
      });
      nav.addEventListener('click', e => {
        const a = e.target.closest('a');
        if (!a || a.dataset.index === undefined) return;
        e.preventDefault();
        show(binaryCount + +a.dataset.index);
      });
    }

    // ---- folds
    viewEl.addEventListener('click', e => {
      const button = e.target.closest('tr.fold button');
      if (!button) return;
      const s = rows.segs[+button.dataset.seg];
      s.open = true;
      rows.rebuild();
      win.refresh();
    });

    // ---- search over every line, drawn or not
    function runSearch(direction) {
      const text = searchBox.value;
      if (!text) {
        query = null;
        hits = [];
        searchStatus.textContent = '';
        win.refresh();
        return;
      }
      if (!query || query.source !== text) {
        query = {source: text};
        hits = findHits(model, text);
        query.expression = hits.expression;
        hitIndex = -1;
      }
      if (!hits.length) {
        searchStatus.textContent = 'no hits';
        hitRow = -1;
        win.refresh();
        return;
      }
      const from = win.centreRow();
      if (hitIndex < 0) {
        // The first hit at or after the middle of the view (or before it, backwards).
        hitIndex = direction > 0 ? hits.length - 1 : 0;
        for (let k = 0; k < hits.length; ++k) {
          const row = rows.rowOf(hits[k][0], hits[k][1]);
          if (direction > 0 ? row >= from : row <= from) {
            hitIndex = direction > 0 ? k : k;
            if (direction > 0) break;
          }
        }
        if (direction > 0 && rows.rowOf(hits[hitIndex][0], hits[hitIndex][1]) < from) hitIndex = 0;
      } else {
        hitIndex = (hitIndex + direction + hits.length) % hits.length;
      }
      const [b, r] = hits[hitIndex];
      hitRow = rows.rowOf(b, r);
      searchStatus.textContent = 'hit ' + (hitIndex + 1) + ' of ' + hits.length;
      win.scrollToRow(hitRow);
    }
    searchBox.addEventListener('keydown', e => {
      if (e.key === 'Enter') {
        e.preventDefault();
        runSearch(e.shiftKey ? -1 : 1);
      } else if (e.key === 'Escape') {
        searchBox.blur();
      }
    });
    searchBox.addEventListener('input', () => {
      if (!searchBox.value) runSearch(1);
    });
    el('search-next').addEventListener('click', () => runSearch(1));
    el('search-prev').addEventListener('click', () => runSearch(-1));

    // ---- white-space changes hidden or shown
    hideBlank.addEventListener('change', () => {
      rows.hideBlank = hideBlank.checked;
      rows.rebuild();
      win.refresh();
    });

    el('next').addEventListener('click', () => step(1));
    el('prev').addEventListener('click', () => step(-1));
    document.addEventListener('keydown', e => {
      if (e.ctrlKey || e.altKey || e.metaKey || /^(INPUT|TEXTAREA|SELECT)$/.test(e.target.tagName)) return;
      if (e.key === 'n') step(1);
      else if (e.key === 'p') step(-1);
      else if (e.key === 'w') hideBlank.click();
      else if (e.key === '/') {
        e.preventDefault();
        searchBox.focus();
      } else return;
    });

    win.refresh();
    // Open on the first change when it lies beyond the first screen.
    if (model.changes.length) {
      const row = rows.rowOf(model.changes[0], 0);
      if (!win.rowInView(row)) win.scrollToRow(row);
    }
  }

  // A page of binary pairs only has no rows; its changes still step.
  function binaryOnly() {
    const total = document.querySelectorAll('tr[id^="change-"]').length;
    let k = -1;
    const go = d => {
      if (!total) return;
      k = Math.max(0, Math.min(total - 1, k + d));
      document.querySelectorAll('tr.current').forEach(tr => tr.classList.remove('current'));
      const row = el('change-' + (k + 1));
      row.classList.add('current');
      row.scrollIntoView({block: 'center'});
      position.textContent = 'Change ' + (k + 1) + ' of ' + total;
    };
    el('next').addEventListener('click', () => go(1));
    el('prev').addEventListener('click', () => go(-1));
    document.addEventListener('keydown', e => {
      if (/^(INPUT|TEXTAREA|SELECT)$/.test(e.target.tagName)) return;
      if (e.key === 'n') go(1);
      else if (e.key === 'p') go(-1);
    });
  }

  function ready() {
    document.body.dataset.ready = '1';
    document.dispatchEvent(new Event('compare-ready'));
  }

  function start(data) {
    const model = buildModel(data);
    if (model.tables.length && viewEl) createPage(model); else binaryOnly();
    ready();
  }

  const node = el('page-data');
  const packed = node.textContent;
  node.textContent = '';
  if (node.dataset.packing === 'json') {
    // Small pages are drawn at once, before the page has finished loading.
    start(parseData(JSON.parse(packed)));
  } else {
    unpack(packed).then(start).catch(err => {
      if (viewEl) viewEl.textContent = 'This page cannot show its lines: ' + err;
      ready();
    });
  }
})();
