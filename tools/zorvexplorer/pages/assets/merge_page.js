// The merge page: the merged result in one editor, the conflicts inline between their
// markers, the current conflict's three sides beside it, a key and a button for each choice.
// The merge comes as data (#merge-data); what the page shows is made from it here.
import {
  Compartment, Decoration, EditorSelection, EditorState, EditorView, RangeSetBuilder, StateEffect,
  StateField, Transaction, ViewPlugin, defaultKeymap, drawSelection, highlightSelectionMatches,
  highlightSpecialChars, history, historyKeymap, isolateHistory, keymap, lineNumbers,
  openSearchPanel, placeholder, redo, search, searchKeymap, undo,
} from '../../web/editor.js';

const data = JSON.parse(document.getElementById('merge-data').textContent);
const [leftName, baseName, rightName] = data.names;
const $ = id => document.getElementById(id);

// ---- the merge as text

const joined = (a, b) => a + (a && b && !a.endsWith('\n') ? '\n' : '') + b;
// Text of one choice; a side taken as it stands, two joined on a line of their own.
function composed(c, choice) {
  switch (choice) {
    case 'left': return c.l;
    case 'right': return c.r;
    case 'left-right': return joined(c.l, c.r);
    case 'right-left': return joined(c.r, c.l);
    case 'base': return c.b;
  }
  return null;
}
const choices = ['left', 'right', 'left-right', 'right-left'].concat(data.has_base ? ['base'] : []);
// The conflict as a merge without the page writes it.
function markedBlock(c) {
  let s = '';
  const marker = (m, name) => {
    if (s && !s.endsWith('\n')) s += '\n';
    s += m + (name ? ' ' + name.replace(/[\r\n]/g, ' ') : '') + '\n';
  };
  marker('<<<<<<<', leftName);
  s += c.l;
  if (data.has_base) {
    marker('|||||||', baseName);
    s += c.b;
  }
  marker('=======', '');
  s += c.r;
  marker('>>>>>>>', rightName);
  return s;
}

const conflicts = [];  // {c: data, block: marked text, number}
const stretches = [];  // the merged text between conflicts, as it came
let initialText = '';
const initialRanges = [];
for (const chunk of data.chunks) {
  if (typeof chunk === 'string') {
    stretches.push(chunk);
    initialText += chunk;
    continue;
  }
  const block = markedBlock(chunk);
  conflicts.push({c: chunk, block, number: conflicts.length + 1});
  initialRanges.push([initialText.length, initialText.length + block.length]);
  initialText += block;
}

// Where each conflict stands in the result, moved along with every change. Text typed at
// either edge of a conflict joins it; conflicts never overlap.
const conflictRanges = StateField.define({
  create: () => initialRanges,
  update(ranges, tr) {
    if (!tr.docChanged) return ranges;
    let floor = 0;
    return ranges.map(([from, to]) => {
      const f = Math.max(floor, tr.changes.mapPos(from, -1));
      const t = Math.max(f, tr.changes.mapPos(to, 1));
      floor = t;
      return [f, t];
    });
  },
});

// How conflict k stands: 'open' while its markers are as they came, the choice whose text
// it holds, or 'edit'.
function stateOf(state, k) {
  const [from, to] = state.field(conflictRanges)[k];
  const text = state.sliceDoc(from, to);
  const {c, block} = conflicts[k];
  if (text === block) return 'open';
  return choices.find(choice => composed(c, choice) === text) || 'edit';
}
const conflictStates = StateField.define({
  create: state => conflicts.map((_, k) => stateOf(state, k)),
  update(states, tr) {
    if (!tr.docChanged) return states;
    const ranges = tr.state.field(conflictRanges);
    const touched = new Set();
    tr.changes.iterChangedRanges((fromA, toA, fromB, toB) => {
      ranges.forEach(([from, to], k) => {
        if (fromB <= to && toB >= from) touched.add(k);
      });
    });
    return states.map((s, k) => (touched.has(k) ? stateOf(tr.state, k) : s));
  },
});

const setCurrent = StateEffect.define();
const currentConflict = StateField.define({
  create: () => 0,
  update(k, tr) {
    for (const e of tr.effects) if (e.is(setCurrent)) k = e.value;
    return k;
  },
});

const markerLine = /^(<{7}|\|{7}|={7}|>{7})( |$)/;
const conflictLines = EditorView.decorations.compute(
    [conflictRanges, conflictStates, currentConflict, 'doc'], state => {
      const builder = new RangeSetBuilder();
      const ranges = state.field(conflictRanges);
      const states = state.field(conflictStates);
      const current = state.field(currentConflict);
      ranges.forEach(([from, to], k) => {
        if (to <= from) return;
        const open = states[k] === 'open';
        const cls = 'cm-conflict' + (open ? ' cm-open' : ' cm-resolved') +
            (k === current ? ' cm-current' : '');
        for (let pos = from; pos < to;) {
          const line = state.doc.lineAt(pos);
          const marker = open && markerLine.test(line.text);
          builder.add(line.from, line.from,
                      Decoration.line({class: cls + (marker ? ' cm-marker' : '')}));
          pos = line.to + 1;
        }
      });
      return builder.finish();
    });

// ---- the result's editor

// A byte that is not UTF-8 comes as a lone surrogate (U+DC00 + the byte): shown as the
// byte's value, and sent back as the byte itself.
function bytesShownAs(code) {
  const span = document.createElement('span');
  span.className = 'cm-byte';
  span.textContent = '\u2039' + (code - 0xdc00).toString(16).toUpperCase().padStart(2, '0') +
      '\u203a';
  span.title = 'the byte ' + span.textContent.slice(1, 3) + ', not UTF-8; kept as it is';
  return span;
}
// (The editor matches with the u flag: half of a surrogate pair is never taken for a byte.)
const bytesShown =
    highlightSpecialChars({addSpecialChars: /[\udc80-\udcff]/u, render: bytesShownAs});

// Colours by language, when the file's name says one: the server then serves the colouring
// script before this one. Marker lines stay plain.
const colours = () => (data.language && globalThis.varnexSyntax
    ? globalThis.varnexSyntax.editorColouring({ViewPlugin, Decoration, RangeSetBuilder},
                                              data.language, line => markerLine.test(line))
    : []);


const stateEvents = EditorView.updateListener.of(update => {
  if (update.docChanged || update.transactions.some(t => t.effects.length)) refresh();
  if (update.selectionSet && !update.transactions.some(t => t.effects.some(e => e.is(setCurrent)))) {
    // The cursor in a conflict makes it the current one.
    const head = update.state.selection.main.head;
    const k = update.state.field(conflictRanges).findIndex(([f, t]) => head >= f && head < t);
    if (k >= 0 && k !== update.state.field(currentConflict)) {
      setTimeout(() => result.dispatch({effects: setCurrent.of(k)}));
    }
  }
});

const editing = new Compartment();
const result = new EditorView({
  parent: $('result'),
  state: EditorState.create({
    doc: initialText,
    extensions: [
      // Lines end at line feeds only: a carriage return that stood alone in the file stays.
      EditorState.lineSeparator.of('\n'),
      lineNumbers(), history(), drawSelection(), search({top: true}),
      highlightSelectionMatches(), bytesShown, colours(),
      keymap.of([
        ...searchKeymap, ...historyKeymap, ...defaultKeymap,
        // Out of the text, so that the page's own keys work again.
        {key: 'Escape', run: view => { view.contentDOM.blur(); return true; }},
      ]),
      editing.of([]),
      conflictRanges, conflictStates, currentConflict, conflictLines, stateEvents,
      EditorView.contentAttributes.of({'aria-label': 'The merged result'}),
    ],
  }),
});


// ---- the sides of the current conflict

// One read-only editor a side, made once; a conflict's side replaces its text, its first
// line number and its marks in one update.
const setSide = StateEffect.define();
const sideInfo = StateField.define({
  create: () => ({first: 0, marks: Decoration.none}),
  update(info, tr) {
    for (const e of tr.effects) if (e.is(setSide)) info = e.value;
    return info;
  },
  provide: f => EditorView.decorations.from(f, info => info.marks),
});
const sideViews = {};
const sideKeys = {left: ['l', 'ml', 0], base: ['b', 'mb', 1], right: ['r', 'mr', 2]};
for (const side of Object.keys(sideKeys)) {
  const pane = document.querySelector('div.side.' + side + ' .pane');
  if (!pane) continue;
  sideViews[side] = new EditorView({
    parent: pane,
    state: EditorState.create({
      extensions: [
        EditorState.lineSeparator.of('\n'), EditorState.readOnly.of(true),
        EditorView.editable.of(false), bytesShown, colours(), sideInfo, placeholder('(no lines)'),
        lineNumbers({formatNumber: (n, state) => String(n + state.field(sideInfo).first)}),
      ],
    }),
  });
}

// The changed lines and words of one side, from the page's data: lines by index, words as
// (line, from, to) in the line's string offsets.
function sideMarks(text, marks) {
  const builder = new RangeSetBuilder();
  const changed = new Set(marks.c);
  const words = new Map();
  for (let i = 0; i + 2 < marks.w.length; i += 3) {
    if (!words.has(marks.w[i])) words.set(marks.w[i], []);
    words.get(marks.w[i]).push([marks.w[i + 1], marks.w[i + 2]]);
  }
  let start = 0;
  text.split('\n').forEach((line, n) => {
    if (changed.has(n)) builder.add(start, start, Decoration.line({class: 'cm-changed'}));
    for (const [from, to] of words.get(n) || []) {
      if (to > from && to <= line.length)
        builder.add(start + from, start + to, Decoration.mark({class: 'cm-word'}));
    }
    start += line.length + 1;
  });
  return builder.finish();
}

function showSides(k) {
  const {c} = conflicts[k];
  for (const [side, view] of Object.entries(sideViews)) {
    const [textKey, marksKey, at] = sideKeys[side];
    // The last line end is the side's, not a line of its own.
    const text = c[textKey].endsWith('\n') ? c[textKey].slice(0, -1) : c[textKey];
    view.dispatch({
      changes: {from: 0, to: view.state.doc.length, insert: text},
      effects: [setSide.of({first: c.at[at], marks: sideMarks(text, c[marksKey])}),
                EditorView.scrollIntoView(0)],
    });
  }
}

// ---- the page around them

const remaining = $('remaining');
const saveButton = $('save');
const status = $('status');
let shownConflict = -1;
let finished = false;

function refresh() {
  const states = result.state.field(conflictStates);
  const k = result.state.field(currentConflict);
  const open = states.filter(s => s === 'open').length;
  const total = conflicts.length;
  remaining.textContent = open > 0
      ? open + ' of ' + total + (total === 1 ? ' conflict' : ' conflicts') + ' left'
      : total === 1 ? 'The conflict is resolved' : 'All ' + total + ' conflicts resolved';
  remaining.classList.toggle('done', open === 0);
  saveButton.disabled = finished || open > 0;
  if (!total) return;
  if (k !== shownConflict) {
    showSides(k);
    shownConflict = k;
  }
  $('conflict-title').textContent = 'Conflict ' + (k + 1) + ' of ' + total;
  const labels = {'open': 'unresolved', 'left': 'left taken', 'right': 'right taken',
                  'left-right': 'left, then right', 'right-left': 'right, then left',
                  'base': 'base taken', 'edit': 'edited'};
  const stateText = $('conflict-state');
  stateText.textContent = labels[states[k]];
  stateText.className = 'state ' + (states[k] === 'open' ? 'open' : 'resolved');
  document.querySelectorAll('#choices button').forEach(
      b => b.classList.toggle('chosen', b.dataset.take === states[k]));
}

function goTo(k) {
  if (k < 0 || k >= conflicts.length) return;
  const [from] = result.state.field(conflictRanges)[k];
  result.dispatch({
    effects: [setCurrent.of(k), EditorView.scrollIntoView(from, {y: 'center'})],
  });
}
// The next (or previous) conflict still open, else simply the next one.
function step(direction) {
  const states = result.state.field(conflictStates);
  const n = conflicts.length;
  const k = result.state.field(currentConflict);
  for (let i = 1; i < n; ++i) {
    const j = (k + direction * i + n) % n;
    if (states[j] === 'open') return goTo(j);
  }
  goTo(Math.min(n - 1, Math.max(0, k + direction)));
}

function take(choice) {
  if (finished || !conflicts.length || !choices.includes(choice)) return;
  const k = result.state.field(currentConflict);
  const [from, to] = result.state.field(conflictRanges)[k];
  const text = composed(conflicts[k].c, choice);
  // Each choice is one step of the history, undone by itself.
  result.dispatch({
    changes: {from, to, insert: text},
    selection: EditorSelection.cursor(from),
    annotations: [isolateHistory.of('full'), Transaction.userEvent.of('input.choice')],
    effects: EditorView.scrollIntoView(from, {y: 'nearest', yMargin: 40}),
  });
}

// ---- saving

// The result as the server rebuilds it: for each conflict its choice, or the text typed;
// for each stretch between conflicts the text typed, when it changed. What was taken is
// sent by name, so its bytes come back as they were.
function saveBody() {
  const state = result.state;
  const ranges = state.field(conflictRanges);
  const states = state.field(conflictStates);
  const fields = [];
  let pos = 0;
  let k = 0;
  let j = 0;
  for (const chunk of data.chunks) {
    if (typeof chunk === 'string') {
      const end = k < ranges.length ? ranges[k][0] : state.doc.length;
      const text = state.sliceDoc(pos, end);
      if (text !== stretches[j]) fields.push(['m' + j, text]);
      pos = end;
      ++j;
      continue;
    }
    const [from] = ranges[k];
    let to = ranges[k][1];
    if (states[k] === 'edit') {
      // A conflict typed to end within a line takes the rest of that line along, so
      // that it is saved as one line, as it shows.
      if (to > from && state.sliceDoc(to - 1, to) !== '\n' && to < state.doc.length) {
        const next = k + 1 < ranges.length ? ranges[k + 1][0] : state.doc.length;
        to = Math.min(state.doc.lineAt(to).to + 1, state.doc.length, next);
      }
      fields.push(['c' + k, 'edit'], ['e' + k, state.sliceDoc(from, to)]);
    } else {
      fields.push(['c' + k, states[k]]);
    }
    pos = to;
    ++k;
  }
  return fields.map(([name, value]) => name + '=' + formEncoded(value)).join('&');
}

// Form encoding of the bytes the text stands for: UTF-8, but a lone surrogate from
// U+DC80 to U+DCFF is the byte it came from.
function formEncoded(text) {
  // With the u flag a surrogate class matches lone surrogates only, never half a pair.
  return text.split(/([\udc80-\udcff])/u).map((piece, i) => {
    if (i % 2) return '%' + (piece.charCodeAt(0) - 0xdc00).toString(16).toUpperCase();
    // Any other lone surrogate has no bytes: U+FFFD, as a decoder makes it.
    return encodeURIComponent(piece.replace(/[\ud800-\udfff]/gu, '\ufffd'));
  }).join('').replace(/%20/g, '+');
}

function holdsMarkers() {
  for (const line of result.state.doc.iterLines()) if (markerLine.test(line)) return true;
  return false;
}

function confirmMarkers() {
  const dialog = $('confirm-markers');
  return new Promise(resolve => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'save'), {once: true});
    dialog.returnValue = '';
    dialog.showModal();
  });
}

async function post(what, body) {
  const response = await fetch(what, {
    method: 'POST', body,
    headers: {'Content-Type': 'application/x-www-form-urlencoded'},
  });
  const text = await response.text();
  if (!response.ok) throw new Error(text || response.statusText);
  return text;
}

let saving = false;
async function save() {
  if (finished || saving || saveButton.disabled) return;
  saving = true;
  try {
    if (holdsMarkers() && !(await confirmMarkers())) return;
    status.className = '';
    status.textContent = 'Saving\u2026';
    try {
      finish(await post('save', saveBody()));
      status.className = 'ok';
      status.textContent = 'Saved';
    } catch (err) {
      status.textContent = 'Not saved: ' + err.message;
    }
  } finally {
    saving = false;
  }
}

async function cancel() {
  if (finished) return;
  try {
    finish(await post('cancel', ''));
    status.textContent = 'Cancelled';
  } catch (err) {
    status.textContent = 'Cannot cancel: ' + err.message;
  }
}

// ---- keys and buttons

const inText = target => target instanceof Element &&
    (target.closest('.cm-content, input, textarea, select') !== null);

function toggleKeys() {
  const dialog = $('keys');
  if (dialog.open) dialog.close(); else dialog.showModal();
}

const keyChoices = {'1': 'left', '2': 'right', '3': 'left-right', '4': 'right-left', '0': 'base'};
document.addEventListener('keydown', e => {
  const mod = e.ctrlKey || e.metaKey;
  if (mod && !e.altKey && e.key.toLowerCase() === 's') {
    e.preventDefault();
    save();
    return;
  }
  if (e.defaultPrevented || finished || inText(e.target) || $('confirm-markers').open) return;
  if (mod && !e.altKey) {
    const key = e.key.toLowerCase();
    if (key === 'z') e.shiftKey ? redo(result) : undo(result);
    else if (key === 'y') redo(result);
    else if (key === 'f') openSearchPanel(result);
    else return;
    e.preventDefault();
    return;
  }
  if (e.altKey || mod) return;
  if (e.key === '?') toggleKeys();
  else if ($('keys').open) return;
  else if (e.key === 'n') step(1);
  else if (e.key === 'p') step(-1);
  else if (keyChoices[e.key]) take(keyChoices[e.key]);
  else return;
  e.preventDefault();
});

$('next').addEventListener('click', () => step(1));
$('prev').addEventListener('click', () => step(-1));
document.querySelectorAll('#choices button').forEach(
    b => b.addEventListener('click', () => take(b.dataset.take)));
$('undo').addEventListener('click', () => undo(result));
$('redo').addEventListener('click', () => redo(result));
$('find').addEventListener('click', () => openSearchPanel(result));
$('show-keys').addEventListener('click', toggleKeys);
saveButton.addEventListener('click', save);
$('cancel').addEventListener('click', cancel);

// ---- alive reports

// Alive reports come from a worker: a background tab's own timers may be slowed far beyond
// the server's patience. The first report is what opens the page for the server.
const aliveUrl = new URL('alive', location.href).href;
let beat;
try {
  const code = 'let t; onmessage = e => { if (e.data === "stop") { clearInterval(t); return; }' +
      ' const send = () => fetch(e.data, {method: "POST"}).catch(() => {});' +
      ' send(); t = setInterval(send, ' + Number(data.heartbeat_ms) + '); };';
  beat = new Worker(URL.createObjectURL(new Blob([code], {type: 'text/javascript'})));
  beat.postMessage(aliveUrl);
} catch (err) {
  const send = () => fetch(aliveUrl, {method: 'POST'}).catch(() => {});
  send();
  const t = setInterval(send, data.heartbeat_ms);
  beat = {postMessage: () => clearInterval(t)};
}

function finish(text) {
  finished = true;
  beat.postMessage('stop');
  document.querySelectorAll('#toolbar button').forEach(b => { b.disabled = true; });
  result.dispatch({effects: editing.reconfigure(
      [EditorState.readOnly.of(true), EditorView.editable.of(false)])});
  const note = $('done-note');
  note.textContent = text;
  note.hidden = false;
  note.scrollIntoView();
}

refresh();
if (conflicts.length) goTo(0);
