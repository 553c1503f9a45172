'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

// Records what the print command would print, instead of opening the engine's print dialog.
async function capturePrints(page) {
  await page.evaluate(() => {
    window.__prints = [];
    window.print = function () {
      const area = document.getElementById('printArea');
      window.__prints.push({
        visible: getComputedStyle(area).display !== 'none',
        screenHidden: getComputedStyle(document.getElementById('screenArea')).display === 'none',
        signatures: Array.prototype.map.call(area.querySelectorAll('.signature'), (e) => e.textContent),
        rows: Array.prototype.map.call(area.querySelectorAll('.accountRows tr'),
          (tr) => Array.prototype.map.call(tr.cells, (td) => td.textContent)),
        services: (area.querySelector('.serviceList') || {}).textContent,
        dates: Array.prototype.map.call(area.querySelectorAll('.printDate'), (e) => e.textContent),
        parties: Array.prototype.map.call(area.querySelectorAll('.agreementParties td'), (e) => e.textContent),
        qr: (area.querySelector('#encryption img') || {}).getAttribute?.('src'),
      });
    };
  });
}

test('a first start shows one empty user form and one empty account form, with the company name focused',
  async () => {
    const f = await h.openForm(browser);
    try {
      const { page } = f;
      assert.equal(await page.title(), 'Orvanta股份有限公司 企业网上银行申请');
      assert.deepEqual(f.host.restores, ['loadFromSavedData();']);
      assert.equal(await page.locator('#userForms form.userForm').count(), 1);
      assert.equal(await page.locator('#accountForms form.accForm').count(), 1);
      assert.equal(await page.locator('#userForms [name=userName]').inputValue(), '');
      assert.equal(await page.locator('#accountForms [name=account]').inputValue(), '');
      assert.equal(await page.evaluate(() => document.activeElement.name), 'customerName');
      assert.deepEqual(await page.locator('#tabs > ul a').allTextContents(), ['第一步:填写企业及用户信息',
        '第二步:填写账户信息', '第三步:设置账户服务功能', '第四步:填写其他信息', '完成:打印']);
      assert.deepEqual(f.errors, []);
    } finally {
      await f.close();
    }
  });

test('a full application walks through all five tabs and prints with marks computed from its data', async () => {
  const sunday = new Date('2010-07-18T10:20:30+08:00');
  const f = await h.openForm(browser, { clock: sunday });
  try {
    const { page, host, dialogs } = f;
    await capturePrints(page);
    await fx.fillAll(page);
    await h.tab(page, 5);
    assert.equal(await h.activeTab(page), 5, dialogs.messages().join(' / '));
    assert.deepEqual(dialogs.take(), []);

    // The data the page saves is the collected application, sorted.
    const body = await host.saveToClient(page);
    assert.ok(body.startsWith('CCC='));
    const expected = fx.expectedSaved();
    assert.deepEqual(h.decodeSaved(host.saved), {
      ...expected,
      users: expected.users.map((u) => ({ ...u, userName: u.userName.replace(/ /g, '\u00a0') })),
    });
    assert.equal(body.indexOf('+'), -1, 'no spaces are left to encode');

    // Print: confirm, then the printable form goes to the print command.
    dialogs.answers.push(true);
    await page.click('#printBtn');
    assert.deepEqual(dialogs.take(), ['确定打印吗？']);
    await h.waitForPng(host, 1);
    await page.waitForFunction(() => window.__prints.length === 1);
    const p = (await page.evaluate(() => window.__prints))[0];
    assert.ok(p.visible && p.screenHidden, 'the printable area replaces the screen area while printing');
    assert.equal(await page.locator('#screenArea').isVisible(), true);
    assert.equal(await page.locator('#printArea').isVisible(), false);

    // The QR signature posted to CREATE_PNG.
    const info = expected.baseInfo;
    const qr = h.expectedInfoMark(info, 3, 3, { year: 2010, month: 7, weekday: 0 });
    assert.equal(host.pngBodies[0], 'CCC_ID=' + qr);
    assert.ok(qr.endsWith('0303' + '00701'));
    assert.match(p.qr, /^images\/encryption\.png\?\d+$/, 'the print waits for the host\'s fresh picture');

    // The signature mark: computed here from the same data, with the engine's own date text.
    const data = { ...fx.expectedData(), mappings: fx.expectedMappings() };
    const md5Signature = h.md5(h.signatureText(data)).toUpperCase();
    assert.equal(await page.evaluate(() => md5Signature), md5Signature);
    const when = await page.evaluate(() => new Date().toLocaleString());
    const mark = h.md5(md5Signature + when);
    assert.deepEqual(p.signatures, [mark[0] + mark[17], mark[0] + mark[17]]);

    // The account table, the services and the date of the printed form.
    assert.deepEqual(p.rows, [
      ['1', fx.ACC_BASE, '人民币', '是', 'A　B　', '模板1', '是', '1,000,000', '5,000,000'],
      ['', fx.ACC_BASE, '人民币', '', 'FA　FB', '模板2', '是', '50,000', '200,000'],
      ['2', fx.ACC_TRANS, '人民币', '否', 'A　B　', '模板1', '是', '1,000,000', '5,000,000'],
      ['3', fx.ACC_USD, '美元', '否', 'A　', '', '否', '', ''],
    ]);
    assert.equal(p.services, '■A账户查询 ■B转账汇划 ■FA代发工资 ■FB其他代发');
    assert.deepEqual(p.dates, ['2010年7月18日', '2010年7月18日']);
    assert.deepEqual(p.parties, [info.customerName, info.represent, info.registerAddr, 'Orvanta股份有限公司']);

    // Two prints within the same second carry the same mark; the preview prints without a question.
    await page.click('#previewBtn');
    await h.waitForPng(host, 2);
    await page.waitForFunction(() => window.__prints.length === 2);
    const again = await page.evaluate(() => window.__prints[1]);
    assert.deepEqual(again.signatures, p.signatures);
    assert.equal(host.pngBodies[1], host.pngBodies[0]);
    assert.deepEqual(dialogs.take(), []);
    assert.deepEqual(f.errors, []);
  } finally {
    await f.close();
  }
});

// Clicks on 打印预览 in a row, each with the host's answer to its CREATE_PNG: made, not made, none at all, or
// (as the Windows control may) inside the page's submit(). Only a made picture prints, with an address of its own.
test('a print waits for the host\'s picture: made prints once, anything else prints nothing and says so', async () => {
  const failed = ['生成二维码图片失败，本次未打印申请表，请重试。'];
  const cases = [
    { name: 'made', prints: true, alerts: [] },
    { name: 'encoder failed', host: { pngFails: true }, prints: false, alerts: failed },
    { name: 'a later click after a failure', prints: true, alerts: [] },
    { name: 'no answer', host: { pngSilent: true }, waitMs: 300, prints: false, alerts: failed },
    { name: 'answered inside submit()', syncAnswer: true, prints: true, alerts: [] },
  ];
  const f = await h.openForm(browser);
  try {
    const { page, host, dialogs } = f;
    await fx.fillAll(page);
    await h.tab(page, 5);
    dialogs.take();
    await capturePrints(page);
    const seen = [];
    for (const c of cases) {
      Object.assign(host, { pngFails: false, pngSilent: false }, c.host);
      const posts = host.pngBodies.length;
      const prints = await page.evaluate(([ms, sync]) => {
        FW.QR_WAIT_MS = ms;
        const form = document.getElementById('png_form');
        form.submit = sync ? () => window.qrPictureResult(true) : HTMLFormElement.prototype.submit;
        jQuery('#previewBtn').click();
        return window.__prints.length;
      }, [c.waitMs || 40000, !!c.syncAnswer]);
      if (!c.syncAnswer) {
        await h.waitForPng(host, posts + 1);
      }
      await (c.prints ? page.waitForFunction((n) => window.__prints.length > n, prints)
        : h.waitFor(() => dialogs.seen.length > 0, 5000));
      assert.deepEqual(dialogs.take(), c.alerts, c.name);
      const all = await page.evaluate(() => window.__prints);
      assert.equal(all.length, prints + (c.prints ? 1 : 0), c.name);
      assert.equal(await page.locator('#encryption img').count(), c.prints ? 1 : 0, c.name);
      if (c.prints) {
        const qr = all[all.length - 1].qr;
        assert.match(qr, /^images\/encryption\.png\?\d+$/, c.name);
        assert.ok(!seen.includes(qr), c.name + ': a cached copy could be shown');
        seen.push(qr);
      }
    }
    assert.deepEqual(f.errors, []);
  } finally {
    await f.close();
  }
});

test('saved data comes back through the host restore, a space in a name as a non-breaking space', async () => {
  const f = await h.openForm(browser);
  try {
    const { page, host } = f;
    await fx.fillAll(page);
    await host.saveToClient(page);
    // The page stays where it is after SAVE, and nothing is restored again.
    assert.equal(await h.activeTab(page), 4);
    assert.equal(host.restores.length, 1);

    // The next start: a new page of the same host with the saved text.
    const g = await h.openForm(browser, { saved: host.saved });
    try {
      const names = await g.page.locator('#userForms [name=userName]').evaluateAll((els) => els.map((e) => e.value));
      assert.deepEqual(names, ['陈建国', '李\u00a0明', '王丽']);
      assert.equal(await g.page.locator('#userForms [name=gender]').nth(2).inputValue(), '女');
      assert.equal(await g.page.locator('#userForms [name=title]').nth(0).inputValue(), '财务部门经办人员(会计、出纳)');
      const accs = await g.page.locator('#accountForms [name=account]').evaluateAll((els) => els.map((e) => e.value));
      assert.deepEqual(accs, [fx.ACC_BASE, fx.ACC_TRANS, fx.ACC_USD]);
      assert.equal(await g.page.locator('#accountForms [name=isBaseAcc]').first().isChecked(), true);
      assert.equal(await g.page.locator('#accountForms [name=isPayeeAcc]').first().inputValue(), '1');
      assert.equal(await g.page.locator('[name=customerName]').inputValue(), fx.COMPANY.customerName);
      assert.equal(await g.page.locator('[name=business]').inputValue(), fx.OTHER.business);
      assert.equal(await g.page.locator('[name=bMaxDayAmt]').inputValue(), fx.LIMITS.bMaxDayAmt);
      assert.equal(await g.page.evaluate(() => baseInfo.fMaxItemAmt), fx.LIMITS.fMaxItemAmt);

      // Saving the restored page again gives the same data (the non-breaking space stays one); only the
      // userIds follow the new form order, which is the sorted order.
      await g.host.saveToClient(g.page);
      const before = h.decodeSaved(host.saved);
      const after = h.decodeSaved(g.host.saved);
      assert.deepEqual(after.users.map((u) => u.userId), [1, 2, 3]);
      const renumbered = {};
      before.users.forEach((u, i) => { renumbered[u.userId] = i + 1; u.userId = i + 1; });
      const ids = (list) => list.map((id) => renumbered[id]);
      const r = before.rights;
      before.rights = { query: r.query.map(ids), jb: ids(r.jb), fh: ids(r.fh), sq: ids(r.sq), checkNum: r.checkNum };
      assert.deepEqual(after, before);
      assert.deepEqual(g.errors, []);
    } finally {
      await g.close();
    }
  } finally {
    await f.close();
  }
});

test('the reserved-seal account, the grid and the joint authorisation survive a restore; older data loads',
  async () => {
    const f = await h.openForm(browser);
    try {
      const { page, host, dialogs } = f;
      await fx.fillAll(page);
      await h.fillFields(page, { sealAcc: fx.ACC_TRANS });
      // Two authorisers who must act together (the reviewer 李 明 becomes the second authoriser).
      await h.tab(page, 3);
      await page.locator('td.cell[data-role="fh"] .ui-icon-close').click();
      await h.dragUser(page, 3, 0, 'sq');
      dialogs.answers.push(true);
      await h.tab(page, 4);
      assert.equal(await page.evaluate(() => checkNum), 2);
      dialogs.take();
      await host.saveToClient(page);
      const first = h.decodeSaved(host.saved);
      assert.deepEqual(first.rights, { query: [[2, 3, 1], [2, 3, 1], [2, 3, 1]], jb: [2], fh: [], sq: [1, 3],
        checkNum: 2 });

      const g = await h.openForm(browser, { saved: host.saved });
      try {
        assert.equal(await g.page.locator('#otherForm [name=sealAcc]').inputValue(), fx.ACC_TRANS);
        assert.equal(await g.page.evaluate(() => checkNum), 2);
        // Saved again before step 3 was opened: nothing is lost on the way.
        await g.host.saveToClient(g.page);
        assert.deepEqual(h.decodeSaved(g.host.saved).rights, { query: [[1, 2, 3], [1, 2, 3], [1, 2, 3]], jb: [1],
          fh: [], sq: [3, 2], checkNum: 2 });
        await h.tab(g.page, 2);
        await h.tab(g.page, 3);
        assert.deepEqual([await h.cellUsers(g.page, 0, 'jb'), await h.cellUsers(g.page, 0, 'fh'),
          await h.cellUsers(g.page, 0, 'sq')], [[1], [], [3, 2]]);
        g.dialogs.answers.push(true);
        await h.tab(g.page, 4);
        assert.equal(await g.page.locator('#otherForm [name=sealAcc]').inputValue(), fx.ACC_TRANS);
        await h.tab(g.page, 5);
        assert.equal(await h.activeTab(g.page), 5, g.dialogs.messages().join(' / '));
        // The marks are made of the same data as before: the additions stand beside it.
        const data = { ...fx.expectedData(), mappings: fx.expectedMappings() };
        data.users.forEach((u, i) => { u.userId = i + 1; u.userName = u.userName.replace(/ /g, '\u00a0'); });
        const roles = { jb: [1], fh: [], sq: [3, 2] };
        data.mappings = [{ query: [1, 2, 3], trans: roles }, { query: [1, 2, 3], trans: roles },
          { query: [1, 2, 3], trans: { jb: [], fh: [], sq: [] } }];
        await g.page.evaluate(() => { window.print = () => {}; jQuery('#previewBtn').click(); });
        assert.equal(await g.page.evaluate(() => md5Signature), h.md5(h.signatureText(data)).toUpperCase());
      } finally {
        await g.close();
      }

      // Saved data of an older page, without the additions: the grid starts from its initial filling and
      // the reserved-seal account from the first account.
      const old = { ...first };
      delete old.rights;
      delete old.sealAcc;
      const o = await h.openForm(browser, { saved: encodeURIComponent(JSON.stringify(old)) });
      try {
        assert.equal(await o.page.locator('#otherForm [name=sealAcc]').inputValue(), '');
        await h.tab(o.page, 2);
        await h.tab(o.page, 3);
        assert.deepEqual([await h.cellUsers(o.page, 0, 'jb'), await h.cellUsers(o.page, 0, 'fh'),
          await h.cellUsers(o.page, 0, 'sq')], [[1], [], [3]]);
        await h.tab(o.page, 4);
        assert.equal(await o.page.locator('#otherForm [name=sealAcc]').inputValue(), fx.ACC_BASE);
        assert.deepEqual(o.errors, []);
      } finally {
        await o.close();
      }
    } finally {
      await f.close();
    }
  });

test('text with quotes, entities, percent signs and separators survives save and restore unchanged', async () => {
  const f = await h.openForm(browser);
  try {
    const tricky = '"A&amp;B" 100%41 O\'Brien <b>\u2028x\\y';
    await h.fillFields(f.page, { customerName: tricky });
    await f.host.saveToClient(f.page);
    const g = await h.openForm(browser, { saved: f.host.saved });
    try {
      assert.equal(await g.page.locator('[name=customerName]').inputValue(),
        tricky.replace(/ /g, '\u00a0'));
    } finally {
      await g.close();
    }
  } finally {
    await f.close();
  }
});

test('the reset link asks first, then the host empties the saved data and the page starts afresh', async () => {
  const f = await h.openForm(browser);
  try {
    const { page, host, dialogs } = f;
    await fx.fillStep1(page);
    await host.saveToClient(page);
    assert.notEqual(host.saved, '');

    dialogs.answers.push(false);
    await page.click('#resetLink');
    assert.deepEqual(dialogs.take(), ['您确认清空已保存的数据？']);
    assert.equal(host.resets, 0);

    const loaded = host.loaded;
    dialogs.answers.push(true);
    await page.click('#resetLink');
    await loaded;
    assert.equal(host.resets, 1);
    assert.equal(host.saved, '');
    assert.equal(await page.locator('#userForms form.userForm').count(), 1);
    assert.equal(await page.locator('#userForms [name=userName]').inputValue(), '');
    assert.equal(await page.locator('[name=customerName]').inputValue(), '');
  } finally {
    await f.close();
  }
});

test('the page loads by itself when its address holds ?reload, and keeps F5 and the context menu', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    const page2 = await f.context.newPage();
    await page2.goto(f.host.url + '?reload');
    assert.equal(await page2.locator('#userForms form.userForm').count(), 1);
    assert.equal(await page2.locator('#accountForms form.accForm').count(), 1);

    // F5, Ctrl+R and the context menu are swallowed; Enter moves to the next field of the same form.
    const prevented = await page.evaluate(() => {
      const out = [];
      for (const init of [{ key: 'F5', keyCode: 116 }, { key: 'r', keyCode: 82, ctrlKey: true }]) {
        const e = new KeyboardEvent('keydown', { ...init, bubbles: true, cancelable: true });
        Object.defineProperty(e, 'which', { get: () => init.keyCode });
        document.body.dispatchEvent(e);
        out.push(e.defaultPrevented);
      }
      const menu = new MouseEvent('contextmenu', { bubbles: true, cancelable: true });
      document.body.dispatchEvent(menu);
      out.push(menu.defaultPrevented);
      return out;
    });
    assert.deepEqual(prevented, [true, true, true]);
    await page.locator('#userForms [name=userName]').focus();
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.activeElement.name), 'gender');
    await page.locator('[name=customerName]').focus();
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.activeElement.name), 'customerName',
      'the company form has one field, so Enter stays there');
    assert.equal(f.host.saveBodies.length, 0);
  } finally {
    await f.close();
  }
});
