#!/usr/bin/env node
/*
 * Assembles the ready-to-ship form packages into <out-dir>: each package's own files, the shared page code
 * of forms/common, and the page libraries from forms/node_modules (installed by `npm ci` in forms/).
 * Usage: node forms/assemble.js <out-dir>
 */
'use strict';

const fs = require('fs');
const path = require('path');

const FORMS = __dirname;
const MODULES = path.join(FORMS, 'node_modules');
const PACKAGES = ['eb_df', 'eb_ac'].filter((name) => fs.existsSync(path.join(FORMS, name, 'index.html')));

// Library files copied into every package: [module path, destination inside the package].
const LIBRARIES = [
  ['jquery/dist/jquery.min.js', 'js/jquery.min.js'],
  ['jquery-ui/dist/jquery-ui.min.js', 'js/jquery-ui.min.js'],
  ['jquery-json/dist/jquery.json.min.js', 'js/jquery.json.min.js'],
  ['blueimp-md5/js/md5.min.js', 'js/md5.min.js'],
  ['jquery-ui/dist/themes/base/jquery-ui.css', 'css/orv-theme/jquery-ui.css'],
  ['jquery-ui/dist/themes/base/images', 'css/orv-theme/images'],
  ['jquery/LICENSE.txt', 'js/licenses/jquery.txt'],
  ['jquery-ui/LICENSE.txt', 'js/licenses/jquery-ui.txt'],
  ['jquery-json/LICENSE.txt', 'js/licenses/jquery-json.txt'],
  ['blueimp-md5/LICENSE.txt', 'js/licenses/blueimp-md5.txt'],
];

// Shared page code: [folder under forms/common, destination inside the package].
const COMMON = [
  ['js', 'js'],
  ['css', 'css'],
  ['images', 'images'],
];

// Libraries that one package alone loads: the account-opening form's date pickers speak Chinese.
const OWN_LIBRARIES = {
  eb_ac: [
    ['jquery-ui/ui/i18n/datepicker-zh-CN.js', 'js/ui.datepicker-zh-CN.js'],
  ],
};

function copy(from, to) {
  const stat = fs.statSync(from);
  if (stat.isDirectory()) {
    fs.mkdirSync(to, { recursive: true });
    for (const name of fs.readdirSync(from)) {
      copy(path.join(from, name), path.join(to, name));
    }
  } else {
    fs.mkdirSync(path.dirname(to), { recursive: true });
    fs.copyFileSync(from, to);
  }
}

function main() {
  const out = process.argv[2];
  if (!out) {
    console.error('usage: node forms/assemble.js <out-dir>');
    process.exit(2);
  }
  const wanted = LIBRARIES.concat(...Object.values(OWN_LIBRARIES));
  const missing = wanted.map(([from]) => from).filter((from) => !fs.existsSync(path.join(MODULES, from)));
  if (missing.length) {
    console.error('assemble: the page libraries are not installed (missing ' + missing.join(', ') + ').');
    console.error('assemble: run `npm ci` in ' + FORMS + ' first.');
    process.exit(1);
  }
  for (const pkg of PACKAGES) {
    const dest = path.resolve(out, pkg);
    fs.rmSync(dest, { recursive: true, force: true });
    copy(path.join(FORMS, pkg), dest);
    for (const [from, to] of COMMON) {
      copy(path.join(FORMS, 'common', from), path.join(dest, to));
    }
    for (const [from, to] of LIBRARIES.concat(OWN_LIBRARIES[pkg] || [])) {
      copy(path.join(MODULES, from), path.join(dest, to));
    }
    console.log('assemble: ' + pkg + ' -> ' + dest);
  }
}

main();
