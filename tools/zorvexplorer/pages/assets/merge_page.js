(function () {
  'use strict';
  const conflicts = [...document.querySelectorAll('section.conflict')];
  const remaining = document.getElementById('remaining');
  const save = document.getElementById('save');
  const cancel = document.getElementById('cancel');
  const status = document.getElementById('status');
  const choices = conflicts.map(() => null);
  const sideText = (section, side) => {
    const pre = section.querySelector('div.side.' + side + ' pre');
    return pre && !pre.querySelector('.empty') ? pre.textContent : '';
  };
  const join = (a, b) => a + (a && b && !a.endsWith('\n') ? '\n' : '') + b;
  function composed(section, choice) {
    const l = sideText(section, 'left'), r = sideText(section, 'right');
    switch (choice) {
      case 'left': return l;
      case 'right': return r;
      case 'left-right': return join(l, r);
      case 'right-left': return join(r, l);
      case 'base': return sideText(section, 'base');
    }
    return '';
  }
  const labels = {'left': 'left taken', 'right': 'right taken', 'left-right': 'left, then right',
                  'right-left': 'right, then left', 'base': 'base taken', 'edit': 'edited'};
  function update() {
    const left = choices.filter(c => c === null).length;
    remaining.textContent = left === 0
        ? (conflicts.length ? 'All ' + conflicts.length + ' conflicts resolved' : 'No conflicts')
        : left + ' of ' + conflicts.length + (conflicts.length === 1 ? ' conflict' : ' conflicts') +
          ' left';
    remaining.classList.toggle('done', left === 0);
    save.disabled = left !== 0;
    conflicts.forEach((section, i) => {
      section.classList.toggle('resolved', choices[i] !== null);
      section.querySelector('.state').textContent = choices[i] ? labels[choices[i]] : 'unresolved';
      section.querySelectorAll('div.choices button').forEach(
          b => b.classList.toggle('chosen', b.dataset.take === choices[i]));
    });
  }
  conflicts.forEach((section, i) => {
    const result = section.querySelector('textarea.result');
    section.querySelectorAll('div.choices button').forEach(b => b.addEventListener('click', () => {
      choices[i] = b.dataset.take;
      result.value = composed(section, b.dataset.take);
      update();
    }));
    result.addEventListener('input', () => { choices[i] = 'edit'; update(); });
  });
  function nextUnresolved() {
    const i = choices.findIndex(c => c === null);
    if (i >= 0) conflicts[i].scrollIntoView({block: 'start'});
  }
  document.getElementById('next-conflict').addEventListener('click', nextUnresolved);
  document.addEventListener('keydown', e => {
    if (e.key === 'n' && !/^(INPUT|TEXTAREA|SELECT)$/.test(e.target.tagName)) nextUnresolved();
  });

  // Alive reports come from a worker: a background tab's own timers may be slowed far
  // beyond the server's patience.
  const aliveUrl = new URL('alive', location.href).href;
  let beat = null;
  try {
    const code = 'let t; onmessage = e => { if (e.data === "stop") { clearInterval(t); return; }' +
        ' const send = () => fetch(e.data, {method: "POST"}).catch(() => {});' +
        ' send(); t = setInterval(send, ' + heartbeat_ms + '); };';
    beat = new Worker(URL.createObjectURL(new Blob([code], {type: 'text/javascript'})));
    beat.postMessage(aliveUrl);
  } catch (err) {
    const t = setInterval(() => fetch(aliveUrl, {method: 'POST'}).catch(() => {}), heartbeat_ms);
    beat = {postMessage: () => clearInterval(t)};
  }

  function finish(text) {
    beat.postMessage('stop');
    document.querySelectorAll('button, textarea').forEach(e => { e.disabled = true; });
    const note = document.getElementById('done-note');
    note.textContent = text;
    note.hidden = false;
    note.scrollIntoView();
  }
  async function post(what, body) {
    const response = await fetch(what, {method: 'POST', body: body});
    const text = await response.text();
    if (!response.ok) throw new Error(text || response.statusText);
    return text;
  }
  save.addEventListener('click', async () => {
    const body = new URLSearchParams();
    choices.forEach((c, i) => {
      body.append('c' + i, c);
      if (c === 'edit') body.append('e' + i, conflicts[i].querySelector('textarea.result').value);
    });
    status.className = '';
    status.textContent = 'Saving\u2026';
    try {
      finish(await post('save', body));
      status.className = 'ok';
      status.textContent = 'Saved';
    } catch (err) {
      status.textContent = 'Not saved: ' + err.message;
    }
  });
  cancel.addEventListener('click', async () => {
    try {
      finish(await post('cancel', new URLSearchParams()));
      status.textContent = 'Cancelled';
    } catch (err) {
      status.textContent = 'Cannot cancel: ' + err.message;
    }
  });
  update();
})();
