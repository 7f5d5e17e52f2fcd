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
