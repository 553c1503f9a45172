'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');
const ac = require('./fixture_ac');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

// Clicks a tab and returns the boxes that it raised; the tab must (or must not) have opened.
async function tryTab(f, n, opens) {
  f.dialogs.take();
  const before = await h.activeTab(f.page);
  await h.tab(f.page, n);
  assert.equal(await h.activeTab(f.page), opens ? n : before, 'tab ' + n + (opens ? ' opens' : ' stays closed'));
  return f.dialogs.take();
}

const focused = (page) => page.evaluate(() => document.activeElement.name);
const accForm = (page, n) => page.locator('#accountForms form.accForm').nth(n);

test('company check in order, and the switches of the pre-approval notice', async () => {
  const f = await ac.open(browser);
  try {
    const { page } = f;
    const steps = [
      [{}, '请输入公司全称！', 'customerName'],
      [{ customerNameEn: 'Yuanfan Trading' }, '请输入证件号码！', 'orgCertNum'],
      [{ orgCertNum: '　', orgCertType: '其他证件' }, '请输入证件号码！', 'orgCertNum'],
      [{ orgCertNum: '12345' }, '请输入证件名称！', 'orgCertName'],
      [{ orgCertName: '全国组织机构代码证' }, '请输入组织机构代码证以外的证件名称！', 'orgCertName'],
      [{ orgCertName: '事业单位法人证书' }, '请输入组织机构代码！', 'orgCode'],
    ];
    for (const [values, message, field] of steps) {
      await h.fillFields(page, values);
      assert.deepEqual(await tryTab(f, 2, false), [message], JSON.stringify(values));
      assert.equal(await focused(page), field);
    }
    // The pre-approval notice: no organisation code asked, the bill marks turned round, the investing
    // shareholder asked for; another type turns everything back. An English name alone is enough.
    await h.fillFields(page, { orgCertType: '名称预先核准通知书' });
    assert.equal(await page.locator('.orgCodeCell').first().evaluate((e) => getComputedStyle(e).visibility), 'hidden');
    assert.deepEqual(await page.locator('.billOnline, .billPaper').allTextContents(), ['×', '√']);
    assert.deepEqual(await page.locator('#tab4 .repWord').allTextContents(), ['投资股东', '投资股东', '投资股东']);
    await h.fillFields(page, { orgCertType: '营业执照' });
    assert.deepEqual(await page.locator('.billOnline, .billPaper').allTextContents(), ['√', '×']);
    assert.deepEqual(await page.locator('#tab4 .repWord').allTextContents(), ['法定代表人', '法定代表人', '法定代表人']);
    assert.deepEqual(await tryTab(f, 2, false), ['请输入组织机构代码！']);
    await h.fillFields(page, { orgCertType: '名称预先核准通知书' });
    assert.deepEqual(await tryTab(f, 2, true), []);
  } finally {
    await f.close();
  }
});

test('account check: the validity of a temporary account, the scope of a foreign one, one basic account',
  async () => {
    const f = await ac.open(browser);
    try {
      const { page } = f;
      await h.fillFields(page, ac.COMPANY);
      // Only a renminbi account offers categories; the payroll question only for the basic account.
      await ac.fillAccount(page, 1, { currency: '港币' });
      assert.equal(await accForm(page, 0).locator('[name=category]').isVisible(), false);
      assert.equal(await accForm(page, 0).locator('.foreignCategory').textContent(), '外币户');
      assert.deepEqual(await tryTab(f, 2, false), ['请填写账户收支范围！']);
      assert.equal(await focused(page), 'acctUse');
      await ac.fillAccount(page, 1, { acctUse: '　' });
      assert.deepEqual(await tryTab(f, 2, false), ['请填写账户收支范围！']);
      await ac.fillAccount(page, 1, { currency: '人民币', category: '临时户' });
      assert.equal(await accForm(page, 0).locator('.payeeRow').isVisible(), false);
      assert.deepEqual(await tryTab(f, 2, false), ['请输入临时户的有效期！'], 'a renminbi account needs no scope');
      assert.equal(await focused(page), 'expireDate');
      // The date comes from the picker, in Chinese.
      await page.locator('#ui-datepicker-div').waitFor();
      assert.equal(await page.locator('#ui-datepicker-div .ui-datepicker-next').getAttribute('title'), '下月');
      assert.deepEqual(await page.locator('#ui-datepicker-div thead th').allTextContents(),
        ['一', '二', '三', '四', '五', '六', '日']);
      await page.locator('#ui-datepicker-div .ui-datepicker-next').click();
      await page.locator('#ui-datepicker-div td[data-handler=selectDay] a').first().click();
      assert.match(await accForm(page, 0).locator('[name=expireDate]').inputValue(), /^\d{4}-\d{2}-01$/);

      await ac.fillAccount(page, 2, { currency: '人民币', category: '基本户' });
      assert.equal(await accForm(page, 1).locator('.payeeRow').isVisible(), true);
      assert.equal(await accForm(page, 1).locator('.payeeRow th').textContent(), '是否申请发薪报销功能：');
      await ac.fillAccount(page, 3, { currency: '人民币' });
      await accForm(page, 2).locator('[name=category]').selectOption('基本户');
      assert.deepEqual(f.dialogs.take(), ['基本账户只能有一个，请先修改前面的选择！']);
      assert.equal(await accForm(page, 2).locator('[name=category]').inputValue(), '一般户');
      // A temporary account turned into a foreign one needs its scope instead of a date.
      await ac.fillAccount(page, 1, { currency: '欧元' });
      assert.deepEqual(await tryTab(f, 2, false), ['请填写账户收支范围！']);
      await ac.fillAccount(page, 1, { acctUse: '资本项目' });
      assert.deepEqual(await tryTab(f, 2, true), []);
      assert.deepEqual(await page.evaluate(() => accounts.map((a) => [a.acctId, a.category, a.isTransAble])),
        [['账户2', '基本户', 1], ['账户3', '一般户', 1], ['账户1', '外币户', 0]]);
      assert.deepEqual(f.errors, []);
    } finally {
      await f.close();
    }
  });

test('the grid names accounts by their acctId; tab 1 runs the user check', async () => {
  const f = await ac.open(browser);
  try {
    const { page, dialogs } = f;
    await h.fillFields(page, ac.COMPANY);
    await ac.fillAccount(page, 1, ac.ACCOUNTS[0]);
    await ac.fillAccount(page, 2, ac.ACCOUNTS[1]);
    await h.tab(page, 2);
    assert.deepEqual(await tryTab(f, 1, false), ['请输入用户名称！']);
    for (let i = 0; i < 2; i++) {
      await h.fillUser(page, i + 1, fx.USERS[i]);
    }
    assert.deepEqual(await tryTab(f, 3, true), []);
    assert.deepEqual(await page.locator('table.rightsGrid tbody td.accCol').allTextContents(),
      ['账户2(临时户,人民币)', '账户1(外币户,美元)']);
    const remove = (row, role, uid) => page.locator('td.cell[data-row="' + row + '"][data-role="' + role +
      '"] .gridUser[data-uid="' + uid + '"] .ui-icon-close').click();
    await remove(0, 'jb', 2);
    await remove(0, 'sq', 1);
    dialogs.answers.push(false);
    const question = '您的账户2具有转账功能，但未设置“经办”及“授权”用户，将导致转账功能无法使用，确认不设置？';
    assert.deepEqual(await tryTab(f, 4, false), [question]);
    for (const uid of [2, 1]) {
      await remove(1, 'query', uid);
    }
    assert.deepEqual(await tryTab(f, 4, false), ['请为账户1设置操作用户！']);
    await h.dragUser(page, 1, 1, 'query');
    dialogs.answers.push(true);
    assert.deepEqual(await tryTab(f, 4, true), [question]);
  } finally {
    await f.close();
  }
});

// The other-information check in order; with the pre-approval notice the customer type and organisation
// code are not asked and the investing shareholder takes the legal representative's messages.
for (const pre of [false, true]) {
  test('other information in order' + (pre ? ' with the pre-approval notice' : ''), async () => {
    const f = await ac.open(browser);
    try {
      const { page } = f;
      await ac.fillAll(page);
      if (pre) {
        await h.tab(page, 1);
        await h.fillFields(page, { orgCertType: '名称预先核准通知书' });
        await h.tab(page, 4);
      }
      const order = [
        ['cusType', '请选择客户类型.', ac.OTHER.cusType], ['business', '请选择行业类型.', ac.OTHER.business],
        ['cusType2', '请选择企业性质.', ac.OTHER.cusType2], ['cusType3', '请选择经济成分.', ac.OTHER.cusType3],
        ['cusType4', '请选择企业类型.', ac.OTHER.cusType4], ['orgCode', '请输入组织机构代码.'],
        ['registerAddr', '请输入注册地址.'], ['contactAddr', '请输入通信地址.'], ['zipCode', '请输入邮政编码.'],
        ['represent', pre ? '请输入投资股东姓名.' : '请输入法定代表人姓名.'],
        ['repCertNum', pre ? '请输入投资股东证件号码.' : '请输入法定代表人证件号码.'],
        ['orgPhone', '请输入单位电话.'], ['orgEmail', '请输入电子邮件地址.'], ['orgFax', '请输入单位传真.'],
        ['linkMan', '请输入经办人.'], ['linkPhone', '请输入经办人办公电话.'], ['linkMobile', '请输入经办人移动电话.'],
        ['linkFax', '请输入经办人传真.'], ['bMaxItemAmt', '请输入发薪每笔最高金额'],
      ].filter(([name]) => !pre || (name !== 'cusType' && name !== 'orgCode'));
      for (const [name, , choice] of order) {
        if (name === 'bMaxItemAmt') {
          await h.fillFields(page, { fMaxItemAmt: '' });
        } else if (name === 'orgCode') {
          await page.evaluate(() => { jQuery('#companyForm [name=orgCode]').val(''); });
        } else {
          await h.fillFields(page, { [name]: choice ? '' : '　' });
        }
      }
      if (pre) {
        await h.fillFields(page, { cusType: '' });
      }
      for (const [name, message, choice] of order) {
        f.dialogs.take();
        await h.tab(page, 5);
        assert.deepEqual(f.dialogs.take(), [message], name);
        // The organisation code stands on tab 1, which opens to show it.
        assert.equal(await h.activeTab(page), name === 'orgCode' ? 1 : 4);
        assert.equal(await focused(page), name === 'bMaxItemAmt' ? 'fMaxItemAmt' : name);
        if (name === 'orgCode') {
          await h.fillFields(page, { orgCode: '75621349-1' });
          await h.tab(page, 4);
        } else {
          await h.fillFields(page, name === 'bMaxItemAmt' ? { fMaxItemAmt: '100.50' } : { [name]: choice || 'x' });
        }
      }
      assert.deepEqual(await tryTab(f, 5, true), []);
      assert.equal(await page.evaluate(() => baseInfo.orgCode), pre ? '' : '75621349-1');
      assert.equal(await page.evaluate(() => baseInfo.cusType), pre ? '' : ac.OTHER.cusType);
    } finally {
      await f.close();
    }
  });
}
