/*
 * Both forms with the keyboard alone: a customer goes from the first field to 打印申请表, the rights grid
 * included, without a mouse event, and axe-core (WCAG 2.x A and AA) finds nothing serious or critical on any
 * step, nor with a failed check marked or the calendar open.
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

const press = async (page, keys) => { for (const key of keys) await page.keyboard.press(key); };
const focusIs = (page, selector) => page.evaluate((s) => document.activeElement === document.querySelector(s), selector);
const said = (page, text) => h.waitFor(async () => (await page.locator('#fwStatus').textContent()) === text);

// What each step holds: [container, its 增加 button or null, values of each form in it].
const DF_ACCOUNTS = [{ account: fx.ACC_USD }, { account: fx.ACC_TRANS },
  { account: fx.ACC_BASE, isBaseAcc: true, isPayeeAcc: '1' }];
const WALKS = {
  eb_df: { 1: [['#companyForm', null, [fx.COMPANY]], ['#userForms', '#addUser', fx.USERS]],
    2: [['#accountForms', '#addAccount', DF_ACCOUNTS]], 4: [['#otherForm', null, [{ ...fx.OTHER, ...fx.LIMITS }]]] },
  eb_ac: { 1: [['#companyForm', null, [ac.COMPANY]], ['#accountForms', '#addAccount', ac.ACCOUNTS]],
    2: [['#userForms', '#addUser', fx.USERS]],
    4: [['#otherForm', null, [ac.OTHER]], ['#relOrgForms', '#addRelOrg', ac.REL_ORGS], ['#limitForm', null, [fx.LIMITS]]] },
};

// What is tried on the way, after a step's fields: an added form removed again, a failed check, the calendar,
// and (eb_ac) a second 基本户, which the arrow keys pass on their way to 专用户 but which is refused once chosen.
const EXTRAS = {
  eb_df: { 1: async ({ page }) => {
    await h.tabTo(page, '#addUser');
    await press(page, ['Enter', 'Shift+Tab', 'Enter']);
    assert.equal(await focusIs(page, '#userForms form:nth-child(3) [name=userName]'), true);
    await said(page, '已删除用户4。');
  } },
  eb_ac: { before1: async (f) => {
    await h.tabTo(f.page, '#tab1 .nextStep');
    await f.page.keyboard.press('Enter');
    assert.deepEqual(f.dialogs.take(), ['请输入公司全称！']);
    const field = f.page.locator('#customerName');
    assert.equal(await focusIs(f.page, '#customerName'), true);
    assert.equal(await field.getAttribute('aria-invalid'), 'true');
    const first = (await field.getAttribute('aria-describedby')).split(' ')[0];
    assert.equal(await f.page.locator('#' + first).textContent(), '请输入公司全称！');
    assert.deepEqual(await h.axeFindings(f.page), [], 'failed check');
  }, 1: async (f) => {
    assert.equal(await f.page.locator('.fieldError').count(), 0);
    assert.deepEqual(f.dialogs.take(), []);
    const category = '#accountForms form:nth-child(4) [name=category]';
    await h.tabTo(f.page, category, true);
    await press(f.page, ['ArrowUp', 'Tab']);
    await h.waitFor(() => focusIs(f.page, category));
    assert.deepEqual(f.dialogs.take(), ['基本账户只能有一个，请先修改前面的选择！']);
    assert.deepEqual(await f.page.locator(category).evaluate((e) => [e.value, e.getAttribute('aria-invalid')]),
      ['一般户', 'true']);
    await h.keyFill(f.page, '#accountForms form:nth-child(4)', ac.ACCOUNTS[3]);
    assert.equal(await f.page.locator(category).getAttribute('aria-invalid'), null);
    await h.tabTo(f.page, '[name=orgCertEndDate]', true);
    assert.equal(await f.page.locator('#ui-datepicker-div').isVisible(), true);
    assert.deepEqual(await h.axeFindings(f.page), [], 'calendar');
  } },
};

for (const pkg of Object.keys(WALKS)) {
  test(pkg + ' with the keyboard alone: every step, the grid and print; axe-core finds nothing serious', async () => {
    const f = await h.openForm(browser, { pkg });
    const { page } = f;
    try {
      assert.equal(await focusIs(page, '#customerName'), true);
      await page.evaluate(() => { window.print = () => { window.printed = true; }; });
      for (let step = 1; step <= 5; step++) {
        if (step > 1) {
          // 下一步 opens the step and puts the focus on its heading.
          await h.tabTo(page, '#tab' + (step - 1) + ' .nextStep[data-to="' + (step - 1) + '"]');
          await page.keyboard.press('Enter');
          assert.deepEqual([await h.activeTab(page), f.dialogs.take()], [step, []]);
          assert.equal(await focusIs(page, '#tab' + step + ' > .stepHead'), true);
        }
        assert.deepEqual(await h.axeFindings(page), [], 'step ' + step);
        await (EXTRAS[pkg]['before' + step] || (async () => {}))(f);
        for (const [scope, add, list] of WALKS[pkg][step] || []) {
          for (let i = 0; i < list.length; i++) {
            if (i > 0) {
              await h.tabTo(page, add);
              await page.keyboard.press('Enter');
            }
            await h.keyFill(page, add ? scope + ' > form:nth-child(' + (i + 1) + ')' : scope, list[i]);
          }
        }
        await (EXTRAS[pkg][step] || (async () => {}))(f);
        if (step === 3) {
          // The finance manager, second in the user list, becomes the 复核 of the transferable accounts.
          await press(page, ['Tab', 'ArrowDown', 'Enter', 'Tab', 'ArrowRight', 'ArrowRight', 'Enter', 'Escape']);
          assert.deepEqual(await h.cellUsers(page, 0, 'fh'), [3]);
        }
      }
      await h.tabTo(page, '#printBtn');
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => window.printed === true);
      assert.deepEqual([f.dialogs.take(), f.errors], [['确定打印吗？'], []]);
    } finally {
      await f.close();
    }
  });
}
