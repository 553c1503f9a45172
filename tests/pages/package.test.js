'use strict';

// The carried package is staged from forms/ by cmake/stage_package.sh: it must hold the real account-opening
// form, not the placeholder page that stands in for a form that does not exist.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');

const ROOT = path.join(__dirname, '..', '..');

test('the staged package carries the real eb_ac beside eb_df, with its date-picker texts', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'fw-stage-'));
  try {
    // A pack tool that only writes down the members it is given.
    const pack = path.join(dir, 'pack.sh');
    fs.writeFileSync(pack, '#!/bin/sh\nout="$1"; shift; printf "%s\\n" "$@" > "$out"\n', { mode: 0o755 });
    const bin = path.join(dir, 'bin');
    fs.mkdirSync(bin);
    fs.writeFileSync(path.join(bin, 'libgbconv.so'), '');
    const stage = path.join(dir, 'stage');
    const list = path.join(dir, 'members.txt');
    execFileSync('bash', [path.join(ROOT, 'cmake', 'stage_package.sh'), 'linux', pack, list, stage,
      path.join(ROOT, 'forms'), bin], { stdio: 'pipe', env: { ...process.env, STRIP: '-' } }); // the empty library is no program to strip
    const members = fs.readFileSync(list, 'utf8').trim().split('\n').map((m) => m.split('=')[0]);
    assert.equal(members[0], 'eb_df/');
    assert.equal(members[members.length - 1], 'eb_ac/');
    const acDir = path.join(stage, 'forms', 'eb_ac');
    const html = fs.readFileSync(path.join(acDir, 'index.html'), 'utf8');
    assert.match(html, /<title>Orvanta股份有限公司 Velor服务平台自助申请<\/title>/);
    for (const file of ['js/eb_ac.js', 'js/fw-page.js', 'js/jquery-ui.min.js', 'js/ui.datepicker-zh-CN.js',
      'images/encryption.png', 'images/logo.png', 'css/orv-theme/jquery-ui.css']) {
      assert.ok(fs.statSync(path.join(acDir, file)).size > 0, file);
    }
    assert.match(fs.readFileSync(path.join(stage, 'forms', 'eb_df', 'index.html'), 'utf8'), /企业网上银行申请/);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
