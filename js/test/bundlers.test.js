// The package in bundles as users make them, opened in Chromium: Vite and
// webpack on the default entry (they copy the module along by themselves),
// esbuild on codepage-guess/loader with its file loader. Each page decides
// on the same bytes as the command line.
//
// APP_DIR: a folder with codepage-guess installed from the tarball;
// TOOLS_DIR: node_modules/.bin with esbuild, vite and webpack; CHROMIUM.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join, normalize } from 'node:path';
import { after, test } from 'node:test';

import { chromium } from 'playwright-core';

const { APP_DIR: app, TOOLS_DIR: tools, CHROMIUM: browserPath = '/usr/bin/chromium' } = process.env;
assert.ok(app && tools, 'set APP_DIR and TOOLS_DIR');

const browser = await chromium.launch({
  executablePath: browserPath,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
const servers = [];
after(async () => {
  await browser.close();
  for (const server of servers) server.close();
});

// あいう in Shift_JIS, and the same in UTF-8.
const PAGE_CODE = `
const sjis = new Uint8Array([0x82, 0xa0, 0x82, 0xa2, 0x82, 0xa4, 0x0a]);
const utf8 = new TextEncoder().encode('あいう\\n');
window.result = { sjis: guess(sjis), utf8: guess(utf8), kind: describe(sjis).kind, simd };
document.body.textContent = JSON.stringify(window.result);
`;
const EXPECTED = { sjis: 932, utf8: 65001, kind: 'shift_jis', simd: true };

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
async function serve(dir) {
  const server = createServer((request, response) => {
    const asked = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const path = asked === '/' ? 'index.html' : asked;
    try {
      const body = readFileSync(join(dir, path));
      response.writeHead(200, { 'content-type': TYPES[extname(path)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  servers.push(server);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return `http://127.0.0.1:${server.address().port}/`;
}

async function resultOf(url) {
  const page = await browser.newPage();
  const failed = [];
  page.on('pageerror', (error) => failed.push(error.message));
  page.on('response', (response) => { if (!response.ok()) failed.push(`${response.status()} ${response.url()}`); });
  await page.goto(url);
  await page.waitForFunction(() => window.result !== undefined || document.body?.dataset.failed, null,
                             { timeout: 30000 }).catch(() => {});
  const result = await page.evaluate(() => window.result);
  await page.close();
  return { result, failed };
}

function run(command, args, cwd) {
  const done = spawnSync(join(tools, command), args, { cwd, encoding: 'utf8' });
  assert.equal(done.status, 0, `${command} ${args.join(' ')}:\n${done.stdout}\n${done.stderr}`);
}

function project(name, files) {
  const dir = join(app, name);
  rmSync(dir, { recursive: true, force: true });
  mkdirSync(dir, { recursive: true });
  const all = { 'package.json': '{ "private": true, "type": "module" }', ...files };
  for (const [file, text] of Object.entries(all)) writeFileSync(join(dir, file), text);
  return dir;
}

const DEFAULT_ENTRY = `import { describe, guess, simd } from 'codepage-guess';\n${PAGE_CODE}`;

test('Vite copies the module along from the default entry', async () => {
  const dir = project('vite-app', {
    'index.html': '<!doctype html><meta charset="utf-8"><body><script type="module" src="./main.js"></script>',
    'main.js': DEFAULT_ENTRY,
    'vite.config.js': "export default { build: { target: 'es2022', outDir: 'dist' }, logLevel: 'warn' };",
  });
  run('vite', ['build'], dir);
  const { result, failed } = await resultOf(await serve(join(dir, 'dist')));
  assert.deepEqual(failed, []);
  assert.deepEqual(result, EXPECTED);
});

test('webpack copies the module along from the default entry', async () => {
  const dir = project('webpack-app', {
    'main.js': DEFAULT_ENTRY,
    'webpack.config.cjs': `module.exports = {
      mode: 'production', entry: './main.js', experiments: { topLevelAwait: true },
      output: { path: __dirname + '/dist', publicPath: 'auto' },
    };`,
  });
  run('webpack', ['--config', 'webpack.config.cjs', '--stats=errors-warnings'], dir);
  writeFileSync(join(dir, 'dist', 'index.html'),
                '<!doctype html><meta charset="utf-8"><body><script src="./main.js"></script>');
  const { result, failed } = await resultOf(await serve(join(dir, 'dist')));
  assert.deepEqual(failed, []);
  assert.deepEqual(result, EXPECTED);
});

test('esbuild, with codepage-guess/loader and its file loader', async () => {
  const dir = project('esbuild-app', {
    'main.js': `import { load } from 'codepage-guess/loader';
import simdModule from 'codepage-guess/dist/codepage_guess_simd.wasm';
import plainModule from 'codepage-guess/dist/codepage_guess.wasm';
const { describe, guess, simd } = await load({ simd: simdModule, plain: plainModule });
${PAGE_CODE}`,
  });
  run('esbuild', ['main.js', '--bundle', '--format=esm', '--loader:.wasm=file', '--outdir=dist',
                  '--log-level=warning'], dir);
  writeFileSync(join(dir, 'dist', 'index.html'),
                '<!doctype html><meta charset="utf-8"><body><script type="module" src="./main.js"></script>');
  const { result, failed } = await resultOf(await serve(join(dir, 'dist')));
  assert.deepEqual(failed, []);
  assert.deepEqual(result, EXPECTED);
});
