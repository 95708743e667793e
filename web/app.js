// Decides each file picked or dropped, in the browser: the bytes are read
// with File.arrayBuffer() and given to the WebAssembly module; nothing is sent
// anywhere.
import { explain, INPUT_LIMIT } from './lib/codepage-guess/src/browser.js';

const NAMES = { 65001: 'UTF-8', 932: 'Shift_JIS', 0: 'undecided' };
const CODECS = { 65001: 'utf-8', 932: 'shift_jis' };
const RULES = {
  only_error_free: 'the only reading without broken bytes',
  best_score: 'the better score',
  undecided: 'no reason to prefer either',
};

const drop = document.getElementById('drop');
const picker = document.getElementById('files');
const status = document.getElementById('status');
const table = document.getElementById('results');
const rows = table.querySelector('tbody');

function cell(row, className, text) {
  const td = row.insertCell();
  td.className = className;
  td.textContent = text;
  return td;
}

// As an editor should show it: in the encoding decided, except that bytes
// that are valid UTF-8 are shown as UTF-8 (short Latin text can score as
// Shift_JIS, and Shift_JIS text is practically never valid UTF-8).
function shownAs(bytes, name) {
  if (name === 'shift_jis') {
    try {
      new TextDecoder('utf-8', { fatal: true }).decode(bytes);
      return 'utf-8';
    } catch {
      return name;
    }
  }
  return name ?? 'utf-8';
}

function firstLines(bytes, name) {
  const text = new TextDecoder(name).decode(bytes.subarray(0, 4096));
  return text.split(/\r?\n/).slice(0, 5).join('\n');
}

async function show(files) {
  table.hidden = false;
  for (const file of files) {
    const bytes = new Uint8Array(await file.slice(0, INPUT_LIMIT).arrayBuffer());
    const e = explain(bytes);
    const row = rows.insertRow();
    row.dataset.file = file.name;
    row.dataset.codePage = String(e.codePage);
    cell(row, 'name', file.name);
    cell(row, 'size', `${file.size.toLocaleString()} bytes`);
    cell(row, 'verdict', NAMES[e.codePage]);
    const [u, s] = e.readings;
    cell(row, 'why', `${RULES[e.rule]}. UTF-8: ${u.errors} broken bytes, score ${u.score.toFixed(3)}; ` +
      `Shift_JIS: ${s.errors} broken bytes, score ${s.score.toFixed(3)}`);
    const decoded = cell(row, 'text', '');
    const decided = CODECS[e.codePage];
    const shown = shownAs(bytes, decided);
    decoded.appendChild(document.createElement('pre')).textContent = firstLines(bytes, shown);
    if (decided === 'shift_jis' && shown === 'utf-8') decoded.append('(valid UTF-8: shown as UTF-8)');
  }
  status.textContent = `${rows.rows.length} file${rows.rows.length === 1 ? '' : 's'} decided.`;
}

picker.addEventListener('change', () => show([...picker.files]));
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  show([...event.dataTransfer.files]);
});
status.textContent = 'Ready: pick or drop files.';
document.body.dataset.ready = 'true';
