// Node, from require(): the module is read and compiled synchronously from
// beside this file, so the API is there as soon as require() returns. The
// same decision as the ES module entry, from the same files.
'use strict';

const { readFileSync } = require('node:fs');
const { join } = require('node:path');

const { api, INPUT_LIMIT } = require('./core.cjs');
const { moduleName, runsSimd, withFlavour } = require('./load.cjs');

const simd = runsSimd();
const compiled = new WebAssembly.Module(readFileSync(join(__dirname, '..', 'dist', moduleName())));
const exports_ = withFlavour(new WebAssembly.Instance(compiled, {}), simd);

module.exports = { ...api(exports_), INPUT_LIMIT, simd };
