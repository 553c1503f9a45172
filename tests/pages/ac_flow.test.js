'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');
const ac = require('./fixture_ac');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

// What the print command would print, recorded instead of opening the engine's print dialog.
async function capturePrints(page) {
  await page.evaluate(() => {
    window.__prints = [];
    window.print = function () {
      const area = document.getElementById('printArea');
      const rows = (sel) => Array.prototype.map.call(area.querySelectorAll(sel),
        (tr) => Array.prototype.map.call(tr.cells, (td) => td.textContent));
      const f = (name) => Array.prototype.map.call(area.querySelectorAll('[data-f=' + name + ']'), (e) => e.textContent);
      window.__prints.push({
        visible: getComputedStyle(area).display !== 'none',
        signatures: Array.prototype.map.call(area.querySelectorAll('.signature'), (e) => e.textContent),
        openRows: rows('.openRows tr'), accountRows: rows('.accountRows tr'), relOrgRows: rows('.relOrgRows tr'),
        services: area.querySelector('.serviceList').textContent,
        bills: [f('billOnline')[0], f('billPaper')[0]], repWord: f('repWord'), orgCode: f('orgCode')[0],
        rgFund: f('rgFund')[0], dates: Array.prototype.map.call(area.querySelectorAll('.printDate'), (e) => e.textContent),
        qr: area.querySelector('#encryption img').getAttribute('src'),
      });
    };
  });
}

// Whether each element is shown in its tab (the tab itself may be closed).
const shown = (page, selector) => page.locator(selector).evaluateAll((els) => els.map((e) => e.style.display !== 'none'));

test('account opening: five tabs, print with marks, save, restore of every property, and reset', async () => {
  const sunday = new Date('2010-07-18T10:20:30+08:00');
  const f = await ac.open(browser, { clock: sunday });
  try {
    const { page, host, dialogs } = f;
    assert.equal(await page.title(), 'Orvanta股份有限公司 Velor服务平台自助申请');
    assert.deepEqual(await page.locator('#tabs > ul a').allTextContents(), ['第一步:填写开户信息',
      '第二步:填写开通网银信息', '第三步:设置网银账户功能', '第四步:填写其他信息', '完成:打印']);
    assert.deepEqual(host.restores, ['loadFromSavedData();']);
    assert.equal(await page.locator('#userForms form.userForm').count(), 1);
    assert.equal(await page.locator('#accountForms form.accForm').count(), 1);
    assert.equal(await page.evaluate(() => document.activeElement.name), 'customerName');
    // The choice lists hold the stored values, the Australian dollar with its trailing space.
    assert.deepEqual(await page.locator('#accountForms [name=currency] option').evaluateAll((o) => o.map((e) => e.value)),
      ['人民币', '港币', '美元', '英镑', '欧元', '日元', '加拿大元', '澳大利亚元 ', '瑞士法郎', '新加坡元']);
    assert.deepEqual(await page.locator('[name=orgCertType] option').evaluateAll((o) => o.map((e) => e.value)),
      ['营业执照', '登记证', '主管部门证明文件', '名称预先核准通知书', '其他证件']);
    assert.equal(await page.locator('[name=cusType] option').count(), 22);
    assert.equal(await page.locator('#accountForms [name=fundType] option').count(), 16);

    await capturePrints(page);
    await ac.fillAll(page);
    await h.tab(page, 5);
    assert.equal(await h.activeTab(page), 5, dialogs.messages().join(' / '));
    assert.deepEqual(dialogs.take(), []);

    // The saved object: users, accounts, baseInfo and relOrgs in this order, each property in its place.
    await host.saveToClient(page);
    const saved = h.decodeSaved(host.saved);
    const expected = ac.expectedSaved();
    assert.deepEqual(Object.keys(saved), ['users', 'accounts', 'baseInfo', 'relOrgs', 'rights']);
    assert.deepEqual(Object.keys(saved.baseInfo), ac.BASE_ORDER);
    assert.deepEqual(Object.keys(saved.accounts[0]), ['acctId', 'currency', 'category', 'isBaseAcc', 'isPayeeAcc',
      'isTransAble', 'fundType', 'expireDate', 'acctUse']);
    const nbsp = (o) => JSON.parse(JSON.stringify(o).replace(/ /g, '\u00a0'));
    assert.deepEqual(saved, { ...expected, users: nbsp(expected.users), baseInfo: nbsp(expected.baseInfo),
      accounts: nbsp(expected.accounts), relOrgs: nbsp(expected.relOrgs) });

    // Print: the QR signature, the marks from the data, the accounts by their acctIds.
    dialogs.answers.push(true);
    await page.click('#printBtn');
    assert.deepEqual(dialogs.take(), ['确定打印吗？']);
    await h.waitForPng(host, 1);
    await page.waitForFunction(() => window.__prints.length === 1);
    const p = (await page.evaluate(() => window.__prints))[0];
    assert.ok(p.visible);
    const info = ac.expectedBaseInfo();
    assert.equal(host.pngBodies[0], 'CCC_ID=' + h.expectedInfoMark(info, 4, 3, { year: 2010, month: 7, weekday: 0 }));
    assert.match(p.qr, /^images\/encryption\.png\?\d+$/);
    const data = { users: fx.expectedData().users, accounts: ac.expectedAccounts(), baseInfo: info,
      mappings: ac.expectedMappings() };
    const md5Signature = h.md5(h.signatureText(data)).toUpperCase();
    assert.equal(await page.evaluate(() => md5Signature), md5Signature);
    const mark = h.md5(md5Signature + await page.evaluate(() => new Date().toLocaleString()));
    assert.deepEqual(p.signatures, [mark[0] + mark[17], mark[0] + mark[17], mark[0] + mark[17]]);
    assert.deepEqual(p.openRows.map((r) => r.slice(1, 6)), [['账户3', '人民币', '基本户', '', ''],
      ['账户2', '人民币', '临时户', '', '2011-06-30'], ['账户4', '人民币', '专用户', '住房基金', ''],
      ['账户1', '美元', '外币户', '', '']]);
    assert.deepEqual(p.accountRows, [
      ['1', '账户3', '人民币', '是', 'A　B　', '模板1', '是', '1,000,000', '5,000,000'],
      ['', '账户3', '人民币', '', 'FA　FB', '模板2', '是', '50,000', '200,000'],
      ['2', '账户2', '人民币', '否', 'A　B　', '模板1', '是', '1,000,000', '5,000,000'],
      ['3', '账户4', '人民币', '否', 'A　B　', '模板1', '是', '1,000,000', '5,000,000'],
      ['4', '账户1', '美元', '否', 'A　', '', '否', '', ''],
    ]);
    assert.equal(p.services, '■A账户查询 ■B转账汇划 ■FA代发工资 ■FB其他代发');
    assert.deepEqual(p.relOrgRows, ac.REL_ORGS.map((o, i) => [String(i + 1), o.relOrg, o.relRepresent, o.relOrgCode]));
    assert.deepEqual(p.bills, ['√', '×']);
    assert.equal(p.rgFund, '澳大利亚元 5000000');
    assert.ok(p.repWord.every((w) => w === '法定代表人'));
    assert.deepEqual(p.dates, ['2010年7月18日', '2010年7月18日', '2010年7月18日']);
    assert.deepEqual(f.errors, []);

    // The next start brings everything back: fields, answers with the fields that follow them, related
    // companies, the grid; saving again gives the same data (users renumbered in their sorted order).
    const g = await ac.open(browser, { saved: host.saved });
    try {
      const gp = g.page;
      assert.equal(await gp.locator('[name=customerNameEn]').inputValue(), ac.COMPANY.customerNameEn.replace(/ /g, '\u00a0'));
      assert.equal(await gp.locator('[name=rgFundType]').inputValue(), '澳大利亚元 ');
      assert.equal(await gp.locator('[name=hasPrtOrg][value=是]').isChecked(), true);
      assert.equal(await gp.locator('[name=isRep][value=否]').isChecked(), true);
      assert.equal(await gp.locator('[name=isSubOrg][value=是]').isChecked(), true);
      assert.deepEqual(await shown(gp, '.prtRow'), [true, true, true, true]);
      assert.deepEqual(await shown(gp, '.agentRow'), [true, true, true]);
      assert.equal(await gp.locator('.linkCertNameCell').first().evaluate((e) => e.style.visibility), 'visible');
      assert.deepEqual(await shown(gp, '#relOrgBox'), [true]);
      assert.equal(await gp.locator('#relOrgForms form').count(), 2);
      assert.deepEqual(await gp.locator('#accountForms .formNo').allTextContents(), ['账户3', '账户2', '账户4', '账户1']);
      assert.equal(await gp.locator('#accountForms .expireRow').nth(1).isVisible(), true);
      assert.equal(await gp.locator('#accountForms [name=isPayeeAcc]').first().inputValue(), '1');
      assert.equal(await gp.locator('#accountForms .foreignCategory').nth(3).isVisible(), true);
      assert.equal(await gp.locator('#accountForms [name=category]').nth(3).isVisible(), false);
      await h.tab(gp, 2);
      await h.tab(gp, 3);
      assert.deepEqual(await h.cellUsers(gp, 0, 'fh'), [2], 'the reviewer comes back (renumbered)');
      await g.host.saveToClient(gp);
      const again = h.decodeSaved(g.host.saved);
      const renumbered = { 2: 1, 3: 2, 1: 3 };
      const ids = (list) => list.map((id) => renumbered[id]);
      saved.users.forEach((u) => { u.userId = renumbered[u.userId]; });
      const r = saved.rights;
      saved.rights = { query: r.query.map(ids), jb: ids(r.jb), fh: ids(r.fh), sq: ids(r.sq), checkNum: 1 };
      assert.deepEqual(again, saved);
      assert.deepEqual(g.errors, []);
    } finally {
      await g.close();
    }

    // Reset: asked first, then a fresh form.
    const loaded = host.loaded;
    dialogs.answers.push(true);
    await page.click('#resetLink');
    await loaded;
    assert.deepEqual(dialogs.take(), ['您确认清空已保存的数据？']);
    assert.equal(host.saved, '');
    assert.equal(await page.locator('#accountForms form.accForm').count(), 1);
    assert.equal(await page.locator('[name=customerName]').inputValue(), '');
    assert.equal(await page.locator('#relOrgBox').isVisible(), false);
  } finally {
    await f.close();
  }
});
