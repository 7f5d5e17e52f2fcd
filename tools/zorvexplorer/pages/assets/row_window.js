// A window of rows over a table too long to draw: every row has the same height and only
// the rows in and near the view are drawn. Where all rows together would be taller than a
// browser lays out, the scroll range is scaled down to fit.
const TALLEST = 15e6;  // px
const OVERSCAN = 10;   // rows drawn beyond each edge of the view

export function createRowWindow(scroller, table, source) {
  const sizer = document.createElement('div');
  sizer.className = 'sizer';
  sizer.append(table);
  scroller.append(sizer);
  let rowHeight = 0, headHeight = 0, pending = false;

  function measure() {
    if (rowHeight) return;
    source.draw(0, Math.min(1, source.count()));
    const row = table.tBodies[0].rows[0];
    rowHeight = row ? row.getBoundingClientRect().height || 18 : 18;
    headHeight = table.tHead ? table.tHead.getBoundingClientRect().height : 0;
  }
  function geometry() {
    const total = headHeight + source.count() * rowHeight;
    const height = Math.min(total, TALLEST);
    const client = scroller.clientHeight;
    const ratio = total > height && height > client ? (total - client) / (height - client) : 1;
    // How far down the whole table the view's top is.
    const offset = scroller.scrollTop * ratio;
    return {total, height, client, ratio, offset};
  }
  function render() {
    pending = false;
    measure();
    let g = geometry();
    sizer.style.height = g.height + 'px';
    g = geometry();
    const count = source.count();
    const first = Math.max(0, Math.floor(g.offset / rowHeight) - OVERSCAN);
    const last = Math.min(count, Math.ceil((g.offset + g.client) / rowHeight) + OVERSCAN);
    source.draw(first, last);
    table.style.top = (scroller.scrollTop + first * rowHeight - g.offset) + 'px';
  }
  scroller.addEventListener('scroll', () => {
    if (!pending) {
      pending = true;
      requestAnimationFrame(render);
    }
  });
  window.addEventListener('resize', render);

  return {
    refresh: render,
    /// Scrolls row i to the middle of the view and draws it.
    scrollToRow(i) {
      measure();
      sizer.style.height = Math.min(headHeight + source.count() * rowHeight, TALLEST) + 'px';
      const g = geometry();
      const wanted = i * rowHeight - (g.client - headHeight - rowHeight) / 2;
      const offset = Math.max(0, Math.min(g.total - g.client, wanted));
      scroller.scrollTop = offset / g.ratio;
      render();
    },
    /// True when row i is wholly in view.
    rowInView(i) {
      measure();
      const g = geometry();
      const top = headHeight + i * rowHeight - g.offset;
      return top >= headHeight && top + rowHeight <= g.client;
    },
    /// The row in the middle of the view.
    centreRow() {
      measure();
      const g = geometry();
      return Math.floor((g.offset + (g.client - headHeight) / 2) / rowHeight);
    },
  };
}
