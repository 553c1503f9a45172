'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

// Entered in this order (userIds 1, 2, 3); sorted by level they come as 乙, 丙, 甲.
const PEOPLE = [
  { userName: '甲', title: '企业负责人', certType: '护照', certNum: 'P1', officePhone: '1', mobile: '13800000001' },
  { userName: '乙', title: '财务部门经办人员(会计、出纳)', certType: '护照', certNum: 'P2', officePhone: '2',
    mobile: '13800000002' },
  { userName: '丙', title: '财务部门负责人', certType: '护照', certNum: 'P3', officePhone: '3', mobile: '13800000003' },
];
const ACC_OTHER_CODE = '800123456781234001'; // renminbi, but not an accounting code that transfers

// Fills users and accounts ([number, base, payroll]) and opens the grid.
async function toGrid(f, userCount, accounts) {
  await h.fillFields(f.page, fx.COMPANY);
  for (let i = 0; i < userCount; i++) {
    await h.fillUser(f.page, i + 1, PEOPLE[i]);
  }
  await h.tab(f.page, 2);
  for (let i = 0; i < accounts.length; i++) {
    await h.fillAccount(f.page, i + 1, ...accounts[i]);
  }
  await h.tab(f.page, 3);
  assert.equal(await h.activeTab(f.page), 3, f.dialogs.messages().join(' / '));
  f.dialogs.take();
}

async function headers(page) {
  return page.locator('table.rightsGrid thead th').allTextContents();
}

async function labels(page) {
  return page.locator('table.rightsGrid tbody td.accCol').allTextContents();
}

test('one user: only the query column, which the user fills', async () => {
  const f = await h.openForm(browser);
  try {
    await toGrid(f, 1, [[fx.ACC_BASE, true, true], [fx.ACC_USD]]);
    assert.deepEqual(await headers(f.page), ['账号', '查询']);
    assert.equal(await f.page.locator('table.rightsGrid td.cell').count(), 2);
    assert.deepEqual(await h.cellUsers(f.page, 0, 'query'), [1]);
    assert.deepEqual(await h.cellUsers(f.page, 1, 'query'), [1]);
    await h.tab(f.page, 4);
    assert.equal(await h.activeTab(f.page), 4);
    assert.equal(await f.page.locator('#bLimitRow').isVisible(), false);
    assert.deepEqual(f.dialogs.take(), []);
  } finally {
    await f.close();
  }
});

test('two users: no 复核 column; the heading names payroll only with a payroll basic account', async () => {
  const f = await h.openForm(browser);
  try {
    await toGrid(f, 2, [[fx.ACC_BASE, true, true], [fx.ACC_TRANS]]);
    assert.deepEqual(await headers(f.page), ['账号', '查询', '转账/发薪/报销', '经办', '授权']);
    // The two transferable accounts share one merged set of role cells; the first sorted user (乙, a clerk)
    // initiates and the last (甲) authorises.
    assert.equal(await f.page.locator('td.cell[data-row="0"][data-role="jb"]').getAttribute('rowspan'), '2');
    assert.equal(await f.page.locator('td.cell[data-row="1"][data-role="jb"]').count(), 0);
    assert.deepEqual(await h.cellUsers(f.page, 0, 'jb'), [2]);
    assert.deepEqual(await h.cellUsers(f.page, 0, 'sq'), [1]);
    assert.deepEqual(await h.cellUsers(f.page, 1, 'query'), [2, 1]);

    await h.tab(f.page, 2);
    await f.page.locator('#accountForms [name=isPayeeAcc]').first().selectOption('0');
    await h.tab(f.page, 3);
    assert.deepEqual(await headers(f.page), ['账号', '查询', '转账', '经办', '授权']);
  } finally {
    await f.close();
  }
});

test('three users: merged role cells, greyed cells, drops refused and accepted, and the grid check', async () => {
  const f = await h.openForm(browser);
  try {
    const { page, dialogs } = f;
    await toGrid(f, 3, [[fx.ACC_USD], [fx.ACC_TRANS], [fx.ACC_BASE, true]]);
    assert.deepEqual(await headers(page), ['账号', '查询', '转账', '经办', '复核', '授权']);
    assert.deepEqual(await labels(page), [fx.ACC_BASE + '(基本户,人民币)', fx.ACC_TRANS + '(一般户,人民币)',
      fx.ACC_USD + '(一般户,美元)']);
    assert.equal(await page.locator('td.cell.cellOff').count(), 3);
    assert.equal(await page.locator('td.cell[data-row="2"].cellOff').count(), 3);
    assert.equal(await page.locator('td.cell[data-row="0"][data-role="fh"]').getAttribute('rowspan'), '2');
    for (const row of [0, 1, 2]) {
      assert.deepEqual(await h.cellUsers(page, row, 'query'), [2, 3, 1]);
    }
    assert.deepEqual([await h.cellUsers(page, 0, 'jb'), await h.cellUsers(page, 0, 'fh'),
      await h.cellUsers(page, 0, 'sq')], [[2], [], [1]]);

    // Refused drops, each with its reason; a greyed cell takes nobody.
    await h.dragUser(page, 2, 0, 'query');
    await h.dragUser(page, 2, 0, 'sq');
    await h.dragUser(page, 1, 0, 'fh');
    await h.dragUser(page, 3, 2, 'jb');
    assert.deepEqual(dialogs.take(), ['该用户已存在。', '转账/发薪/报销业务中，一位用户只允许有一种操作功能。',
      '转账/发薪/报销业务中，一位用户只允许有一种操作功能。']);
    assert.deepEqual(await h.cellUsers(page, 0, 'sq'), [1]);
    assert.deepEqual(await h.cellUsers(page, 2, 'jb'), []);
    await h.dragUser(page, 3, 0, 'fh');
    assert.deepEqual(await h.cellUsers(page, 0, 'fh'), [3]);
    assert.deepEqual(dialogs.take(), []);

    const remove = (row, role, uid) => page.locator('td.cell[data-row="' + row + '"][data-role="' + role +
      '"] .gridUser[data-uid="' + uid + '"] .ui-icon-close').click();
    const tryTab4 = async (answers = []) => {
      dialogs.answers.push(...answers);
      await h.tab(page, 4);
      const opened = (await h.activeTab(page)) === 4;
      if (opened) {
        await h.tab(page, 3);
      }
      return [opened, dialogs.take()];
    };

    await remove(0, 'sq', 1);
    assert.deepEqual(await tryTab4(), [false, ['请设置“授权”用户！']]);
    await h.dragUser(page, 1, 0, 'sq');
    await remove(0, 'jb', 2);
    assert.deepEqual(await tryTab4(), [false, ['请设置“经办”用户！']]);
    await h.dragUser(page, 2, 0, 'jb');

    // Two authorisers: the question sets how many must act together. The merged cell is asked about once.
    await remove(0, 'fh', 3);
    await h.dragUser(page, 3, 0, 'sq');
    const question = '您选择的授权人有2位，如需他们“共同授权”才可提交转账/发薪/报销业务请选择“确定”，如只需“其中一人授权”请选择“取消”';
    assert.deepEqual(await tryTab4([true]), [true, [question]]);
    assert.equal(await page.evaluate(() => checkNum), 2);
    assert.deepEqual(await tryTab4([false]), [true, [question]]);
    assert.equal(await page.evaluate(() => checkNum), 1);

    // An account without any user, then a user without any function.
    for (const uid of [2, 3, 1]) {
      await remove(2, 'query', uid);
    }
    assert.deepEqual(await tryTab4([false]), [false, [question, '请为账户' + fx.ACC_USD + '设置操作用户！']]);
    await h.dragUser(page, 1, 2, 'query');
    await remove(0, 'sq', 3);
    await remove(0, 'query', 3);
    await remove(1, 'query', 3);
    assert.deepEqual(await tryTab4(), [false, ['请为用户“丙”设置功能！']]);
    await h.dragUser(page, 3, 1, 'query');
    assert.deepEqual(await tryTab4(), [true, []]);

    // Leaving the grid and coming back without changes keeps it; changing an account rebuilds it.
    await h.tab(page, 2);
    await h.tab(page, 3);
    assert.deepEqual(await h.cellUsers(page, 1, 'query'), [2, 1, 3]);
    await h.tab(page, 2);
    await page.locator('#accountForms [name=account]').nth(0).fill('800123456788027014');
    await h.tab(page, 3);
    assert.deepEqual(await h.cellUsers(page, 1, 'query'), [2, 3, 1]);
    assert.deepEqual(f.errors, []);
  } finally {
    await f.close();
  }
});

test('keyboard only: pick, place, refusals, moves past greyed and merged cells, 移除 and Escape', async () => {
  const f = await h.openForm(browser);
  try {
    const { page, dialogs } = f;
    await toGrid(f, 3, [[fx.ACC_USD], [fx.ACC_TRANS], [fx.ACC_BASE, true]]);
    const said = await h.statusTexts(page);
    // What has the focus: a cell by its description and users, a 移除 link by its label, a user of the list by
    // name and pressed state.
    const focused = () => page.evaluate(() => {
      const el = document.activeElement;
      const desc = document.getElementById(el.getAttribute('aria-describedby'));
      return desc ? desc.textContent + '：' + [...el.children].map((u) => u.firstChild.nodeValue).join('、')
        : el.getAttribute('aria-label') || el.firstChild.nodeValue + ' ' + el.getAttribute('aria-pressed');
    });
    const T = '账户' + fx.ACC_BASE + '、账户' + fx.ACC_TRANS; // the merged role cells
    const U = '账户' + fx.ACC_USD; // the row whose role cells are greyed
    const cells = { query2: [2, 0, 'query'], jb: [0, 0, 'jb'], fh: [0, 0, 'fh'] };
    assert.deepEqual(await h.axeFindings(page, '#tab3'), []);
    await page.locator('.gridPick').first().focus();
    // [keys, focus afterwards, announcement or alert, expected cells, axe check]
    const steps = [
      [['ArrowDown', 'Enter'], '丙 true', '已选中丙，请用方向键选择单元格，按回车键放入。', {}, true],
      [['Tab'], '查询，账户' + fx.ACC_BASE + '：乙、丙、甲'],
      [['ArrowRight', 'ArrowRight', 'Enter'], '复核，' + T + '：丙', '已将丙设为' + T + '的复核。', { fh: [3] }],
      [['Enter'], '复核，' + T + '：丙', { alert: '该用户已存在。' }, { fh: [3] }],
      [['ArrowLeft', 'Space'], '经办，' + T + '：乙', { alert: '转账/发薪/报销业务中，一位用户只允许有一种操作功能。' },
        { jb: [2] }],
      // From the second row into the merged cell; Up and Down find no other stop in its column.
      [['ArrowLeft', 'ArrowDown', 'ArrowRight', 'ArrowDown', 'ArrowUp'], '经办，' + T + '：乙'],
      [['ArrowLeft', 'ArrowDown', 'ArrowRight', 'ArrowRight'], '查询，' + U + '：乙、丙、甲'],
      [['Tab', 'Enter'], '移除 丙（查询，' + U + '）', '已将乙从' + U + '的查询中移除。', { query2: [3, 1] }],
      [['Tab', 'Enter'], '移除 丙（查询，' + U + '）', '已将甲从' + U + '的查询中移除。', { query2: [3] }],
      [['Enter'], '查询，' + U + '：', '已将丙从' + U + '的查询中移除。', { query2: [] }],
      [['Enter'], '查询，' + U + '：丙', '已允许丙查询' + U + '。', { query2: [3] }],
      [['Escape'], '查询，' + U + '：丙', '已取消选中丙。'],
      [['Enter'], '查询，' + U + '：丙', '请先在用户列表中选中一位用户。', { query2: [3] }, true],
      [['Shift+Tab'], '丙 false'],
    ];
    for (const [keys, focus, result, expected = {}, axe] of steps) {
      const [step, before] = [keys.join(' '), said.length];
      for (const key of keys) {
        await page.keyboard.press(key); // the keyboard only, never the mouse
      }
      if (typeof result === 'string') {
        await h.waitFor(() => said.length > before && said[said.length - 1] === result);
      } else if (result) {
        await h.waitFor(() => dialogs.seen.length > 0);
        assert.deepEqual(dialogs.take(), [result.alert], step);
      }
      assert.equal(await focused(), focus, step);
      for (const [name, ids] of Object.entries(expected)) {
        assert.deepEqual(await h.cellUsers(page, cells[name][0], cells[name][2]), ids, step + ': ' + name);
      }
      if (axe) {
        assert.deepEqual(await h.axeFindings(page, '#tab3'), [], step);
      }
    }
    assert.deepEqual([dialogs.take(), f.errors], [[], []]);
  } finally {
    await f.close();
  }
});

test('transferable accounts: renminbi with a transfer code; a basic account that cannot transfer stays greyed',
  async () => {
    const f = await h.openForm(browser);
    try {
      const { page } = f;
      await toGrid(f, 2, [[fx.ACC_TRANS], [ACC_OTHER_CODE, true], ['800123456788098001'], [fx.ACC_USD]]);
      assert.deepEqual(await labels(page), [ACC_OTHER_CODE + '(基本户,人民币)', fx.ACC_TRANS + '(一般户,人民币)',
        '800123456788098001(一般户,人民币)', fx.ACC_USD + '(一般户,美元)']);
      // The merged role cells stand on the first transferable row (the second row) and span two rows.
      assert.equal(await page.locator('td.cell[data-row="0"].cellOff').count(), 2);
      assert.equal(await page.locator('td.cell[data-row="1"][data-role="sq"]').getAttribute('rowspan'), '2');
      assert.equal(await page.locator('td.cell[data-row="3"].cellOff').count(), 2);

      await h.tab(page, 4);
      await h.fillFields(page, fx.OTHER);
      await h.fillFields(page, { bMaxItemAmt: '10', bMaxDayAmt: '20' });
      await h.tab(page, 5);
      assert.equal(await h.activeTab(page), 5, f.dialogs.messages().join(' / '));
      const roles = { jb: [2], fh: [], sq: [1] };
      const none = { jb: [], fh: [], sq: [] };
      assert.deepEqual(await page.evaluate(() => mappings), [
        { query: [2, 1], trans: none }, { query: [2, 1], trans: roles }, { query: [2, 1], trans: roles },
        { query: [2, 1], trans: none }]);
      assert.deepEqual(await page.evaluate(() => accounts.map((a) => a.isTransAble)), [0, 1, 1, 0]);
    } finally {
      await f.close();
    }
  });

test('currency names follow the last three digits of the account number', async () => {
  const f = await h.openForm(browser);
  try {
    const names = [['001', '人民币'], ['012', '英镑'], ['013', '港币'], ['014', '美元'], ['015', '瑞士法郎'],
      ['018', '新加坡元'], ['021', '瑞典克郎'], ['022', '丹麦克郎'], ['023', '挪威克郎'], ['027', '日元'],
      ['028', '加拿大元'], ['029', '澳大利亚元'], ['038', '欧元'], ['081', '澳元'], ['084', '泰国株'], ['088', '韩元'],
      ['095', '清算瑞士法郎'], ['999', '卢布'], ['002', '未知']];
    // The renminbi account transfers and so would come first; it is entered last to show that.
    const entered = [...names.slice(1), names[0]];
    await toGrid(f, 1, entered.map(([tail]) => ['800123456788023' + tail]));
    assert.deepEqual(await labels(f.page),
      [names[0], ...names.slice(1)].map(([tail, name]) => '800123456788023' + tail + '(一般户,' + name + ')'));
  } finally {
    await f.close();
  }
});

test('with 40 users and 40 accounts the user list stays beside the rows the customer drags into', async () => {
  const titles = ['财务部门经办人员(会计、出纳)', '财务部门负责人', '企业负责人'];
  const users = [];
  const accounts = [];
  for (let i = 0; i < 40; i++) {
    users.push({ userName: '用户' + (i + 1), gender: '男', title: titles[i % 3], certType: '护照', certName: '',
      certNum: 'P' + (1000 + i), mobile: String(13900000000 + i), email: '', officePhone: '0571-' + i,
      level: (i % 3) + 1, userId: i + 1 });
    accounts.push({ account: '8' + String(i).padStart(10, '0') + (i % 2 ? '8023' : '1234') + '001', isBaseAcc: 0,
      isPayeeAcc: 0, isTransAble: 0 });
  }
  const saved = encodeURIComponent(JSON.stringify({ users, accounts, baseInfo: { customerName: '大型企业有限公司' } }));
  const f = await h.openForm(browser, { saved });
  try {
    const { page } = f;
    await page.setViewportSize({ width: 1000, height: 700 });
    await h.tab(page, 3);
    assert.equal(await h.activeTab(page), 3, f.dialogs.messages().join(' / '));
    const height = await page.locator('#grid').evaluate((e) => e.offsetHeight);
    assert.ok(height > 10000, 'the grid is ' + height + ' px tall');

    // Scrolled down to the last row, the list is still on the screen, and a user dragged from it lands.
    const last = page.locator('td.cell[data-row="39"][data-role="query"]');
    await page.locator('td.cell[data-row="39"][data-role="query"] .gridUser[data-uid="1"] .ui-icon-close').click();
    await last.scrollIntoViewIfNeeded();
    await page.waitForFunction(() => {
      const box = document.querySelector('.gridUserBox').getBoundingClientRect();
      return box.top >= 0 && box.bottom <= window.innerHeight;
    }, null, { timeout: 2000 });
    await h.dragUser(page, 1, 39, 'query');
    assert.ok((await h.cellUsers(page, 39, 'query')).includes(1));
    // The list of 40 users scrolls within its box, which fits the window.
    assert.ok(await page.locator('ul.gridUsers').evaluate((e) => e.scrollHeight > e.clientHeight));
    // Back at the top, the list returns to its place beside the first rows.
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.waitForFunction(() => document.querySelector('.gridUserBox').style.top === '0px');
    assert.deepEqual(f.errors, []);
  } finally {
    await f.close();
  }
});
