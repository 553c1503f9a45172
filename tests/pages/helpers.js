/*
 * Shared pieces of the page tests: Debian's Chromium through playwright-core, the host stand-in, a recorder of
 * alert and confirm boxes, form filling and dragging as a user does it, and the marks computed here, apart
 * from the page's own code.
 */
'use strict';

const crypto = require('crypto');
const os = require('os');
const path = require('path');
const { createRequire } = require('module');
const { Host, waitFor } = require('./host');

const formsRequire = createRequire(path.join(__dirname, '..', '..', 'forms', 'package.json'));
const { chromium } = formsRequire('playwright-core');

const PACKAGES = process.env.FW_PACKAGES || path.join(os.tmpdir(), 'fw-pages-packages');

async function launch() {
  return chromium.launch({
    executablePath: process.env.FW_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// Every alert and confirm with its text; confirms are answered from a queue of answers, Yes by default.
class Dialogs {
  constructor(page) {
    this.seen = [];
    this.answers = [];
    page.on('dialog', async (dialog) => {
      this.seen.push({ type: dialog.type(), message: dialog.message() });
      if (dialog.type() === 'confirm') {
        const yes = this.answers.length ? this.answers.shift() : true;
        await (yes ? dialog.accept() : dialog.dismiss());
      } else {
        await dialog.accept();
      }
    });
  }

  messages() {
    return this.seen.map((d) => d.message);
  }

  take() {
    const list = this.messages();
    this.seen = [];
    return list;
  }
}

// A browser context with the host stand-in and a package's page (eb_df unless options.pkg names another) open
// on a fresh start, or on saved text.
async function openForm(browser, options = {}) {
  const host = await new Host(path.join(PACKAGES, options.pkg || 'eb_df')).start();
  if (options.saved) {
    host.saved = options.saved;
  }
  const context = await browser.newContext({ locale: 'zh-CN', timezoneId: 'Asia/Shanghai',
    viewport: { width: 1000, height: 900 } });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  if (options.clock) {
    await page.clock.setFixedTime(options.clock);
  }
  const dialogs = new Dialogs(page);
  await host.open(page);
  return {
    host, context, page, dialogs, errors,
    async close() {
      await context.close();
      await host.stop();
    },
  };
}

async function tab(page, n) {
  await page.click('#tabs > ul > li:nth-child(' + n + ') a');
}

async function activeTab(page) {
  return page.evaluate(() => jQuery('#tabs').tabs('option', 'active') + 1);
}

// Fills the n-th user form (1-based), adding it first when it does not exist yet.
async function fillUser(page, n, user) {
  if ((await page.locator('#userForms form.userForm').count()) < n) {
    await page.click('#addUser');
  }
  const form = page.locator('#userForms form.userForm').nth(n - 1);
  for (const [name, value] of Object.entries(user)) {
    const field = form.locator('[name=' + name + ']');
    if ((await field.evaluate((el) => el.tagName)) === 'SELECT') {
      await field.selectOption(value);
    } else {
      await field.fill(value);
    }
  }
}

async function fillAccount(page, n, account, base = false, payroll = false) {
  if ((await page.locator('#accountForms form.accForm').count()) < n) {
    await page.click('#addAccount');
  }
  const form = page.locator('#accountForms form.accForm').nth(n - 1);
  await form.locator('[name=account]').fill(account);
  if (base) {
    await form.locator('[name=isBaseAcc]').check();
  }
  if (payroll) {
    await form.locator('[name=isPayeeAcc]').selectOption('1');
  }
}

// Fills fields of the page's own forms: text, choice lists, yes/no radio buttons and date fields (whose
// picker is closed again with Escape, as a user would, so that it covers nothing).
async function fillFields(page, values) {
  for (const [name, value] of Object.entries(values)) {
    const selector = '#screenArea form:not(.userForm):not(.accForm):not(.relOrgForm) [name=' + name + ']';
    const field = page.locator(selector);
    if ((await field.count()) > 1) {
      await page.locator(selector + '[value="' + value + '"]').check();
    } else if ((await field.evaluate((el) => el.tagName)) === 'SELECT') {
      await field.selectOption(value);
    } else {
      await field.fill(value);
      if (await field.evaluate((el) => el.classList.contains('hasDatepicker'))) {
        await field.press('Escape');
      }
    }
  }
}

// Drags the user with the given userId from the user list into a grid cell, with the mouse.
async function dragUser(page, userId, row, role) {
  const source = page.locator('ul.gridUsers li.gridSource[data-uid="' + userId + '"]');
  const target = page.locator('td.cell[data-row="' + row + '"][data-role="' + role + '"]');
  const a = await source.boundingBox();
  const b = await target.boundingBox();
  await page.mouse.move(a.x + a.width / 2, a.y + a.height / 2);
  await page.mouse.down();
  await page.mouse.move(a.x + a.width / 2 + 10, a.y + a.height / 2 + 10, { steps: 3 });
  await page.mouse.move(b.x + b.width / 2, b.y + b.height / 2, { steps: 8 });
  await page.mouse.up();
  // A refused or missed drop floats back to the list first.
  await page.waitForFunction(() => !document.querySelector('.ui-draggable-dragging'));
}

// Keyboard only: Tab (or Shift+Tab) until the focus is on an element that the selector matches.
async function tabTo(page, selector, back = false) {
  for (let i = 0; i < 150; i++) {
    if (await page.evaluate((s) => document.activeElement.matches(s), selector)) {
      return;
    }
    await page.keyboard.press(back ? 'Shift+Tab' : 'Tab');
  }
  throw new Error('the keyboard never reached ' + selector);
}

/*
 * Keyboard only: fills the named fields inside `scope` in page order, reaching each with Tab: text is typed
 * over what the field holds, a choice list or a group of radio buttons moves with the arrow keys, a check box
 * (value true) takes Space. Fields that already hold their value are passed by.
 */
async function keyFill(page, scope, values) {
  const names = await page.evaluate(([sc, list]) => {
    const at = (n) => document.querySelector(sc + ' [name=' + n + ']');
    return list.filter(at).sort((a, b) => (at(a).compareDocumentPosition(at(b)) & 4 ? -1 : 1));
  }, [scope, Object.keys(values)]);
  for (const name of names) {
    const selector = scope + ' [name=' + name + ']', want = values[name];
    // The value as text (true/false for a check box) and the choices, as the keys move through them.
    const state = () => page.evaluate((s) => {
      const els = Array.from(document.querySelectorAll(s)), el = els[0];
      const choices = el.options ? Array.from(el.options) : els;
      const at = el.options ? el.selectedIndex : els.findIndex((e) => e.checked);
      return { type: el.type, choices: choices.map((o) => o.value), at,
        value: el.type === 'checkbox' ? el.checked : el.type === 'radio' ? (els[at] || {}).value : el.value };
    }, selector);
    const now = await state();
    if (want === '' || now.value === want) {
      continue;
    }
    await tabTo(page, selector);
    if (now.type === 'checkbox') {
      await page.keyboard.press('Space');
    } else if (now.type === 'text') {
      await page.keyboard.press('Control+A');
      await page.keyboard.type(want);
    }
    const steps = now.type === 'text' ? 0 : now.choices.indexOf(want) - now.at;
    for (let i = 0; i < Math.abs(steps) && now.type !== 'checkbox'; i++) {
      await page.keyboard.press(steps > 0 ? 'ArrowDown' : 'ArrowUp');
    }
    const after = (await state()).value;
    if (after !== want) {
      throw new Error(selector + ' holds ' + after + ' after the keys for ' + want);
    }
  }
}

// The userIds shown in a grid cell.
async function cellUsers(page, row, role) {
  return page.locator('td.cell[data-row="' + row + '"][data-role="' + role + '"] .gridUser')
    .evaluateAll((els) => els.map((el) => Number(el.getAttribute('data-uid'))));
}

// Every text the page says through its status region, in order, as it is said.
async function statusTexts(page) {
  const said = [];
  await page.exposeFunction('fwSaid', (text) => said.push(text));
  await page.evaluate(() => {
    const live = document.querySelector('#fwStatus');
    new MutationObserver(() => live.textContent && window.fwSaid(live.textContent))
      .observe(live, { childList: true, characterData: true, subtree: true });
  });
  return said;
}

// axe-core's serious and critical findings ("rule: elements") in an element (the whole page unless named),
// against WCAG 2.x A and AA.
async function axeFindings(page, selector = 'html') {
  if (!(await page.evaluate(() => typeof window.axe !== 'undefined'))) {
    await page.addScriptTag({ path: formsRequire.resolve('axe-core/axe.min.js') });
  }
  // A calendar that fades in or out would be judged half transparent.
  await page.waitForFunction(() => window.jQuery(':animated').length === 0);
  return page.evaluate((sel) => window.axe.run(document.querySelector(sel),
    { runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa'] } }).then((r) => r.violations
    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).join(', '))), selector);
}

function md5(text) {
  return crypto.createHash('md5').update(Buffer.from(text, 'utf8')).digest('hex');
}

/*
 * The signature text of {users, accounts, baseInfo, mappings}, written out from the rule: users and accounts
 * as name, then index and name+value pairs per element; baseInfo as name+value pairs; each mapping as
 * "query" with index+userId pairs, "trans", and the jb, fh, sq lists once for each of trans's three keys.
 */
function signatureText(data) {
  const pairs = (list) => list.map((v, i) => String(i) + String(v)).join('');
  let text = 'users';
  data.users.forEach((u, i) => { text += i + Object.keys(u).map((k) => k + u[k]).join(''); });
  text += 'accounts';
  data.accounts.forEach((a, i) => { text += i + Object.keys(a).map((k) => k + a[k]).join(''); });
  text += 'baseInfo' + Object.keys(data.baseInfo).map((k) => k + data.baseInfo[k]).join('');
  text += 'mappings';
  for (const m of data.mappings) {
    text += 'query' + pairs(m.query) + 'trans';
    for (let n = 0; n < 3; n++) {
      text += 'jb' + pairs(m.trans.jb) + 'fh' + pairs(m.trans.fh) + 'sq' + pairs(m.trans.sq);
    }
  }
  return text;
}

// The QR signature from the company data, the counts and a date.
function expectedInfoMark(info, accountCount, userCount, date) {
  const joined = [info.customerName, info.orgCode, info.contactAddr, info.zipCode, info.orgEmail, info.orgFax,
    info.linkMan, info.linkPhone].join('|');
  const two = (n) => String(n).padStart(2, '0');
  return md5(joined).substring(8, 24) + two(accountCount) + two(userCount) +
    String(date.year).slice(-1) + two(date.month) + two(date.weekday + 1);
}

// The saved text formdesk keeps: the SAVE body after "CCC=", decoded the way its restore script decodes it.
function decodeSaved(text) {
  // decodeURI then unescape, as the restore script does; JSON.parse reads the result.
  return JSON.parse(unescape(decodeURI(text)));
}

function waitForPng(host, count) {
  return waitFor(() => host.pngBodies.length >= count);
}

module.exports = {
  launch, openForm, Dialogs, tab, activeTab, fillUser, fillAccount, fillFields, dragUser, cellUsers, statusTexts,
  axeFindings, md5, signatureText, expectedInfoMark, decodeSaved, waitForPng, waitFor, PACKAGES, tabTo, keyFill,
};
