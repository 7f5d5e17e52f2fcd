// Search over every line of a compare page, drawn or not: one pass of a regular expression
// over all the page's text, the hits then placed in their tables' blocks.

/// The expression for what was typed: literal text; a query in lower case ignores case.
export function searchExpression(text) {
  const flags = text === text.toLowerCase() ? 'gi' : 'g';
  return new RegExp(text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&'), flags);
}

/// Where the query matches within one line, as [start, end] pairs.
export function hitSpans(text, query) {
  const re = query.expression;
  const spans = [];
  re.lastIndex = 0;
  for (let m = re.exec(text); m && m[0].length && spans.length < 200; m = re.exec(text)) {
    spans.push([m.index, m.index + m[0].length]);
  }
  return spans;
}

// The index of the last entry of sorted that is at most value.
function lastAtMost(sorted, value) {
  let lo = 0, hi = sorted.length - 1;
  while (lo < hi) {
    const mid = (lo + hi + 1) >> 1;
    if (sorted[mid] <= value) lo = mid; else hi = mid - 1;
  }
  return lo;
}

/// Every [block, row] whose line matches text, in the order the rows stand.
export function findHits(model, text) {
  const re = searchExpression(text);
  const {body, starts} = model;
  const lines = [];
  re.lastIndex = 0;
  for (let m = re.exec(body); m && m[0].length; m = re.exec(body)) {
    const line = lastAtMost(starts, m.index);
    lines.push(line);
    re.lastIndex = starts[line + 1];  // one hit a line is enough
  }
  if (!model.where) model.where = placeLines(model);
  const hits = [];
  for (const line of lines) {
    if (line < model.lines[0]) {
      for (const t of model.where.first) {
        const k = lastAtMost(t.starts, line);
        const b = t.blocks[k];
        if (b && line - t.starts[k] < t.sizes[k]) hits.push([b, line - t.starts[k]]);
      }
    } else {
      const k = lastAtMost(model.where.extraStarts, line);
      hits.push([model.where.extra[k], line - model.where.extraStarts[k]]);
    }
  }
  hits.sort((x, y) => x[0].seg - y[0].seg || x[1] - y[1]);
  hits.expression = re;
  return hits;
}

// Which block holds each line: the first file's lines by table, the others' in the order
// they were written.
function placeLines(model) {
  const first = model.tables.map(t => {
    const blocks = t.blocks.filter(b => (b.common ? b.n : b.sizes[0]) > 0);
    return {blocks, starts: blocks.map(b => b.begins[0]),
            sizes: blocks.map(b => (b.common ? b.n : b.sizes[0]))};
  });
  const extra = [], extraStarts = [];
  for (const t of model.tables) {
    for (const b of t.blocks) {
      if (b.common) continue;
      for (let c = 1; c < b.sizes.length; ++c) {
        if (!b.sizes[c]) continue;
        extra.push(b);
        extraStarts.push(b.text[c]);
      }
    }
  }
  return {first, extra, extraStarts};
}
