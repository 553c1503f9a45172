#!/usr/bin/env node
/*
 * Benchmark of the default form in Debian's headless Chromium, reported and not asserted:
 * building the rights grid for 30 users and 30 accounts (goal: at most 100 ms), opening step 3 with those
 * (checks, collecting and the grid), and a whole walk-through of the test application up to its print.
 * Usage: node tests/pages/bench.js   (after `bash tests/pages/run.sh` or with FW_PACKAGES set)
 */
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const h = require('./helpers');
const fx = require('./fixture');

const TITLES = ['财务部门经办人员(会计、出纳)', '财务部门负责人', '企业负责人'];
const CODES = ['8023', '8025', '8091', '1234'];

function bigApplication() {
  const users = [];
  for (let i = 0; i < 30; i++) {
    users.push({ userName: '用户' + (i + 1), gender: '男', title: TITLES[i % 3], certType: '护照', certName: '',
      certNum: 'P' + (1000 + i), mobile: String(13900000000 + i), email: '', officePhone: '0571-' + i,
      level: (i % 3) + 1, userId: i + 1 });
  }
  const accounts = [];
  for (let i = 0; i < 30; i++) {
    accounts.push({ account: '8' + String(i).padStart(10, '0') + CODES[i % 4] + (i % 5 === 4 ? '014' : '001'),
      isBaseAcc: 0, isPayeeAcc: 0, isTransAble: 0 });
  }
  return { users, accounts, baseInfo: { customerName: '性能测试有限公司' } };
}

function stats(list) {
  const sorted = [...list].sort((a, b) => a - b);
  return { median: sorted[Math.floor(sorted.length / 2)], min: sorted[0], max: sorted[sorted.length - 1] };
}

const fmt = (s) => 'median ' + s.median.toFixed(1) + ' ms (min ' + s.min.toFixed(1) + ', max ' + s.max.toFixed(1) + ')';

async function main() {
  if (!process.env.FW_PACKAGES) {
    const out = fs.mkdtempSync(path.join(os.tmpdir(), 'fw-bench-'));
    execFileSync('node', [path.join(__dirname, '..', '..', 'forms', 'assemble.js'), out], { stdio: 'ignore' });
    process.env.FW_PACKAGES = out;
  }
  const browser = await h.launch();
  try {
    const saved = encodeURIComponent(JSON.stringify(bigApplication()));
    const f = await h.openForm(browser, { saved });
    const build = await f.page.evaluate(() => {
      saveValues();
      const rows = accounts.map((a) => jQuery.extend({ label: a.account }, a));
      const times = [];
      for (let i = 0; i < 20; i++) {
        const t = performance.now();
        FW.grid.build(jQuery('#grid'), users, rows, false);
        times.push(performance.now() - t);
      }
      return times;
    });
    const cells = await f.page.locator('#grid .gridUser').count();
    const open = [];
    for (let i = 0; i < 5; i++) {
      await f.page.evaluate(() => { jQuery('#accountForms [name=account]').first().trigger('change'); });
      await h.tab(f.page, 2);
      await f.page.locator('#accountForms [name=account]').last().fill(i % 2 ? '800000000298091014' : '800000000298091013');
      const t = Date.now();
      await h.tab(f.page, 3);
      open.push(Date.now() - t);
    }
    await f.close();

    const walks = [];
    for (let i = 0; i < 3; i++) {
      const t = Date.now();
      const g = await h.openForm(browser);
      await fx.fillAll(g.page);
      await h.tab(g.page, 5);
      await g.page.evaluate(() => { window.print = () => {}; });
      await g.page.click('#previewBtn');
      await h.waitForPng(g.host, 1);
      walks.push(Date.now() - t);
      await g.close();
    }
    console.log('grid for 30 users x 30 accounts (' + cells + ' users placed): ' + fmt(stats(build)) + ', goal <= 100 ms');
    console.log('opening step 3 with 30 users and 30 accounts (click to grid shown, rebuilt): ' + fmt(stats(open)));
    console.log('whole walk-through (open, fill five steps as a user, print): ' + fmt(stats(walks)));
  } finally {
    await browser.close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
