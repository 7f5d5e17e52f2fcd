// The compare page: its lines travel in the page as data, packed in parts when large, and
// only the rows in and near the view are drawn, so that a page of a million lines opens at
// once. Parts of the lines are unpacked when their rows are first drawn.
import {gunzipSync, strFromU8} from 'fflate';
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

  // Packed data: base64 of gzip, unpacked at once (a small part at a time) so that the page
  // draws in one go.
  function unpack(text, binary) {
    const raw = atob(text.trim());
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
    const out = gunzipSync(bytes);
    return binary ? out.slice().buffer : strFromU8(out);
  }
  // The text of a data element; numbers as an ArrayBuffer.
  function read(node, binary) {
    const text = node.textContent;
    node.textContent = '';
    if (node.dataset.packing === 'json') return JSON.parse(text);
    return unpack(text, binary);
  }

  // ---- the lines, in parts unpacked on first use
  class Lines {
    constructor(nodes, perPart) {
      this.nodes = nodes;
      this.perPart = perPart;
      this.parts = nodes.map(() => null);
    }
    load(k) {
      if (this.parts[k] || k >= this.nodes.length) return;
      const text = read(this.nodes[k]);
      let count = 0;
      for (let at = text.indexOf('\n'); at >= 0; at = text.indexOf('\n', at + 1)) ++count;
      const starts = new Uint32Array(count + 1);
      for (let j = 1, at = text.indexOf('\n'); at >= 0; at = text.indexOf('\n', at + 1)) starts[j++] = at + 1;
      this.parts[k] = {text, starts};
    }
    loadAll() {
      this.nodes.forEach((_, k) => this.load(k));
    }
    get(i) {
      const k = Math.floor(i / this.perPart);
      this.load(k);
      const part = this.parts[k], j = i - k * this.perPart;
      return part.text.slice(part.starts[j], part.starts[j + 1] - 1);
    }
  }

  // ---- the model: per table, its blocks in typed arrays (a block is a run of common lines
  // or a change); rows are counted over all tables
  // Numbers written as varints (seven bits a byte, least significant first, the high bit
  // on all but a number's last byte).
  function fromVarints(bytes) {
    let count = 0;
    for (let i = 0; i < bytes.length; ++i) count += bytes[i] < 0x80 ? 1 : 0;
    const out = new Float64Array(count);
    for (let i = 0, k = 0; k < count; ++k) {
      let b = bytes[i++], n = b & 0x7f;
      for (let scale = 0x80; b >= 0x80; scale *= 0x80) {
        b = bytes[i++];
        n += (b & 0x7f) * scale;
      }
      out[k] = n;
    }
    return out;
  }

  function buildModel(head, lines) {
    let extra = head.lines[0];  // the other columns' changed lines follow the first file
    const tables = head.tables.map(t => {
      const cols = t.files.length, flat = fromVarints(t.blocks);
      let count = 0;
      for (let i = 0; i < flat.length; i += flat[i] === 0 ? 2 : 5 + cols) ++count;
      const table = {
        files: t.files, cols, title: t.title, marks: t.marks, count,
        change: new Uint8Array(count), n: new Uint32Array(count),
        size: new Uint32Array(count * cols), begin: new Float64Array(count * cols),
        text: new Float64Array(count * cols), kind: new Uint8Array(count),
        ends: new Uint8Array(count), only: new Int8Array(count), markAt: new Float64Array(count),
        number: new Uint32Array(count), open: new Uint8Array(count), rowMarks: new Map(),
      };
      const at = new Float64Array(cols);
      for (let i = 0, k = 0; k < count; ++k) {
        const o = k * cols;
        if (flat[i] === 0) {
          const n = flat[i + 1], first = at[0];
          table.n[k] = n;
          for (let c = 0; c < cols; ++c) {
            table.size[o + c] = n;
            table.begin[o + c] = at[c];
            table.text[o + c] = first;  // common lines are the first file's
            at[c] += n;
          }
          i += 2;
          continue;
        }
        table.change[k] = 1;
        let rows = 0;
        for (let c = 0; c < cols; ++c) {
          const size = flat[i + 1 + c];
          rows = Math.max(rows, size);
          table.size[o + c] = size;
          table.begin[o + c] = at[c];
          table.text[o + c] = c === 0 ? at[0] : extra;
          if (c > 0) extra += size;
          at[c] += size;
        }
        table.n[k] = rows;
        table.kind[k] = flat[i + 1 + cols];
        table.ends[k] = flat[i + 2 + cols];
        table.only[k] = flat[i + 3 + cols] - 1;
        table.markAt[k] = flat[i + 4 + cols];
        i += 5 + cols;
      }
      return table;
    });
    // Segments: a table's title row (several tables only) or a block.
    const multi = tables.length > 1;
    let segCount = 0;
    tables.forEach(t => { segCount += t.count + (multi ? 1 : 0); });
    const segTable = new Uint32Array(segCount), segBlock = new Int32Array(segCount);
    const firstSeg = [];
    let changeCount = 0;
    for (let ti = 0, s = 0; ti < tables.length; ++ti) {
      if (multi) {
        segTable[s] = ti;
        segBlock[s++] = -1;
      }
      firstSeg.push(s);
      for (let k = 0; k < tables[ti].count; ++k, ++s) {
        segTable[s] = ti;
        segBlock[s] = k;
        if (tables[ti].change[k]) ++changeCount;
      }
    }
    const changes = new Uint32Array(changeCount);
    for (let s = 0, c = 0; s < segCount; ++s) {
      if (segBlock[s] >= 0 && tables[segTable[s]].change[segBlock[s]]) {
        tables[segTable[s]].number[segBlock[s]] = head.firstChange + c;
        changes[c++] = s;
      }
    }
    return {names: head.names, lineCounts: head.lines, tables, segTable, segBlock, firstSeg, changes,
            lines, binaryChanges: head.firstChange - 1, languages: head.languages};
  }

  // How a common block folds: rows [before, n - after) hide behind one fold row.
  function foldOf(t, k) {
    const atStart = k === 0, atEnd = k + 1 === t.count;
    let before = atStart ? 0 : FOLD_CONTEXT;
    const after = atEnd ? 0 : FOLD_CONTEXT;
    if (atStart && atEnd) before = FOLD_CONTEXT;
    const folds = !t.change[k] && !t.open[k] && t.n[k] > FOLD_LONGER_THAN && before + after < t.n[k];
    return {folds, before, after};
  }

  function label(t, k) {
    if (t.kind[k] === KIND_BLANK) return 'white space only';
    if (t.kind[k] !== KIND_LINE_END) return '';
    const names = [];
    for (let c = 0; c < t.cols; ++c) names.push(END_NAMES[(t.ends[k] >> (2 * c)) & 3]);
    return 'line ending: ' + names.join(' / ');
  }

  // ---- rows: what the blocks show now, folds and hidden white-space changes considered
  class Rows {
    constructor(model) {
      this.model = model;
      this.hideBlank = false;
      this.rebuild();
    }
    hidden(t, k) {
      return this.hideBlank && t.change[k] === 1 &&
             (t.kind[k] === KIND_BLANK || t.kind[k] === KIND_LINE_END);
    }
    rebuild() {
      const {segBlock, segTable, tables} = this.model;
      const n = segBlock.length;
      const starts = new Float64Array(n + 1);
      for (let s = 0; s < n; ++s) {
        const k = segBlock[s];
        let shown = 1;
        if (k >= 0) {
          const t = tables[segTable[s]];
          shown = t.n[k];
          // What foldOf says, without making an object for every block.
          if (!t.change[k] && !t.open[k] && shown > FOLD_LONGER_THAN) {
            const atStart = k === 0, atEnd = k + 1 === t.count;
            const context = (atStart && !atEnd ? 0 : FOLD_CONTEXT) + (atEnd ? 0 : FOLD_CONTEXT);
            if (context < shown) shown = context + 1;
          }
        }
        starts[s + 1] = starts[s] + shown;
      }
      this.starts = starts;
      this.count = starts[n];
    }
    // The segment and the row within it of row i.
    locate(i) {
      let lo = 0, hi = this.starts.length - 2;
      while (lo < hi) {
        const mid = (lo + hi + 1) >> 1;
        if (this.starts[mid] <= i) lo = mid; else hi = mid - 1;
      }
      return [lo, i - this.starts[lo]];
    }
    // The row that shows line r of segment s now, or the fold row that hides it.
    peekRow(s, r) {
      const t = this.model.tables[this.model.segTable[s]], k = this.model.segBlock[s];
      if (k < 0) return this.starts[s];
      const f = foldOf(t, k);
      if (!f.folds || r < f.before) return this.starts[s] + r;
      if (r < t.n[k] - f.after) return this.starts[s] + f.before;
      return this.starts[s] + f.before + 1 + (r - (t.n[k] - f.after));
    }
    // The row that shows line r of segment s (its fold opens when the line is behind it).
    rowOf(s, r) {
      const t = this.model.tables[this.model.segTable[s]], k = this.model.segBlock[s];
      if (k < 0) return this.starts[s];
      let f = foldOf(t, k);
      if (f.folds && r >= f.before && r < t.n[k] - f.after) {
        t.open[k] = 1;
        this.rebuild();
        f = foldOf(t, k);
      }
      const row = f.folds && r >= t.n[k] - f.after ? f.before + 1 + (r - (t.n[k] - f.after)) : r;
      return this.starts[s] + row;
    }
  }

  // ---- drawing
  // The marks of line r of column c of block k. The block lists, as varints, only the
  // cells that have any, in order; they are read as far as rows are drawn.
  function marksOf(t, k, r, c) {
    const bytes = t.marks;
    let cells = t.rowMarks.get(k);
    const next = () => {
      let n = 0, shift = 0, b;
      do {
        b = bytes[cells.p++];
        n += (b & 0x7f) * 2 ** shift;
        shift += 7;
      } while (b & 0x80);
      return n;
    };
    if (!cells) {
      cells = {p: t.markAt[k], key: 0, read: new Map()};
      cells.left = next();
      t.rowMarks.set(k, cells);
    }
    const key = r * t.cols + c;
    while (cells.left > 0 && cells.key <= key) {
      cells.key += next();
      const spans = [];
      for (let m = next(), end = 0; m > 0; --m) {
        const from = end + next();
        end = from + next();
        spans.push([from, end]);
      }
      cells.read.set(cells.key, spans);
      --cells.left;
    }
    return cells.read.get(key) || [];
  }

  // The text with its colours (tokens: start, end and class, three entries each, in order),
  // changed characters and search hits wrapped.
  function cellHtml(text, marks, hits, tokens) {
    if (!marks.length && !hits.length) {
      let out = '', at = 0;
      for (let j = 0; j < tokens.length; j += 3) {
        out += escapeHtml(text.slice(at, tokens[j])) + '<span class="' + tokens[j + 2] + '">' +
               escapeHtml(text.slice(tokens[j], tokens[j + 1])) + '</span>';
        at = tokens[j + 1];
      }
      return out + escapeHtml(text.slice(at));
    }
    const cuts = new Set([0, text.length]);
    for (const [b, e] of marks.concat(hits)) { cuts.add(b); cuts.add(e); }
    for (let j = 0; j < tokens.length; j += 3) { cuts.add(tokens[j]); cuts.add(tokens[j + 1]); }
    const points = [...cuts].sort((x, y) => x - y);
    let out = '';
    for (let m = 0, j = 0; m + 1 < points.length; ++m) {
      const b = points[m], e = points[m + 1];
      if (b >= e) continue;
      const inside = spans => spans.some(([x, y]) => x <= b && e <= y);
      while (j < tokens.length && tokens[j + 1] <= b) j += 3;
      const token = j < tokens.length && tokens[j] <= b ? tokens[j + 2] : '';
      const cls = [inside(marks) ? 'ch' : '', inside(hits) ? 'hit' : '', token].filter(Boolean).join(' ');
      const piece = escapeHtml(text.slice(b, e));
      out += cls ? '<span class="' + cls + '">' + piece + '</span>' : piece;
    }
    return out;
  }

  function sideName(cols, c) {
    if (cols === 2) return c === 0 ? 'left' : 'right';
    return c === 0 ? 'left' : c + 1 === cols ? 'right' : 'middle';
  }

  function createPage(model) {
    const rows = new Rows(model);
    const {tables, lines} = model;
    const single = tables.length === 1 ? tables[0] : null;
    let current = -1;  // the change stepped to: binary pairs first, then model.changes
    let query = null;  // {source, expression} of the search, null when none
    let hits = [];     // [segment, row] of each line that matches
    let hitIndex = -1;
    let hitRow = -1;

    const table = document.createElement('table');
    table.className = 'diff';
    const maxCols = Math.max(...tables.map(t => t.cols));
    const digits = String(Math.max(1, ...model.lineCounts)).length;
    let html = '<colgroup><col class="mark-col">';
    for (let c = 0; c < maxCols; ++c) html += '<col style="width:' + (digits + 2) + 'ch"><col>';
    html += '</colgroup>';
    if (single) {
      html += '<thead><tr><th class="mark"></th>';
      single.files.forEach((f, c) => {
        html += '<th></th><th class="title ' + sideName(single.cols, c) + '">' +
                escapeHtml(model.names[f]) + '</th>';
      });
      html += '</tr></thead>';
      if (single.title) {
        const p = document.createElement('p');
        p.className = 'pair-summary';
        p.innerHTML = single.title;
        el('top').append(p);
      }
    }
    table.innerHTML = html + '<tbody></tbody>';
    const tbody = table.tBodies[0];

    // The text of line r of column c of block k.
    const lineOf = (t, k, c, r) => lines.get(t.text[k * t.cols + c] + r);

    // ---- colours, where a file's name says its language and the shared script is there:
    // each column's file is coloured as its lines are drawn
    const syntax = model.languages && globalThis.varnexSyntax;
    // The text of line n (from 0) of column c's file: found in the block that holds it.
    function fileLine(t, c, n) {
      let lo = 0, hi = t.count - 1;
      while (lo < hi) {
        const mid = (lo + hi + 1) >> 1;
        if (t.begin[mid * t.cols + c] <= n) lo = mid; else hi = mid - 1;
      }
      for (let k = lo; k >= 0; --k) {
        const begin = t.begin[k * t.cols + c];
        if (n >= begin && n < begin + t.size[k * t.cols + c]) return lineOf(t, k, c, n - begin);
        if (begin < n) break;
      }
      return undefined;
    }
    function coloursOf(t, c) {
      if (!t.colours) t.colours = [];
      if (t.colours[c] === undefined) {
        const language = model.languages[t.files[c]];
        t.colours[c] = language ? syntax.colouring(language, n => fileLine(t, c, n)) : null;
      }
      return t.colours[c];
    }
    const tokensOf = syntax ? (t, k, c, r) => {
      const colours = coloursOf(t, c);
      return colours ? colours.tokens(t.begin[k * t.cols + c] + r) : [];
    } : () => [];

    function rowOnly(t, k, r) {
      const cell = c => (r < t.size[k * t.cols + c] ? lineOf(t, k, c, r) : undefined);
      const a = [cell(0), cell(1), cell(2)];
      const s01 = a[0] === a[1], s02 = a[0] === a[2], s12 = a[1] === a[2];
      if (s01 && s02) return t.only[k];
      if (s12) return 0;
      if (s02) return 1;
      if (s01) return 2;
      return -1;
    }

    function textRow(t, k, r, cls, id, mark) {
      const changed = t.change[k] === 1 && !rows.hidden(t, k);
      let out = '<tr class="' + cls + '"' + (id ? ' id="' + id + '"' : '') + '><td class="mark">' +
                mark + '</td>';
      for (let c = 0; c < t.cols; ++c) {
        const present = r < t.size[k * t.cols + c];
        out += '<td class="num">' + (present ? t.begin[k * t.cols + c] + r + 1 : '') +
               '</td><td class="text c' + c + ' ' + sideName(t.cols, c) +
               (present || t.cols === 2 ? '' : ' absent') + '">';
        if (present) {
          const text = lineOf(t, k, c, r);
          out += cellHtml(text, changed ? marksOf(t, k, r, c) : [], query ? hitSpans(text, query) : [],
                          tokensOf(t, k, c, r));
          if (t.change[k] && r === 0 && c + 1 === t.cols && label(t, k)) {
            out += '<span class="badge">' + label(t, k) + '</span>';
          }
        }
        out += '</td>';
      }
      return out + '</tr>';
    }

    function rowHtml(i) {
      const [s, row] = rows.locate(i);
      const t = tables[model.segTable[s]], k = model.segBlock[s];
      if (k < 0) {
        return '<tr class="head"><td colspan="' + (1 + 2 * maxCols) + '" class="pair-summary">' +
               t.title + '</td></tr>';
      }
      if (!t.change[k]) {
        const f = foldOf(t, k);
        if (f.folds && row === f.before) {
          const hidden = t.n[k] - f.before - f.after;
          const ranges = [];
          for (let c = 0; c < t.cols; ++c) ranges.push(rangeText(t.begin[k * t.cols + c] + f.before, hidden));
          return '<tr class="fold"><td class="mark">&#8942;</td><td colspan="' + 2 * t.cols +
                 '"><button type="button" data-seg="' + s + '">Show ' + hidden +
                 ' unchanged lines</button> (lines ' + ranges.join(', ') + ')</td></tr>';
        }
        const r = f.folds && row > f.before ? t.n[k] - f.after + (row - f.before - 1) : row;
        return textRow(t, k, r, 'same', '', '&nbsp;');
      }
      const id = row === 0 ? 'change-' + t.number[k] : '';
      if (rows.hidden(t, k)) return textRow(t, k, row, 'same blank', id, '&nbsp;');
      let cls, mark;
      if (t.cols === 2) {
        const left = row < t.size[k * 2], right = row < t.size[k * 2 + 1];
        cls = left && right ? 'changed' : left ? 'removed' : 'added';
        mark = left && right ? '!' : left ? '-' : '+';
      } else {
        const only = rowOnly(t, k, row);
        cls = only < 0 ? 'all' : 'only' + only;
        mark = only < 0 ? '*' : String(only + 1);
      }
      if (current >= binaryCount && model.changes[current - binaryCount] === s) cls += ' current';
      return textRow(t, k, row, cls, id, mark);
    }

    const win = createRowWindow(viewEl, table, {
      count: () => rows.count,
      draw(first, last) {
        let out = '';
        for (let i = first; i < last; ++i) out += rowHtml(i);
        tbody.innerHTML = out;
        if (hitRow >= first && hitRow < last) tbody.rows[hitRow - first].classList.add('hit-row');
      },
    });

    // ---- moving between changes: binary pairs first (sections above the rows), then the
    // changes of the tables
    const binaryCount = model.binaryChanges;
    const totalChanges = binaryCount + model.changes.length;
    const blockOf = s => [tables[model.segTable[s]], model.segBlock[s]];
    const shown = i => i < binaryCount || !rows.hidden(...blockOf(model.changes[i - binaryCount]));
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
      let out = '';
      const end = Math.min(model.changes.length, listed + NAV_CHUNK);
      for (; listed < end; ++listed) {
        const [t, k] = blockOf(model.changes[listed]);
        const ranges = [];
        for (let c = 0; c < t.cols; ++c) ranges.push(rangeText(t.begin[k * t.cols + c], t.size[k * t.cols + c]));
        const note = label(t, k);
        out += '<a href="#change-' + t.number[k] + '" data-index="' + listed + '">' + t.number[k] +
               ': ' + ranges.join(' \u2194 ') + (note ? ' (' + note + ')' : '') + '</a>\n';
      }
      nav.insertAdjacentHTML('beforeend', out);
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
      const [t, k] = blockOf(+button.dataset.seg);
      t.open[k] = 1;
      rows.rebuild();
      win.refresh();
    });

    // ---- search over every line, drawn or not
    function runSearch(direction) {
      const text = searchBox.value;
      if (!text) {
        query = null;
        hits = [];
        hitRow = -1;
        searchStatus.textContent = '';
        win.refresh();
        return;
      }
      if (!query || query.source !== text) {
        lines.loadAll();
        const found = findHits(model, text);
        query = {source: text, expression: found.expression};
        hits = found;
        hitIndex = -1;
      }
      if (!hits.length) {
        searchStatus.textContent = 'no hits';
        hitRow = -1;
        win.refresh();
        return;
      }
      if (hitIndex < 0) {
        // The first hit from the middle of the view on (backwards: before it).
        const from = win.centreRow();
        const rowsOf = hits.map(([s, r]) => rows.peekRow(s, r));
        hitIndex = direction > 0 ? rowsOf.findIndex(row => row >= from) : rowsOf.findLastIndex(row => row <= from);
        if (hitIndex < 0) hitIndex = direction > 0 ? 0 : hits.length - 1;
      } else {
        hitIndex = (hitIndex + direction + hits.length) % hits.length;
      }
      const [s, r] = hits[hitIndex];
      hitRow = rows.rowOf(s, r);
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
      }
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
    document.body.dataset.readyAt = String(Math.round(performance.now()));
    document.dispatchEvent(new Event('compare-ready'));
  }

  function start(head) {
    const lines = new Lines([...document.querySelectorAll('script.page-lines')], head.linesPerPart);
    const model = buildModel(head, lines);
    if (model.tables.length && viewEl) createPage(model); else binaryOnly();
    ready();
  }

  try {
    const headNode = el('page-data');
    const head = JSON.parse(read(headNode));
    if (headNode.dataset.packing !== 'json') {
      // Each table's blocks and marks travel beside the head, as numbers.
      const numbers = [...document.querySelectorAll('script.page-numbers')];
      head.tables.forEach((t, k) => {
        t.blocks = new Uint8Array(read(numbers[2 * k], true));
        t.marks = new Uint8Array(read(numbers[2 * k + 1], true));
      });
    }
    start(head);
  } catch (err) {
    if (viewEl) viewEl.textContent = 'This page cannot show its lines: ' + err;
    ready();
  }
})();
