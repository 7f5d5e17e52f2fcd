// Colours for text whose file name says its language, on the compare and the merge page:
// the editor component's language modes (stream parsers) run a line at a time, so that only
// the lines on screen are coloured. A page loads this script only when it needs it; the
// script sets globalThis.varnexSyntax and adds its colours to the page.
import {StringStream} from '@codemirror/streamparser';
import {c, cpp, csharp, java, kotlin} from '@codemirror/legacy-modes/mode/clike';
import {cmake} from '@codemirror/legacy-modes/mode/cmake';
import {diff} from '@codemirror/legacy-modes/mode/diff';
import {dockerFile} from '@codemirror/legacy-modes/mode/dockerfile';
import {go} from '@codemirror/legacy-modes/mode/go';
import {javascript, json, typescript} from '@codemirror/legacy-modes/mode/javascript';
import {properties} from '@codemirror/legacy-modes/mode/properties';
import {python} from '@codemirror/legacy-modes/mode/python';
import {rust} from '@codemirror/legacy-modes/mode/rust';
import {shell} from '@codemirror/legacy-modes/mode/shell';
import {simpleMode} from '@codemirror/legacy-modes/mode/simple-mode';
import {toml} from '@codemirror/legacy-modes/mode/toml';
import {html, xml} from '@codemirror/legacy-modes/mode/xml';
import {yaml} from '@codemirror/legacy-modes/mode/yaml';
import palette from './syntax.css';

// Markdown and makefiles have no mode of their own there; these rules cover what stands out.
const markdown = simpleMode({
  start: [
    {regex: /(?:```|~~~).*/, sol: true, token: 'meta', next: 'fence'},
    {regex: /#{1,6}(?:\s.*)?$/, sol: true, token: 'heading'},
    {regex: /\s{0,3}>.*/, sol: true, token: 'comment'},
    {regex: /\s*(?:[-*+]|\d+[.)])(?=\s)/, sol: true, token: 'keyword'},
    {regex: /`[^`]+`/, token: 'string'},
    {regex: /(\*\*|__)(?=\S).*?\S\1/, token: 'strong'},
    {regex: /([*_])(?=\S).*?\S\1/, token: 'emphasis'},
    {regex: /!?\[[^\]]*\](?:\([^)]*\)|\[[^\]]*\])/, token: 'link'},
    {regex: /<[a-z]+:[^>\s]*>/, token: 'link'},
    {regex: /\\.|[^`*_[!<\\]+/, token: null},
  ],
  fence: [
    {regex: /(?:```|~~~)\s*$/, sol: true, token: 'meta', next: 'start'},
    {regex: /.+/, token: 'string'},
  ],
});
const makefile = simpleMode({
  start: [
    {regex: /#.*/, token: 'comment'},
    {regex: /\s*(?:-?include|sinclude|ifn?eq|ifn?def|else|endif|define|endef|export|unexport|override|vpath)\b/,
     sol: true, token: 'keyword'},
    {regex: /[\w.\/%$(){}-]+(?=\s*:(?!=))/, sol: true, token: 'def'},
    {regex: /[\w.-]+(?=\s*[:+?!]?=)/, sol: true, token: 'def'},
    {regex: /\$(?:\([^)]*\)?|\{[^}]*\}?|.)/, token: 'variableName.special'},
    {regex: /"(?:[^"\\]|\\.)*"?|'[^']*'?/, token: 'string'},
    {regex: /[^#$"']+/, token: null},
  ],
});

// The languages by the names the pages give them (the client chooses them by file name).
const parsers = {
  c, cpp, csharp, java, kotlin, javascript, typescript, json, python, shell, go, rust, yaml, xml,
  html, toml, ini: properties, markdown, diff, dockerfile: dockerFile, cmake, makefile,
};

// What a parser calls a token, by the colour it gets (classes tok-keyword, tok-string...).
const roles = {
  keyword: 'keyword', modifier: 'keyword', self: 'keyword', controlKeyword: 'keyword',
  definitionKeyword: 'keyword', moduleKeyword: 'keyword', operatorKeyword: 'keyword',
  string: 'string', 'string-2': 'string', character: 'string', docString: 'string',
  regexp: 'string', escape: 'string', quote: 'string',
  comment: 'comment', lineComment: 'comment', blockComment: 'comment', docComment: 'comment',
  number: 'number', integer: 'number', float: 'number', atom: 'number', bool: 'number',
  null: 'number', literal: 'number', unit: 'number',
  type: 'type', typeName: 'type', className: 'type', namespace: 'type', builtin: 'type',
  'variable-3': 'type',
  def: 'definition', 'variable-2': 'definition',
  meta: 'meta', macroName: 'meta', processingInstruction: 'meta', annotation: 'meta',
  qualifier: 'meta',
  tag: 'tag', tagName: 'tag',
  attribute: 'attribute', attributeName: 'attribute', property: 'attribute', propertyName: 'attribute',
  header: 'heading', heading: 'heading', em: 'emphasis', emphasis: 'emphasis', strong: 'strong',
  link: 'link', url: 'link',
  inserted: 'inserted', positive: 'inserted', deleted: 'deleted', negative: 'deleted',
  error: 'invalid', invalid: 'invalid',
};
const variables = {definition: 'definition', function: 'definition', special: 'definition',
                   standard: 'type', constant: 'number'};
const classes = new Map();

/// The class of a token as a parser names it ("keyword", "string.special",
/// "variableName.definition", "error inserted"); '' for none.
export function tokenClass(style) {
  let cls = classes.get(style);
  if (cls !== undefined) return cls;
  let role = '', invalid = false;
  for (const name of style.split(' ')) {
    const [base, ...modifiers] = name.split('.');
    let found = roles[base] || '';
    if (base === 'variableName' || base === 'variable' || base === 'propertyName') {
      for (const m of modifiers) found = variables[m] || found;
    }
    // A mark of trouble yields to what the token is (a diff's line with trailing blanks).
    if (found === 'invalid') invalid = true;
    else if (found && !role) role = found;
  }
  cls = role || invalid ? 'tok-' + (role || 'invalid') : '';
  classes.set(style, cls);
  return cls;
}

const TAB_SIZE = 4, INDENT_UNIT = 2;
// Longer lines are coloured this far only, as the editor does.
const MAX_LINE = 10000;
// A copy of the state before every STEP-th line is kept. A line's state is carried from the
// nearest one kept above it, at most REACH lines away; farther down, the parser starts
// afresh WARM_UP lines above (a comment opened far above is then missed).
const STEP = 64, REACH = 4096, WARM_UP = 256;
// How many lines' colours are remembered: a few screens of every pane.
const RECENT = 4096;
// How far an editor's text is parsed ahead while the page is idle.
const WARM_UP_LINES = 200000;
const NONE = [];

function copyState(parser, state) {
  if (parser.copyState) return parser.copyState(state);
  if (typeof state !== 'object' || state === null) return state;
  const out = {};
  for (const key in state) out[key] = Array.isArray(state[key]) ? state[key].slice() : state[key];
  return out;
}

/// The colours of one text, line by line, as far as they are asked for.
export class TextColouring {
  /// lineAt(i) is the text of line i (from 0); skip(text), when given, names lines that
  /// stay plain and leave the parser's state as it was (a merge's conflict markers).
  constructor(parser, lineAt, skip) {
    this.parser = parser;
    this.lineAt = lineAt;
    this.skip = skip;
    this.kept = [];  // kept[k]: the state before line k * STEP
    this.line = -1;  // the line that this.state stands before; -1 when none
    this.state = null;
    // Lines coloured lately: drawn again (scrolled back, a row redrawn) without parsing.
    this.recent = new Map();
    this.edits = 0;  // counts forget(): a warm-up under way stops at an edit
  }

  /// Parses ahead while the page is idle, keeping a state every STEP lines up to line
  /// `until`, so that a jump far down (the next conflict) parses at most STEP lines.
  warmUp(until) {
    if (typeof requestIdleCallback !== 'function') return;
    const edits = this.edits;
    // On from the last state kept before the first gap (all of them, after an edit).
    let k = 0;
    while (k < this.kept.length && this.kept[k]) ++k;
    let line = k > 0 ? (k - 1) * STEP : 0;
    let state = k > 0 ? copyState(this.parser, this.kept[k - 1]) : this.fresh();
    const slice = deadline => {
      while (deadline.timeRemaining() > 2) {
        if (this.edits !== edits || line >= until) return;
        for (const end = line + STEP; line < end; ++line) {
          // Parsed from the top, so truer than a state a far jump guessed.
          if (line % STEP === 0) this.kept[line / STEP] = copyState(this.parser, state);
          const text = this.lineAt(line);
          if (text === undefined) return;
          if (!(this.skip && this.skip(text))) colourLine(this.parser, state, text);
        }
      }
      requestIdleCallback(slice);
    };
    requestIdleCallback(slice);
  }

  fresh() {
    return this.parser.startState ? this.parser.startState(INDENT_UNIT) : true;
  }

  /// Forgets what was known from line `from` on: its text changed.
  forget(from) {
    ++this.edits;
    this.kept.length = Math.min(this.kept.length, Math.floor(from / STEP) + 1);
    if (this.line > from) this.line = -1;
    for (const i of this.recent.keys()) if (i >= from) this.recent.delete(i);
  }

  /// The tokens of line i: start, end and class, three entries each.
  tokens(i) {
    const known = this.recent.get(i);
    if (known) return known;
    if (this.line < 0 || this.line > i || i - this.line > STEP) this.seek(i);
    while (this.line < i) this.run();
    const tokens = this.run();
    if (this.recent.size >= RECENT) this.recent.clear();
    this.recent.set(i, tokens);
    return tokens;
  }

  seek(i) {
    let k = Math.min(Math.floor(i / STEP), this.kept.length - 1);
    while (k >= 0 && !this.kept[k]) --k;
    // On from where it stands when that is nearer.
    if (this.line >= 0 && this.line <= i && this.line >= k * STEP && i - this.line <= REACH) return;
    if (k >= 0 && i - k * STEP <= REACH) {
      this.line = k * STEP;
      this.state = copyState(this.parser, this.kept[k]);
    } else {
      this.line = i <= REACH ? 0 : Math.floor(i / STEP) * STEP - WARM_UP;
      this.state = this.fresh();
    }
  }

  // Colours this.line and moves on to the next.
  run() {
    const i = this.line++;
    if (i % STEP === 0) this.kept[i / STEP] = copyState(this.parser, this.state);
    const text = this.lineAt(i);
    if (text === undefined || (this.skip && this.skip(text))) return NONE;
    return colourLine(this.parser, this.state, text);
  }
}

function colourLine(parser, state, text) {
  if (!text) {
    if (parser.blankLine) parser.blankLine(state, INDENT_UNIT);
    return NONE;
  }
  const out = [];
  const stream = new StringStream(text, TAB_SIZE, INDENT_UNIT);
  try {
    while (!stream.eol() && stream.pos < MAX_LINE) {
      stream.start = stream.pos;
      let style = null;
      for (let tries = 0; tries < 10 && stream.pos === stream.start; ++tries) {
        style = parser.token(stream, state);
      }
      if (stream.pos === stream.start) break;  // a parser stuck: the rest stays plain
      const cls = style ? tokenClass(style) : '';
      if (!cls) continue;
      const n = out.length;
      if (n && out[n - 1] === cls && out[n - 2] === stream.start) out[n - 2] = stream.pos;
      else out.push(stream.start, stream.pos, cls);
    }
  } catch (err) {
    // A parser's fault leaves the rest of the line plain.
  }
  return out;
}

/// The colouring of a text in language, reading its lines with lineAt; null for a language
/// that has no parser here.
function colouring(language, lineAt, skip) {
  const parser = Object.prototype.hasOwnProperty.call(parsers, language) ? parsers[language] : null;
  return parser ? new TextColouring(parser, lineAt, skip) : null;
}

/// An editor extension colouring the lines in view, for an editor whose classes the page
/// hands over (the page carries the editor, this script does not).
function editorColouring({ViewPlugin, Decoration, RangeSetBuilder}, language, skip) {
  if (!colouring(language, () => '')) return [];
  const marks = new Map();
  const mark = cls => {
    if (!marks.has(cls)) marks.set(cls, Decoration.mark({class: cls}));
    return marks.get(cls);
  };
  return ViewPlugin.fromClass(class {
    constructor(view) {
      this.doc = view.state.doc;
      this.colours = colouring(language, i => (i < this.doc.lines ? this.doc.line(i + 1).text : undefined), skip);
      this.colours.warmUp(WARM_UP_LINES);
      this.decorations = this.build(view);
    }
    update(update) {
      if (update.docChanged) {
        let first = update.state.doc.length;
        update.changes.iterChangedRanges((fromA, toA, fromB) => { first = Math.min(first, fromB); });
        this.doc = update.state.doc;
        this.colours.forget(this.doc.lineAt(first).number - 1);
        this.colours.warmUp(WARM_UP_LINES);
      }
      if (update.docChanged || update.viewportChanged) this.decorations = this.build(update.view);
    }
    build(view) {
      const builder = new RangeSetBuilder();
      for (const {from, to} of view.visibleRanges) {
        for (let pos = from; pos <= to;) {
          const line = this.doc.lineAt(pos);
          const tokens = this.colours.tokens(line.number - 1);
          for (let j = 0; j < tokens.length; j += 3)
            builder.add(line.from + tokens[j], line.from + tokens[j + 1], mark(tokens[j + 2]));
          pos = line.to + 1;
        }
      }
      return builder.finish();
    }
  }, {decorations: plugin => plugin.decorations});
}

const style = document.createElement('style');
style.id = 'syntax-colours';
style.textContent = palette;
document.head.append(style);

globalThis.varnexSyntax = {colouring, editorColouring};
