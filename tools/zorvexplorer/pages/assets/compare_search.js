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

/// Every [segment, row] whose line matches text, in the order the rows stand. All parts of
/// the lines must be unpacked.
export function findHits(model, text) {
  const re = searchExpression(text);
  const {parts, perPart} = model.lines;
  const matched = [];
  parts.forEach((part, k) => {
    re.lastIndex = 0;
    for (let m = re.exec(part.text); m && m[0].length; m = re.exec(part.text)) {
      const line = lastAtMost(part.starts, m.index);
      matched.push(k * perPart + line);
      re.lastIndex = part.starts[line + 1];  // one hit a line is enough
    }
  });
  if (!model.where) model.where = placeLines(model);
  const {first, extra} = model.where;
  const hits = [];
  for (const line of matched) {
    if (line < model.lineCounts[0]) {
      for (const t of first) {
        if (!t.starts.length) continue;
        const k = lastAtMost(t.starts, line);
        if (line - t.starts[k] < t.sizes[k]) hits.push([t.segs[k], line - t.starts[k]]);
      }
    } else if (extra.starts.length) {
      const k = lastAtMost(extra.starts, line);
      hits.push([extra.segs[k], line - extra.starts[k]]);
    }
  }
  hits.sort((x, y) => x[0] - y[0] || x[1] - y[1]);
  // A row whose columns both match is one hit.
  const rows = hits.filter((h, k) => k === 0 || h[0] !== hits[k - 1][0] || h[1] !== hits[k - 1][1]);
  rows.expression = re;
  return rows;
}

// Which segment holds each line: the first file's lines by table, the others' in the
// order they were written.
function placeLines(model) {
  const first = [];
  const extra = {starts: [], segs: []};
  model.tables.forEach((t, ti) => {
    const place = {starts: [], sizes: [], segs: []};
    for (let k = 0; k < t.count; ++k) {
      const seg = model.firstSeg[ti] + k;
      const size = t.size[k * t.cols];
      if (size > 0) {
        place.starts.push(t.begin[k * t.cols]);
        place.sizes.push(size);
        place.segs.push(seg);
      }
      if (!t.change[k]) continue;
      for (let c = 1; c < t.cols; ++c) {
        if (!t.size[k * t.cols + c]) continue;
        extra.starts.push(t.text[k * t.cols + c]);
        extra.segs.push(seg);
      }
    }
    first.push(place);
  });
  return {first, extra};
}
