/*
 * Both forms with the keyboard alone and with a screen reader's eyes: a keyboard-only customer goes from the
 * first field to 打印申请表, the rights grid included, without a mouse event, and axe-core (WCAG 2.x A and AA)
 * finds nothing serious or critical on any step, with a failed check marked or the calendar open.
 */
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');
const fx = require('./fixture');
const ac = require('./fixture_ac');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

async function focused(page) {
  return page.evaluate(() => {
    const el = document.activeElement;
    return { name: el.getAttribute('name'), text: el.textContent, className: el.className, id: el.id };
  });
}

// Opens the next step with its 下一步 button, as a keyboard user does; the step's heading then has the focus
// and nothing on it is serious or critical for axe-core.
async function nextStep(f, to) {
  await h.tabTo(f.page, '#tab' + (to - 1) + ' .nextStep[data-to="' + (to - 1) + '"]');
  await f.page.keyboard.press('Enter');
  assert.equal(await h.activeTab(f.page), to, f.dialogs.messages().join(' / '));
  const at = await focused(f.page);
  assert.match(at.className, /stepHead/);
  assert.equal(at.text, await f.page.locator('#tabs > ul > li').nth(to - 1).textContent());
  assert.deepEqual(await h.axeFindings(f.page), [], 'step ' + to);
}

// 下一步 on the empty first step: the message, and the name field marked, with the message beside it.
async function nextStepFails(f) {
  await h.tabTo(f.page, '#tab1 .nextStep');
  await f.page.keyboard.press('Enter');
  assert.deepEqual(f.dialogs.take(), ['请输入公司全称！']);
  assert.equal((await focused(f.page)).id, 'customerName');
  const field = f.page.locator('#customerName');
  assert.equal(await field.getAttribute('aria-invalid'), 'true');
  const said = await field.getAttribute('aria-describedby');
  assert.equal(await f.page.locator('#' + said.split(' ')[0]).textContent(), '请输入公司全称！');
  assert.deepEqual(await h.axeFindings(f.page), [], 'failed check');
}

// Step 3 with keys alone: the finance manager (userId 3, second in the user list) picked and placed as the
// 复核 of the transferable accounts (the merged role cells of the first row).
async function reviewerByKeyboard(f) {
  for (const key of ['Tab', 'ArrowDown', 'Enter', 'Tab', 'ArrowRight', 'ArrowRight', 'Enter', 'Escape']) {
    await f.page.keyboard.press(key);
  }
  assert.deepEqual(await h.cellUsers(f.page, 0, 'fh'), [3]);
  assert.deepEqual(f.dialogs.take(), []);
}

// From 打印申请表 to the printed form, with the QR picture of this print shown.
async function printByKeyboard(f) {
  await f.page.evaluate(() => {
    window.__printed = 0;
    window.print = () => { window.__printed += 1; };
  });
  await h.tabTo(f.page, '#printBtn');
  await f.page.keyboard.press('Enter');
  await f.page.waitForFunction(() => window.__printed === 1);
  assert.deepEqual(f.dialogs.take(), ['确定打印吗？']);
}

test('eb_df with the keyboard alone: every step, the rights grid, print; axe-core clean on every step', async () => {
  const f = await h.openForm(browser);
  try {
    const page = f.page;
    assert.equal((await focused(page)).id, 'customerName');
    assert.deepEqual(await h.axeFindings(page), [], 'step 1');
    await h.keyFill(page, '#companyForm', fx.COMPANY);
    for (let i = 0; i < fx.USERS.length; i++) {
      if (i > 0) {
        await h.tabTo(page, '#addUser');
        await page.keyboard.press('Enter');
      }
      await h.keyFill(page, '#userForms form:nth-child(' + (i + 1) + ')', fx.USERS[i]);
    }
    // A fourth user, added and removed again: the focus goes back to the third user's first field.
    await h.tabTo(page, '#addUser');
    await page.keyboard.press('Enter');
    await page.keyboard.press('Shift+Tab');
    await page.keyboard.press('Enter');
    assert.equal(await page.locator('#userForms form').count(), 3);
    assert.equal(await page.evaluate(() => document.activeElement === document.querySelector(
      '#userForms form:nth-child(3) [name=userName]')), true);
    await h.waitFor(async () => (await page.locator('#fwStatus').textContent()) === '已删除用户4。');
    await nextStep(f, 2);
    const accounts = [{ account: fx.ACC_USD }, { account: fx.ACC_TRANS },
      { account: fx.ACC_BASE, isBaseAcc: true, isPayeeAcc: '1' }];
    for (let i = 0; i < accounts.length; i++) {
      if (i > 0) {
        await h.tabTo(page, '#addAccount');
        await page.keyboard.press('Enter');
      }
      await h.keyFill(page, '#accountForms form:nth-child(' + (i + 1) + ')', accounts[i]);
    }
    await nextStep(f, 3);
    await reviewerByKeyboard(f);
    await nextStep(f, 4);
    await h.keyFill(page, '#otherForm', { ...fx.OTHER, ...fx.LIMITS });
    await nextStep(f, 5);
    await printByKeyboard(f);
    assert.deepEqual(f.errors, []);
  } finally {
    await f.close();
  }
});

test('eb_ac with the keyboard alone: a failed check marked, the calendar, every category reached, print', async () => {
  const f = await ac.open(browser);
  try {
    const page = f.page;
    // 下一步 on an empty form: the message box, and the name field marked with the message beside it.
    await nextStepFails(f);
    await h.keyFill(page, '#companyForm', ac.COMPANY);
    assert.equal(await page.locator('#customerName').getAttribute('aria-invalid'), null);
    assert.equal(await page.locator('.fieldError').count(), 0);
    // The focus is in the second date field: its calendar is open.
    assert.equal(await page.locator('#ui-datepicker-div').isVisible(), true);
    assert.deepEqual(await h.axeFindings(page), [], 'calendar');
    // The fourth account passes 基本户, which the third already is, on its way to 专用户: no message.
    for (let i = 0; i < ac.ACCOUNTS.length; i++) {
      if (i > 0) {
        await h.tabTo(page, '#addAccount');
        await page.keyboard.press('Enter');
      }
      await h.keyFill(page, '#accountForms form:nth-child(' + (i + 1) + ')', ac.ACCOUNTS[i]);
    }
    assert.deepEqual(f.dialogs.take(), []);
    // Settling on a second 基本户 is refused once the list is left, and the list keeps the focus.
    await page.keyboard.press('Shift+Tab');
    await h.tabTo(page, '#accountForms form:nth-child(4) [name=category]', true);
    await page.keyboard.press('ArrowUp');
    await page.keyboard.press('Tab');
    await h.waitFor(async () => (await focused(page)).name === 'category');
    assert.deepEqual(f.dialogs.take(), ['基本账户只能有一个，请先修改前面的选择！']);
    const category = page.locator('#accountForms form:nth-child(4) [name=category]');
    assert.equal(await category.inputValue(), '一般户');
    assert.equal(await category.getAttribute('aria-invalid'), 'true');
    await h.keyFill(page, '#accountForms form:nth-child(4)', ac.ACCOUNTS[3]);
    assert.equal(await category.getAttribute('aria-invalid'), null);
    await nextStep(f, 2);
    for (let i = 0; i < fx.USERS.length; i++) {
      if (i > 0) {
        await h.tabTo(page, '#addUser');
        await page.keyboard.press('Enter');
      }
      await h.keyFill(page, '#userForms form:nth-child(' + (i + 1) + ')', fx.USERS[i]);
    }
    await nextStep(f, 3);
    await reviewerByKeyboard(f);
    await nextStep(f, 4);
    await h.keyFill(page, '#otherForm', ac.OTHER);
    for (let i = 0; i < ac.REL_ORGS.length; i++) {
      if (i > 0) {
        await h.tabTo(page, '#addRelOrg');
        await page.keyboard.press('Enter');
      }
      await h.keyFill(page, '#relOrgForms form:nth-child(' + (i + 1) + ')', ac.REL_ORGS[i]);
    }
    await h.keyFill(page, '#limitForm', fx.LIMITS);
    await nextStep(f, 5);
    await printByKeyboard(f);
    assert.deepEqual(f.errors, []);
  } finally {
    await f.close();
  }
});
