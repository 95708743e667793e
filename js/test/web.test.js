// The web page in a real browser: Debian's Chromium, headless, driven by
// playwright-core, the page served from 127.0.0.1 with the installed package.
// The files given to it get the command line's verdicts, and the page asks
// nothing of any other host.
//
// WEB_DIR: the page with lib/codepage-guess; CHROMIUM; CODEPAGE_GUESS;
// CODEPAGE_GUESS_SOURCE; SCREENSHOT: where to keep a picture of the page.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';
import { after, test } from 'node:test';

import { chromium } from 'playwright-core';

const { WEB_DIR: web, CHROMIUM: browserPath = '/usr/bin/chromium', CODEPAGE_GUESS: tool,
  CODEPAGE_GUESS_SOURCE: source, SCREENSHOT: screenshot } = process.env;
assert.ok(web && tool && source && screenshot, 'set WEB_DIR, CODEPAGE_GUESS, CODEPAGE_GUESS_SOURCE, SCREENSHOT');

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
// Under /broken/ the page is served without its package, as a server set up
// wrongly serves it.
const server = createServer((request, response) => {
  let path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
  if (path.startsWith('/broken/')) {
    path = path.slice('/broken'.length);
    if (path.startsWith('/lib/')) return response.writeHead(404).end();
  }
  try {
    const body = readFileSync(join(web, path === '/' ? 'index.html' : path));
    response.writeHead(200, { 'content-type': TYPES[extname(path) || '.html'] ?? 'application/octet-stream' });
    response.end(body);
  } catch {
    response.writeHead(404).end();
  }
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

const work = mkdtempSync(join(tmpdir(), 'codepage-guess-web-'));
const browser = await chromium.launch({
  executablePath: browserPath,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
after(async () => {
  await browser.close();
  server.close();
  rmSync(work, { recursive: true, force: true });
});

function commandSays(file) {
  const run = spawnSync(tool, [file]);
  assert.equal(run.status, 0, file);
  const said = run.stdout.toString().trim();
  return said === '' ? 0 : Number(said.replace('code.page=', ''));
}

function scanSays(file) {
  const run = spawnSync(tool.replace(/codepage-guess$/, 'codepage-scan'),
    ['--json', '--no-summary', '--no-ignore', '--', file]);
  assert.equal(run.status, 0, file);
  return JSON.parse(run.stdout.toString()).kind;
}

test('the page describes the files it is given as the scan does, with the command line\'s verdict', async () => {
  const examples = join(source, 'examples');
  const files = ['japanese_sjis.txt', 'japanese_utf8.txt', 'ascii.txt'].map((name) => join(examples, name));
  const generated = {
    'short_sjis.csv': Buffer.from('82a082a2,8e9e91e3,0d0a'.replaceAll(',', ''), 'hex'),  // あい時代
    'latin1.txt': Buffer.from('caf\xe9 cr\xe8me\n', 'latin1'),
    'cafe_utf8.txt': Buffer.from('café crème\n'),
    'random.bin': Buffer.from(Array.from({ length: 3000 }, (_, k) => (k * 7919 + 13) % 256)),
    'big_sjis.txt': Buffer.concat(Array(3000).fill(readFileSync(files[0]))),
    // Valid UTF-8 longer than the limit, a character cut where the slice ends.
    'big_utf8.txt': Buffer.concat([Buffer.alloc(1048575, 'a'), Buffer.from('日本語\n')]),
    'eucjp.txt': Buffer.from('a4b3a4f3a4cba4c1a4cfa1a2c6fccbdcb8eca4c7a4b9a1a30a'.repeat(4), 'hex'),
    'utf16.txt': Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from('日本語のテキスト\n', 'utf16le')]),
  };
  for (const [name, bytes] of Object.entries(generated)) {
    writeFileSync(join(work, name), bytes);
    files.push(join(work, name));
  }

  const page = await browser.newPage({ viewport: { width: 1200, height: 900 } });
  const elsewhere = [];
  page.on('request', (request) => {
    if (!request.url().startsWith(origin) || request.method() !== 'GET') elsewhere.push(request.url());
  });
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  await page.setInputFiles('#files', files);
  await page.waitForFunction((count) => document.querySelectorAll('tbody tr').length === count, files.length);

  const shown = await page.$$eval('tbody tr', (rows) => rows.map((row) => ({
    file: row.dataset.file, codePage: Number(row.dataset.codePage), kind: row.dataset.kind,
    kindShown: row.querySelector('.kind').textContent,
    verdict: row.querySelector('.verdict').textContent, text: row.querySelector('.text').textContent,
  })));
  for (const file of files) {
    const name = file.split('/').pop();
    const row = shown.find((r) => r.file === name);
    assert.ok(row, name);
    assert.equal(row.codePage, commandSays(file), name);
    assert.equal(row.kind, scanSays(file), name);
  }
  const byName = Object.fromEntries(shown.map((row) => [row.file, row]));
  assert.equal(byName['japanese_sjis.txt'].kindShown, 'Shift_JIS');
  assert.equal(byName['japanese_sjis.txt'].verdict, 'Shift_JIS (932)');
  // What the verdict alone would have called Shift_JIS is said for what it is.
  assert.equal(byName['random.bin'].kindShown, 'binary');
  assert.match(byName['random.bin'].text, /not shown as text/);
  assert.equal(byName['latin1.txt'].kindShown, 'unknown 8-bit');
  assert.match(byName['latin1.txt'].text, /café crème/);
  assert.equal(byName['eucjp.txt'].kindShown, 'EUC-JP');
  assert.match(byName['eucjp.txt'].text, /こんにちは、日本語です。/);
  assert.equal(byName['utf16.txt'].kindShown, 'UTF-16LE (BOM)');
  assert.match(byName['big_utf8.txt'].kindShown, /^UTF-8/);
  const sjisRow = byName['japanese_sjis.txt'];
  assert.ok(sjisRow.text.startsWith(readFileSync(join(examples, 'japanese_utf8.txt'), 'utf8').split('\n')[0]),
    'the Shift_JIS file is shown decoded');
  assert.deepEqual(elsewhere, [], 'the page asked another host, or sent something');
  await page.screenshot({ path: screenshot, fullPage: true });
});

test('a page that cannot load its module says so, from a server or from a file', async () => {
  const page = await browser.newPage();
  await page.goto(`${origin}/broken/`);
  await page.waitForSelector('body[data-ready="failed"]');
  assert.match(await page.textContent('#status'), /could not be loaded/);
  await page.goto(`file://${join(web, 'index.html')}`);
  await page.waitForSelector('body[data-ready="failed"]');
  assert.match(await page.textContent('#status'), /serve this folder from a web server/);
  await page.close();
});
