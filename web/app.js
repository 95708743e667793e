// Says what each file picked or dropped is, in the browser: the bytes are read
// with File.arrayBuffer() and given to the WebAssembly module; nothing is sent
// anywhere. The kind is what the page shows; the two-way verdict stands
// beside it, as codepage-guess would give it to an editor.
//
// A classic script: the package is an ES module, imported when the page
// starts, so that a failure to load it can be shown.
const status = document.getElementById('status');

const KINDS = {
  empty: 'empty',
  ascii: 'ASCII',
  'utf-8': 'UTF-8',
  'utf-16le': 'UTF-16LE',
  'utf-16be': 'UTF-16BE',
  'utf-32le': 'UTF-32LE',
  'utf-32be': 'UTF-32BE',
  shift_jis: 'Shift_JIS',
  'euc-jp': 'EUC-JP',
  'iso-2022-jp': 'ISO-2022-JP',
  mixed: 'mixed UTF-8 and Shift_JIS',
  binary: 'binary',
  unknown: 'unknown 8-bit',
};
// What TextDecoder reads each kind with; none for those it has no decoder for
// or that are not text.
const DECODERS = {
  ascii: 'utf-8',
  'utf-8': 'utf-8',
  'utf-16le': 'utf-16le',
  'utf-16be': 'utf-16be',
  shift_jis: 'shift_jis',
  'euc-jp': 'euc-jp',
  'iso-2022-jp': 'iso-2022-jp',
  mixed: 'shift_jis',
  unknown: 'windows-1252',
};
const VERDICTS = { 65001: 'UTF-8 (65001)', 932: 'Shift_JIS (932)' };
const RULES = {
  only_error_free: 'the only reading without broken bytes',
  best_score: 'the better score',
  undecided: 'no reason to prefer either',
};

function cell(row, className, text) {
  const td = row.insertCell();
  td.className = className;
  td.textContent = text;
  return td;
}

function kindInWords(d) {
  let words = KINDS[d.kind];
  if (d.bom) words += ' (BOM)';
  if (d.ambiguous) words += ', also valid Shift_JIS';
  if (d.kind === 'mixed') words += `: UTF-8 from line ${d.utf8_line}, Shift_JIS from line ${d.sjis_line}`;
  return words;
}

function firstLines(bytes, kind) {
  const name = DECODERS[kind];
  if (name === undefined) return null;
  const text = new TextDecoder(name).decode(bytes.subarray(0, 4096));
  return text.split(/\r?\n/).slice(0, 5).join('\n');
}

function why(e) {
  const [u, s] = e.readings;
  return `${RULES[e.rule]}. UTF-8: ${u.errors} broken bytes, score ${u.score.toFixed(3)}; ` +
    `Shift_JIS: ${s.errors} broken bytes, score ${s.score.toFixed(3)}`;
}

async function show(library, files, rows) {
  const { describe, explain, INPUT_LIMIT } = library;
  for (const file of files) {
    const row = rows.insertRow();
    row.dataset.file = file.name;
    cell(row, 'name', file.name);
    cell(row, 'size', `${file.size.toLocaleString()} bytes`);
    let bytes;
    try {
      bytes = new Uint8Array(await file.slice(0, INPUT_LIMIT).arrayBuffer());
    } catch (error) {
      row.dataset.error = 'true';
      cell(row, 'kind', `cannot be read: ${error.message}`).colSpan = 4;
      continue;
    }
    // The slice is the start of a longer file: a character cut at its end is
    // no error, which describe() knows from a length past the limit.
    const d = file.size > INPUT_LIMIT
      ? describe(new Uint8Array(await file.slice(0, INPUT_LIMIT + 1).arrayBuffer()))
      : describe(bytes);
    const e = explain(bytes);
    row.dataset.kind = d.kind;
    row.dataset.codePage = String(e.codePage);
    cell(row, 'kind', kindInWords(d));
    cell(row, 'verdict', VERDICTS[e.codePage] ?? 'undecided');
    cell(row, 'why', why(e));
    const decoded = cell(row, 'text', '');
    const lines = firstLines(bytes, d.kind);
    if (lines === null) {
      decoded.append(`(${KINDS[d.kind]}: not shown as text)`);
    } else {
      decoded.appendChild(document.createElement('pre')).textContent = lines;
      if (d.kind === 'mixed') decoded.append('(shown as Shift_JIS: its UTF-8 lines read wrong)');
      if (d.kind === 'unknown') decoded.append('(shown as Windows-1252, a guess)');
    }
  }
  status.textContent = `${rows.rows.length} file${rows.rows.length === 1 ? '' : 's'} described.`;
}

async function start() {
  let library;
  try {
    library = await import('./lib/codepage-guess/src/browser.js');
  } catch (error) {
    // Opened from file://, or the package missing: say so rather than wait.
    const where = location.protocol === 'file:'
      ? ' Browsers do not load WebAssembly modules into a page opened as a file: serve this' +
        ' folder from a web server (python3 -m http.server, say) and open it from there.'
      : '';
    status.textContent = `The codepage-guess module could not be loaded (${error.message}).${where}`;
    status.classList.add('error');
    document.body.dataset.ready = 'failed';
    return;
  }
  const drop = document.getElementById('drop');
  const picker = document.getElementById('files');
  const table = document.getElementById('results');
  const rows = table.querySelector('tbody');
  const take = (files) => {
    table.hidden = false;
    show(library, files, rows);
  };
  picker.addEventListener('change', () => take([...picker.files]));
  drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    take([...event.dataTransfer.files]);
  });
  status.textContent = 'Ready: pick or drop files.';
  document.body.dataset.ready = 'true';
}

start();
