#!/usr/bin/env node
/*
 * Takes the screenshots of the two forms shown in the README: each of the five tabs with the test
 * application filled in, and the printable form.
 * Usage: node tests/pages/screenshots.js [out-dir]   (default forms/screenshots)
 */
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const h = require('./helpers');
const fx = require('./fixture');
const ac = require('./fixture_ac');

// The printable form as the print command sees it, with the QR picture the host wrote.
async function showPrintable(f) {
  const { page } = f;
  await page.evaluate(() => {
    preparePrintContent();
    jQuery('body').addClass('printing');
    jQuery('#screenArea').hide();
    jQuery('#printArea').show();
  });
  await h.waitForPng(f.host, 1);
  await page.waitForFunction(() => {
    const img = document.querySelector('#encryption img');
    return img && img.complete;
  });
  await page.evaluate(() => { jQuery('#encryption img').attr('src', 'images/encryption.png?shot'); });
  await page.waitForTimeout(200);
  await page.setViewportSize({ width: 800, height: 700 });
}

async function main() {
  const outDir = path.resolve(process.argv[2] || path.join(__dirname, '..', '..', 'forms', 'screenshots'));
  fs.mkdirSync(outDir, { recursive: true });
  if (!process.env.FW_PACKAGES) {
    const out = fs.mkdtempSync(path.join(os.tmpdir(), 'fw-shots-'));
    execFileSync('node', [path.join(__dirname, '..', '..', 'forms', 'assemble.js'), out], { stdio: 'ignore' });
    process.env.FW_PACKAGES = out;
  }
  const browser = await h.launch();
  const shots = [];
  const shoot = async (page, name) => {
    const file = path.join(outDir, name);
    await page.screenshot({ path: file, fullPage: true });
    shots.push(file);
  };
  try {
    const f = await h.openForm(browser, { clock: new Date('2010-07-19T09:30:00+08:00') });
    const { page } = f;
    await f.context.clearCookies();
    await page.setViewportSize({ width: 980, height: 700 });
    await fx.fillStep1(page);
    await page.locator('[name=customerName]').focus();
    await shoot(page, 'eb_df-1-users.png');
    await h.tab(page, 2);
    await fx.fillStep2(page);
    await shoot(page, 'eb_df-2-accounts.png');
    await h.tab(page, 3);
    await h.dragUser(page, 3, 0, 'fh');
    await shoot(page, 'eb_df-3-rights.png');
    await h.tab(page, 4);
    await h.fillFields(page, fx.OTHER);
    await h.fillFields(page, fx.LIMITS);
    await shoot(page, 'eb_df-4-other.png');
    await h.tab(page, 5);
    await shoot(page, 'eb_df-5-print.png');

    await showPrintable(f);
    await shoot(page, 'eb_df-printable.png');
    await f.close();

    const g = await ac.open(browser, { clock: new Date('2010-07-19T09:30:00+08:00') });
    const gp = g.page;
    await gp.setViewportSize({ width: 980, height: 700 });
    await ac.fillStep1(gp);
    await gp.locator('[name=customerName]').focus();
    await shoot(gp, 'eb_ac-1-accounts.png');
    await h.tab(gp, 2);
    await ac.fillStep2(gp);
    await shoot(gp, 'eb_ac-2-users.png');
    await h.tab(gp, 3);
    await h.dragUser(gp, 3, 0, 'fh');
    await shoot(gp, 'eb_ac-3-rights.png');
    await h.tab(gp, 4);
    await h.fillFields(gp, ac.OTHER);
    await ac.fillRelOrgs(gp, ac.REL_ORGS);
    await h.fillFields(gp, fx.LIMITS);
    await gp.locator('[name=linkFax]').focus();
    await shoot(gp, 'eb_ac-4-other.png');
    await h.tab(gp, 5);
    await shoot(gp, 'eb_ac-5-print.png');
    await showPrintable(g);
    await shoot(gp, 'eb_ac-printable.png');
    await g.close();
  } finally {
    await browser.close();
  }
  for (const file of shots) {
    // Fewer colours keep the pictures small for the repository.
    try {
      execFileSync('convert', [file, '-strip', '+dither', '-colors', '128', 'PNG8:' + file]);
    } catch (e) { /* ImageMagick missing: keep the full picture */ }
    console.log(file + ' ' + fs.statSync(file).size + ' bytes');
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
