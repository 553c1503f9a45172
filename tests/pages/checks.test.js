'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');

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

// An account typed in behind the scenes, so that going back to tab 1 (which checks the accounts) is allowed.
async function presetAccount(page) {
  await page.evaluate((n) => { jQuery('#accountForms [name=account]').first().val(n); }, fx.ACC_BASE);
}

async function focused(page) {
  return page.evaluate(() => {
    const el = document.activeElement;
    const kind = el.form && /^(userForm|accForm) /.test(el.form.className) ? el.form.className.split(' ')[0] : '';
    const form = kind ? Array.prototype.indexOf.call(document.querySelectorAll('form.' + kind), el.form) : -1;
    return el.name + (form >= 0 ? '@' + form : '');
  });
}

test('user check: each field in turn, first versus later users, e-mail only for other mobiles', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await presetAccount(page);
    assert.deepEqual(await tryTab(f, 2, false), ['请输入公司全称！']);
    await h.fillFields(page, fx.COMPANY);
    assert.deepEqual(await tryTab(f, 2, false), ['请输入用户名称！']);
    assert.equal(await focused(page), 'userName@0');

    const steps = [
      [{ userName: '赵敏' }, '请选择证件类型！', 'certType@0'],
      [{ certType: '其他' }, '请选择部门职位！', 'title@0'],
      [{ title: '企业负责人' }, '请输入证件名称！', 'certName@0'],
      [{ certName: '台湾居民来往大陆通行证' }, '请输入证件号码！', 'certNum@0'],
      [{ certNum: '　T123456　' }, '请输入办公电话号码！', 'officePhone@0'],
      [{ officePhone: '0571-1' }, '请输入移动电话号码！', 'mobile@0'],
      [{ mobile: '　 ' }, '请输入移动电话号码！', 'mobile@0'],
      [{ mobile: '8675' }, '请输入EMAIL！', 'email@0'],
      [{ email: '@zhao.example' }, 'EMAIL格式有误！', 'email@0'],
      [{ email: 'zhao.example' }, 'EMAIL格式有误！', 'email@0'],
      [{ email: 'z@zhao.example', mobile: '867.5' }, '手机号码必须全为数字！', 'mobile@0'],
    ];
    for (const [values, message, field] of steps) {
      await h.fillUser(page, 1, values);
      assert.deepEqual(await tryTab(f, 2, false), [message], JSON.stringify(values));
      assert.equal(await focused(page), field);
    }
    // An 11-character mobile needs no e-mail.
    await h.fillUser(page, 1, { mobile: '13800000001', email: '' });
    assert.deepEqual(await tryTab(f, 2, true), []);

    // A later user without a name: No keeps it and focuses it, Yes drops it.
    await h.tab(page, 1);
    await page.click('#addUser');
    f.dialogs.answers.push(false);
    assert.deepEqual(await tryTab(f, 2, false), ['您尚未输入新增用户名，您确定放弃该新增用户？']);
    assert.equal(await focused(page), 'userName@1');
    f.dialogs.answers.push(true);
    assert.deepEqual(await tryTab(f, 2, true), ['您尚未输入新增用户名，您确定放弃该新增用户？']);
    assert.equal(await page.locator('#userForms form.userForm').count(), 1);

    // Duplicates between users.
    await h.tab(page, 1);
    await h.fillUser(page, 2, { userName: '钱进', certType: '护照', title: '财务部门负责人', certNum: 'G1',
      officePhone: '1', mobile: '13800000001' });
    assert.deepEqual(await tryTab(f, 2, false), ['不同用户的手机号码不能相同！']);
    assert.equal(await focused(page), 'mobile@1');
    await h.fillUser(page, 2, { mobile: '13800000002', userName: ' 赵敏 ' });
    assert.deepEqual(await tryTab(f, 2, false), ['此用户已存在，请勿重复录入！']);
    assert.equal(await focused(page), 'userName@1');
    await h.fillUser(page, 2, { userName: '钱进' });
    assert.deepEqual(await tryTab(f, 2, true), []);
  } finally {
    await f.close();
  }
});

test('identity numbers: 15 or 18 characters of digits, an 18th X allowed, and the gender digit', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await presetAccount(page);
    await h.fillFields(page, fx.COMPANY);
    await h.fillUser(page, 1, { userName: '孙红', gender: '女', title: '企业负责人', certType: '居民身份证',
      officePhone: '1', mobile: '13800000001' });
    // Opening tab 2: the number is put in without passing through the field, so only the user check speaks.
    // (The focus leaves the field while it holds a valid number, so that leaving it says nothing.)
    const setNumber = (num, gender) => page.evaluate(([n, g]) => {
      jQuery('#userForms [name=certNum]').val('330106750812031');
      jQuery('#userForms [name=gender]').val('男');
      document.getElementById('customerName').focus();
      jQuery('#userForms [name=certNum]').val(n);
      jQuery('#userForms [name=gender]').val(g);
    }, [num, gender]);
    const checks = [
      ['3301061985031200', '女', ['身份证号码位数有误！'], false],
      ['33010675081203A', '男', ['身份证号码必须全为数字！'], false],
      ['3301061985031200A8', '女', ['身份证号码必须全为数字！'], false],
      ['33010619850312002Y', '女', ['身份证号码必须全为数字！'], false],
      ['33010619850312003X', '男', [], true],
      ['330106750812031', '男', [], true],
    ];
    for (const [num, gender, boxes, opens] of checks) {
      // A failed check leaves the focus in the number field. Leaving it by the tab click would run the
      // gender check on the bad number, whose message and deferred refocus could then land after setNumber
      // had moved on; so the field gets a valid number before the focus leaves it.
      await page.evaluate(() => {
        if (document.activeElement.name === 'certNum') {
          jQuery('#userForms [name=gender]').val('男');
          document.activeElement.value = '330106750812031';
        }
      });
      await h.tab(page, 1);
      assert.equal(await h.activeTab(page), 1);
      await setNumber(num, gender);
      assert.deepEqual(await tryTab(f, 2, opens), boxes, num + ' ' + gender);
    }

    // Leaving the number field runs the gender check, and the focus comes back to the entry at fault.
    await h.tab(page, 1);
    const leave = [
      ['33010675081203A', '男', ['15位的身份证号码必须全为数字'], 'certNum'],
      ['3301061985031200A8', '女', ['18位的身份证号码前17位必须全为数字'], 'certNum'],
      ['330106198503120018', '女', ['证件号中的性别信息与所填信息不符.'], 'gender'],
      ['330106198503120028', '男', ['证件号中的性别信息与所填信息不符.'], 'gender'],
      ['330106750812032', '男', ['证件号中的性别信息与所填信息不符.'], 'gender'],
      ['330106198503120028', '女', [], 'mobile'],
      ['33010619850312003X', '男', [], 'mobile'],
      ['330106750812032', '女', [], 'mobile'],
      ['3301067508120', '男', [], 'mobile'],
    ];
    for (const [num, gender, boxes, focus] of leave) {
      await h.fillUser(page, 1, { gender, certNum: num });
      f.dialogs.take();
      await page.locator('#userForms [name=mobile]').focus();
      await page.waitForFunction((name) => document.activeElement.name === name, focus, { timeout: 2000 });
      assert.deepEqual(f.dialogs.take(), boxes, num + ' ' + gender);
    }
    // Another certificate type is not checked.
    await h.fillUser(page, 1, { certType: '护照', certNum: 'ABC' });
    await page.locator('#userForms [name=mobile]').focus();
    assert.deepEqual(f.dialogs.take(), []);
  } finally {
    await f.close();
  }
});

test('account check: numbers, the basic account rules and the payroll question', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await fx.fillStep1(page);
    await h.tab(page, 2);
    assert.deepEqual(await tryTab(f, 3, false), ['请输入账号！']);
    assert.deepEqual(await tryTab(f, 1, false), ['请输入账号！'], 'going back checks the accounts too');
    const cases = [
      ['80012345678802300a', '账号必须全为数字！'],
      ['8001234567880230.1', '账号必须全为数字！'],
      ['900123456788023001', '请输入以8开头的Orvanta账号！'],
      ['80012345678802300', '账号必须为18位！'],
    ];
    for (const [number, message] of cases) {
      await h.fillAccount(page, 1, number);
      assert.deepEqual(await tryTab(f, 3, false), [message], number);
      assert.equal(await focused(page), 'account@0');
    }
    await h.fillAccount(page, 1, fx.ACC_USD);
    await h.fillAccount(page, 2, fx.ACC_USD);
    assert.deepEqual(await tryTab(f, 3, false), ['此账号已存在，请勿重复录入！']);
    assert.equal(await focused(page), 'account@1');

    // The basic account must be a renminbi account, and only one; only it offers payroll.
    const accForm = (n) => page.locator('#accountForms form.accForm').nth(n);
    await accForm(1).locator('[name=isBaseAcc]').click();
    assert.deepEqual(f.dialogs.take(), ['基本账户只能为人民币账户，该账户不符合条件！']);
    assert.equal(await accForm(1).locator('[name=isBaseAcc]').isChecked(), false);
    assert.equal(await accForm(1).locator('.payeeRow').isVisible(), false);
    await h.fillAccount(page, 2, fx.ACC_TRANS, true);
    assert.deepEqual(f.dialogs.take(), []);
    assert.equal(await accForm(1).locator('.payeeRow').isVisible(), true);
    assert.equal(await accForm(1).locator('.payeeRow th').textContent(), '是否申请发薪报销功能：');
    await h.fillAccount(page, 3, fx.ACC_BASE);
    await accForm(2).locator('[name=isBaseAcc]').click();
    assert.deepEqual(f.dialogs.take(), ['基本账户只能有一个，请先修改前面的选择！']);
    assert.equal(await accForm(2).locator('[name=isBaseAcc]').isChecked(), false);

    // Renminbi means "001" in characters 16 to 18, not merely at the end of a shorter number.
    await accForm(2).locator('[name=account]').fill('80012345678823001');
    await accForm(2).locator('[name=isBaseAcc]').click();
    assert.deepEqual(f.dialogs.take(), ['基本账户只能为人民币账户，该账户不符合条件！']);
    assert.equal(await accForm(2).locator('[name=isBaseAcc]').isChecked(), false);
    await accForm(2).locator('[name=account]').fill(fx.ACC_BASE);

    // A number changed after the choice is caught when the tab is left.
    await accForm(1).locator('[name=account]').fill('800123456788025014');
    assert.deepEqual(await tryTab(f, 3, false), ['基本账户只能为人民币账户，该账户不符合条件！']);
    await accForm(1).locator('[name=account]').fill(fx.ACC_TRANS);

    // A later empty account: No keeps it, Yes drops it.
    await page.click('#addAccount');
    f.dialogs.answers.push(false);
    assert.deepEqual(await tryTab(f, 3, false), ['您尚未输入新增账户号码，您确定放弃该新增账户？']);
    assert.equal(await focused(page), 'account@3');
    f.dialogs.answers.push(true);
    assert.deepEqual(await tryTab(f, 3, true), ['您尚未输入新增账户号码，您确定放弃该新增账户？']);
    assert.equal(await page.locator('#accountForms form.accForm').count(), 3);
  } finally {
    await f.close();
  }
});

test('limits: every message, the bounds, whole yuan compared as numbers', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await fx.fillAll(page);
    assert.equal(await page.locator('#fLimitRow').isVisible(), true);
    assert.equal(await page.locator('#bLimitRow').isVisible(), true);
    const cases = [
      ['f', '', '200', '请输入发薪每笔最高金额', 'fMaxItemAmt'],
      ['f', '1O0', '200', '发薪每笔最高金额必须为数字', 'fMaxItemAmt'],
      ['f', '100', '', '请输入发薪每日最高金额', 'fMaxDayAmt'],
      ['f', '100', '2,000', '发薪每日最高金额必须为数字', 'fMaxDayAmt'],
      ['f', '1.2.3', '2000', '发薪每笔最高金额必须为数字', 'fMaxItemAmt'],
      ['f', '300', '200', '发薪每笔最高金额不可大于每日最高金额.', 'fMaxItemAmt'],
      ['f', '100000000001', '200000000000', '发薪每笔最高金额不可大于一千亿.', 'fMaxItemAmt'],
      ['f', '1', '500000000001', '发薪每日最高金额不可大于五千亿.', 'fMaxDayAmt'],
      ['b', '', '1', '请输入转账每笔最高金额', 'bMaxItemAmt'],
      ['b', 'x', '1', '转账每笔最高金额必须为数字', 'bMaxItemAmt'],
      ['b', '1', '', '请输入转账每日最高金额', 'bMaxDayAmt'],
      ['b', '1', '1e5', '转账每日最高金额必须为数字', 'bMaxDayAmt'],
      ['b', '201', '200.99', '转账每笔最高金额不可大于每日最高金额.', 'bMaxItemAmt'],
      ['b', '999999999999', '999999999999', '转账每笔最高金额不可大于一千亿.', 'bMaxItemAmt'],
      ['b', '2', '999999999999', '转账每日最高金额不可大于五千亿.', 'bMaxDayAmt'],
    ];
    for (const [kind, item, day, message, field] of cases) {
      await h.fillFields(page, { ...fx.LIMITS, [kind + 'MaxItemAmt']: item, [kind + 'MaxDayAmt']: day });
      assert.deepEqual(await tryTab(f, 5, false), [message], kind + ' ' + item + '/' + day);
      assert.equal(await focused(page), field);
      await h.tab(page, 4);
    }
    // The bounds themselves pass; amounts compare by their whole yuan, as numbers rather than as text.
    await h.fillFields(page, { fMaxItemAmt: '9', fMaxDayAmt: '10', bMaxItemAmt: '100000000000.50',
      bMaxDayAmt: '500000000000' });
    assert.deepEqual(await tryTab(f, 5, true), []);
    await h.tab(page, 4);
    await h.fillFields(page, { fMaxItemAmt: '1000.9', fMaxDayAmt: '1000', bMaxItemAmt: '.5', bMaxDayAmt: '0' });
    assert.deepEqual(await tryTab(f, 5, true), []);
    // Typed by a customer: a decimal amount is taken, and kept as typed.
    await h.tab(page, 4);
    await h.fillFields(page, { bMaxItemAmt: '', bMaxDayAmt: '' });
    await page.locator('#otherForm [name=bMaxItemAmt]').pressSequentially('2000.50');
    await page.locator('#otherForm [name=bMaxDayAmt]').pressSequentially('2000.5');
    assert.deepEqual(await tryTab(f, 5, true), []);
    assert.deepEqual(await page.evaluate(() => [baseInfo.bMaxItemAmt, baseInfo.bMaxDayAmt]), ['2000.50', '2000.5']);
  } finally {
    await f.close();
  }
});

test('limits are asked only with both 经办 and 授权 users, payroll limits only with a payroll account', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await fx.fillStep1(page);
    await h.tab(page, 2);
    await h.fillAccount(page, 1, fx.ACC_TRANS);
    await h.tab(page, 3);
    await h.tab(page, 4);
    assert.equal(await page.locator('#bLimitRow').isVisible(), true);
    assert.equal(await page.locator('#fLimitRow').isVisible(), false);
    await h.fillFields(page, { bMaxItemAmt: '5', bMaxDayAmt: '9' });

    // Without 经办 and 授权 the first transferable account's question comes up; no limits then.
    await h.tab(page, 3);
    await page.locator('td.cell[data-role=jb] .ui-icon-close').click();
    await page.locator('td.cell[data-role=sq] .ui-icon-close').click();
    f.dialogs.answers.push(false);
    assert.deepEqual(await tryTab(f, 4, false), ['您的账号' + fx.ACC_TRANS +
      '具有转账功能，但未设置“经办”及“授权”用户，将导致转账功能无法使用，确认不设置？']);
    assert.deepEqual(await tryTab(f, 4, true), ['您的账号' + fx.ACC_TRANS +
      '具有转账功能，但未设置“经办”及“授权”用户，将导致转账功能无法使用，确认不设置？']);
    assert.equal(await page.locator('#bLimitRow').isVisible(), false);
    assert.equal(await page.locator('#noLimitNote').isVisible(), true);
    assert.deepEqual(await page.evaluate(() => ['fMaxItemAmt', 'fMaxDayAmt', 'bMaxItemAmt', 'bMaxDayAmt']
      .map((n) => jQuery('#otherForm [name=' + n + ']').val())), ['', '', '', '']);
  } finally {
    await f.close();
  }
});

test('other information: each missing field has its message and its focus', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await fx.fillAll(page);
    await h.fillFields(page, { sealAcc: '', orgCertType: '其他证件' });
    const order = [
      ['business', '请选择行业类型.', '03.制造业'], ['orgCertType', '请选择证件类型', '其他证件'],
      ['orgCertName', '请输入证件名称', '事业单位法人证书'], ['orgCertNum', '请输入证件号.'],
      ['orgCode', '请输入组织机构代码.'], ['sealAcc', '请输入银行预留印鉴账号.'], ['represent', '请输入法定代表人.'],
      ['registerAddr', '请输入注册地址.'], ['contactAddr', '请输入通信地址.'], ['zipCode', '请输入邮政编码.'],
      ['orgPhone', '请输入单位电话.'], ['orgEmail', '请输入电子邮件地址.'], ['orgFax', '请输入单位传真.'],
      ['linkMan', '请输入经办联系人.'], ['linkPhone', '请输入联系人办公电话.'], ['linkMobile', '请输入联系人移动电话.'],
      ['linkFax', '请输入联系人传真.'],
    ];
    const empty = {};
    for (const [name] of order) {
      if (name !== 'orgCertType' && name !== 'business') {
        empty[name] = '　';
      }
    }
    await h.fillFields(page, empty);
    await page.locator('#otherForm [name=business]').selectOption('');
    await page.locator('#otherForm [name=orgCertType]').selectOption('');
    for (const [name, message, value] of order) {
      assert.deepEqual(await tryTab(f, 5, false), [message], name);
      assert.equal(await focused(page), name);
      await h.fillFields(page, { [name]: value || 'x' });
    }
    assert.deepEqual(await tryTab(f, 5, true), []);
    // With a business licence no certificate name is asked.
    await h.tab(page, 4);
    await h.fillFields(page, { orgCertType: '营业执照' });
    assert.equal(await page.locator('#otherForm [name=orgCertName]').inputValue(), '');
    assert.deepEqual(await tryTab(f, 5, true), []);
  } finally {
    await f.close();
  }
});

test('a check that fails on a field of another tab opens that tab with the focus on the field', async () => {
  const f = await h.openForm(browser);
  try {
    const { page } = f;
    await fx.fillStep1(page);
    await h.tab(page, 2);
    await h.fillAccount(page, 1, fx.ACC_BASE);
    // A mobile number spoilt behind the scenes (as saved data might hold it); jumping from tab 2 straight
    // to tab 5 stops at the user form of tab 1.
    await page.evaluate(() => { jQuery('#userForms [name=mobile]').eq(1).val('1390571000x'); });
    f.dialogs.take();
    await h.tab(page, 5);
    assert.deepEqual(f.dialogs.take(), ['手机号码必须全为数字！']);
    assert.equal(await h.activeTab(page), 1);
    assert.equal(await focused(page), 'mobile@1');
  } finally {
    await f.close();
  }
});
