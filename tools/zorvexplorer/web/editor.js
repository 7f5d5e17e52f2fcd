// The parts of the editor component that the merge page uses, taken from the npm packages
// installed beside this file, where the bundler finds them.
export {Compartment, EditorSelection, EditorState, RangeSetBuilder, StateEffect, StateField, Transaction}
  from '@codemirror/state';
export {Decoration, EditorView, ViewPlugin, drawSelection, highlightSpecialChars, keymap,
        lineNumbers, placeholder} from '@codemirror/view';
export {defaultKeymap, history, historyKeymap, isolateHistory, redo, undo}
  from '@codemirror/commands';
export {highlightSelectionMatches, openSearchPanel, search, searchKeymap} from '@codemirror/search';
