// The compare page's style sheet and script, carried inside every page so that it needs
// nothing from the network.
#pragma once

#include <string_view>

namespace zorv {

inline constexpr std::string_view compare_page_style = R"(
body { font-family: sans-serif; margin: 0 1em 1em; }
h1 { font-size: 1.2em; margin: 0.5em 0 0.2em; }
.summary { font-weight: bold; margin: 0.2em 0; }
p.note, p.legend { margin: 0.2em 0; font-size: 0.9em; }
#toolbar { position: sticky; top: 0; z-index: 2; background: #f4f4f4; border-bottom: 1px solid #ccc;
           padding: 4px 0; }
#toolbar button { font-size: 0.9em; }
#position { margin-left: 1em; font-size: 0.9em; }
nav#changes { max-height: 5.5em; overflow: auto; font-size: 0.85em; margin: 0.3em 0;
              border: 1px solid #ddd; padding: 2px 6px; }
nav#changes a { margin-right: 0.8em; white-space: nowrap; }
.pair-summary { font-weight: bold; margin: 0.6em 0 0.2em; }
table.diff { border-collapse: collapse; width: 100%; table-layout: fixed; margin-bottom: 2em; }
table.diff th { background: #ddd; text-align: left; padding: 2px 6px; position: sticky; top: 2.1em;
                z-index: 1; }
table.diff td { font-family: monospace; white-space: pre-wrap; word-break: break-all;
                vertical-align: top; padding: 0 6px; }
td.num { color: #888; text-align: right; }
td.mark, th.mark { text-align: center; font-weight: bold; }
tr.changed td.text { background: #fff3b0; }
tr.added td.text.right { background: #c8f7c5; }
tr.removed td.text.left { background: #ffc9c9; }
tr.added td.text.left, tr.removed td.text.right { background: #eee; }
span.ch { background: #f5a623; border-radius: 2px; }
tr.removed span.ch, tr.added span.ch { background: none; }
tr.fold td { background: #eef3fb; color: #456; font-family: sans-serif; padding: 1px 6px; }
tr.fold button { font-size: 0.85em; }
tr.current td.mark { background: #3a7bd5; color: #fff; }
tr.only0 td.text { background: #dbe8ff; }
tr.only1 td.text { background: #d6f5d6; }
tr.only2 td.text { background: #ffe2c2; }
tr.only0 td.text.c0 { background: #a9c8ff; }
tr.only1 td.text.c1 { background: #9fe39f; }
tr.only2 td.text.c2 { background: #ffc285; }
tr.all td.text { background: #ffc9c9; }
td.text.absent { background: #eee !important; }
.swatch { display: inline-block; width: 1em; height: 0.8em; vertical-align: middle; }
)";

inline constexpr std::string_view compare_page_script = R"(
(function () {
  'use strict';
  const starts = [...document.querySelectorAll('tr[id^="change-"]')];
  const position = document.getElementById('position');
  let current = -1;
  function show(i) {
    if (!starts.length) return;
    current = Math.max(0, Math.min(starts.length - 1, i));
    starts.forEach(tr => tr.classList.remove('current'));
    const row = starts[current];
    row.classList.add('current');
    row.scrollIntoView({block: 'center'});
    position.textContent = 'Change ' + (current + 1) + ' of ' + starts.length;
  }
  document.getElementById('next').addEventListener('click', () => show(current + 1));
  document.getElementById('prev').addEventListener('click', () => show(current - 1));
  document.addEventListener('keydown', e => {
    if (e.ctrlKey || e.altKey || e.metaKey || /^(INPUT|TEXTAREA|SELECT)$/.test(e.target.tagName)) return;
    if (e.key === 'n') show(current + 1);
    else if (e.key === 'p') show(current - 1);
  });
  document.querySelectorAll('nav#changes a').forEach((a, i) => a.addEventListener('click', e => {
    e.preventDefault();
    show(i);
  }));

  // Folded lines travel once, compressed; they are unpacked on the first unfold.
  let folded = null;
  async function foldedLines() {
    if (folded) return folded;
    const packed = document.getElementById('folded').textContent.trim();
    const bytes = Uint8Array.from(atob(packed), c => c.charCodeAt(0));
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
    folded = (await new Response(stream).text()).split('\n');
    return folded;
  }
  async function unfold(row) {
    const lines = await foldedLines();
    const count = +row.dataset.lines, offset = +row.dataset.offset;
    const first = row.dataset.starts.split(',').map(Number);
    const sides = row.closest('table').dataset.sides.split(' ');
    const rows = document.createDocumentFragment();
    for (let i = 0; i < count; ++i) {
      const tr = document.createElement('tr');
      tr.className = 'same';
      const mark = tr.insertCell();
      mark.className = 'mark';
      first.forEach((start, c) => {
        const num = tr.insertCell();
        num.className = 'num';
        num.textContent = start + i + 1;
        const text = tr.insertCell();
        text.className = 'text c' + c + ' ' + sides[c];
        text.textContent = lines[offset + i];
      });
      rows.appendChild(tr);
    }
    row.replaceWith(rows);
  }
  document.querySelectorAll('tr.fold button').forEach(b => b.addEventListener('click', () => {
    unfold(b.closest('tr')).catch(err => { b.textContent = 'Cannot unfold: ' + err; });
  }));
})();
)";

}  // namespace zorv
