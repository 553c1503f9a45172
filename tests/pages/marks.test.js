'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

async function shownMark(page) {
  await page.evaluate(() => {
    window.__seen = [];
    window.print = () => { window.__seen.push(document.querySelector('#printArea .signature').textContent); };
    jQuery('#previewBtn').click();
  });
  await page.waitForFunction(() => window.__seen.length === 1);
  return page.evaluate(() => window.__seen[0]);
}

test('a Saturday print ends the QR signature in 00707; later seconds change the mark', async () => {
  const saturday = new Date('2010-07-17T23:59:58+08:00');
  const f = await h.openForm(browser, { clock: saturday });
  try {
    const { page, host } = f;
    await fx.fillAll(page);
    await h.tab(page, 5);
    const first = await shownMark(page);
    await h.waitForPng(host, 1);
    const info = fx.expectedData().baseInfo;
    assert.equal(host.pngBodies[0], 'CCC_ID=' + h.expectedInfoMark(info, 3, 3, { year: 2010, month: 7, weekday: 6 }));
    assert.ok(host.pngBodies[0].endsWith('00707'));

    // The mark follows the second of printing, computed here from md5Signature and the engine's date text.
    const md5Signature = h.md5(h.signatureText({ ...fx.expectedData(), mappings: fx.expectedMappings() }))
      .toUpperCase();
    const expectMark = async () => {
      const mark = h.md5(md5Signature + await page.evaluate(() => new Date().toLocaleString()));
      return mark[0] + mark[17];
    };
    assert.equal(first, await expectMark());
    await page.clock.setFixedTime(new Date('2010-07-17T23:59:59+08:00'));
    const second = await shownMark(page);
    assert.equal(second, await expectMark());
    assert.notEqual(second, first, 'these two seconds give different marks for this data');

    // Past midnight it is Sunday: the QR signature ends in 00701.
    await page.clock.setFixedTime(new Date('2010-07-18T00:00:01+08:00'));
    await shownMark(page);
    await h.waitForPng(host, 3);
    assert.ok(host.pngBodies[2].endsWith('0303' + '00701'));
  } finally {
    await f.close();
  }
});

test('the signature walks mappings three times over and reacts to every role and value', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await fx.fillAll(page);
    await h.tab(page, 5);
    await shownMark(page);
    const data = { ...fx.expectedData(), mappings: fx.expectedMappings() };
    const text = h.signatureText(data);
    assert.ok(text.includes('query021321' + 'trans' + 'jb02fh03sq01'.repeat(3) + 'query'));
    assert.equal(await page.evaluate(() => md5Signature), h.md5(text).toUpperCase());

    // With the reviewer removed the walk changes in all three repetitions.
    await h.tab(page, 3);
    await page.locator('td.cell[data-role="fh"] .ui-icon-close').click();
    await h.tab(page, 4);
    await h.tab(page, 5);
    await shownMark(page);
    data.mappings[0].trans = { jb: [2], fh: [], sq: [1] };
    data.mappings[1].trans = data.mappings[0].trans;
    assert.equal(await page.evaluate(() => md5Signature), h.md5(h.signatureText(data)).toUpperCase());
  } finally {
    await f.close();
  }
});
