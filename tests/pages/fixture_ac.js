/*
 * A complete account-opening application: a company with four accounts to open (a dollar account, a
 * temporary, a basic account with payroll and a special-purpose account), the three users of the default
 * form's fixture, a parent organisation and two related companies.
 */
'use strict';

const h = require('./helpers');
const fx = require('./fixture');

const COMPANY = {
  customerName: '宁波海曙远帆贸易有限公司', customerNameEn: 'Ningbo Yuanfan Trading Co., Ltd.',
  orgCertType: '营业执照', orgCertNum: '330203000456789', orgCode: '75621349-1',
  orgCertStartDate: '2008-03-01', orgCertEndDate: '2028-02-28',
};

// In form order; acctIds 账户1 to 账户4.
const ACCOUNTS = [
  { currency: '美元', acctUse: '经常项目外汇收支' },
  { currency: '人民币', category: '临时户', expireDate: '2011-06-30', acctUse: '临时经营活动' },
  { currency: '人民币', category: '基本户', isPayeeAcc: '1', acctUse: '日常转账结算和现金收付' },
  { currency: '人民币', category: '专用户', fundType: '住房基金', acctUse: '住房基金专项' },
];

const OTHER = {
  cusType: '01.企业法人', business: '08.批发和零售业', cusType2: 'H.内资—私营企业', cusType3: '4.私有经济',
  cusType4: '13.有进出口经营权的非专业外贸企业', rgFundType: '澳大利亚元 ', rgFundAmt: '5000000',
  orgArea: '330203', ntTaxCode: '330203756213491', lcTaxCode: '330203756213492',
  registerAddr: '宁波市海曙区中山西路88号', zipCode2: '315010', contactAddr: '宁波市海曙区中山西路88号12楼',
  zipCode: '315010', orgPhone: '0574-87001000', orgEmail: 'office@yuanfan.example', orgFax: '0574-87001099',
  represent: '周海', repTitle: '董事长', repCertType: '居民身份证', repCertNum: '330203197001010011',
  repPhone: '0574-87001001', repMobile: '13805740001', controller: '周海', cfoMan: '吴敏',
  cfoPhone: '0574-87001002', cfoMobile: '13805740002',
  linkMan: '陈建国', isRep: '否', linkGender: '男', linkTitle: '财务经理', linkCertType: '其他',
  linkCertName: '台湾居民来往大陆通行证', linkCertNum: 'T0001', linkPhone: '0574-87001003',
  linkMobile: '13805740003', linkFax: '0574-87001099',
  isSubOrg: '是', hasPrtOrg: '是', prtOrgName: '远帆控股集团有限公司', prtOrgCode: '70451234-5',
  prtAcctCertNum: 'J3320001234501', prtRepresent: '周远', prtRepCertType: '护照', prtRepCertNum: 'E7654321',
  hasRelOrg: '是',
};

const REL_ORGS = [
  { relOrg: '宁波远帆物流有限公司', relRepresent: '周帆', relOrgCode: '75621350-2' },
  { relOrg: '远帆(香港)有限公司', relRepresent: 'Zhou Fan', relOrgCode: '' },
];

// Every baseInfo property of the account-opening form, in the order of the saved data.
const BASE_ORDER = ['customerName', 'customerNameEn', 'orgCertType', 'orgCertName', 'orgCertNum', 'orgCode',
  'cusType', 'business', 'cusType2', 'cusType3', 'cusType4', 'orgCertStartDate', 'orgCertEndDate', 'rgFundType',
  'rgFundAmt', 'orgArea', 'ntTaxCode', 'lcTaxCode', 'registerAddr', 'zipCode2', 'contactAddr', 'zipCode', 'orgPhone',
  'orgEmail', 'orgFax', 'represent', 'repCertType', 'repCertName', 'repCertNum', 'repPhone', 'repMobile',
  'controller', 'cfoMan', 'cfoPhone', 'cfoMobile', 'linkMan', 'linkPhone', 'linkMobile', 'linkFax', 'prtOrgName',
  'prtOrgCode', 'prtAcctCertNum', 'prtRepresent', 'prtRepCertType', 'prtRepCertName', 'prtRepCertNum', 'repTitle',
  'linkTitle', 'linkCertType', 'linkCertName', 'linkCertNum', 'fMaxItemAmt', 'fMaxDayAmt', 'bMaxItemAmt',
  'bMaxDayAmt', 'isSubOrg', 'isRep', 'hasPrtOrg', 'hasRelOrg', 'linkGender'];

async function open(browser, options = {}) {
  return h.openForm(browser, { ...options, pkg: 'eb_ac' });
}

// Fills the n-th account form (1-based), adding it first when it does not exist yet.
async function fillAccount(page, n, acc) {
  if ((await page.locator('#accountForms form.accForm').count()) < n) {
    await page.click('#addAccount');
  }
  const form = page.locator('#accountForms form.accForm').nth(n - 1);
  for (const name of ['currency', 'category', 'fundType', 'isPayeeAcc']) {
    if (acc[name] !== undefined) {
      await form.locator('[name=' + name + ']').selectOption(acc[name]);
    }
  }
  for (const name of ['expireDate', 'acctUse']) {
    if (acc[name] !== undefined) {
      await form.locator('[name=' + name + ']').fill(acc[name]);
      if (name === 'expireDate') {
        await form.locator('[name=expireDate]').press('Escape');
      }
    }
  }
}

async function fillRelOrgs(page, orgs) {
  for (let i = 0; i < orgs.length; i++) {
    if ((await page.locator('#relOrgForms form').count()) <= i) {
      await page.click('#addRelOrg');
    }
    const form = page.locator('#relOrgForms form').nth(i);
    for (const [name, value] of Object.entries(orgs[i])) {
      await form.locator('[name=' + name + ']').fill(value);
    }
  }
}

async function fillStep1(page) {
  await h.fillFields(page, COMPANY);
  for (let i = 0; i < ACCOUNTS.length; i++) {
    await fillAccount(page, i + 1, ACCOUNTS[i]);
  }
}

async function fillStep2(page) {
  for (let i = 0; i < fx.USERS.length; i++) {
    await h.fillUser(page, i + 1, fx.USERS[i]);
  }
}

// Steps 1 to 4 filled, the finance manager (userId 3) made reviewer. Ends on tab 4.
async function fillAll(page) {
  await fillStep1(page);
  await h.tab(page, 2);
  await fillStep2(page);
  await h.tab(page, 3);
  await h.dragUser(page, 3, 0, 'fh');
  await h.tab(page, 4);
  await h.fillFields(page, OTHER);
  await fillRelOrgs(page, REL_ORGS);
  await h.fillFields(page, fx.LIMITS);
}

// The accounts as collected: the basic account, then the transferable ones in form order, then the dollars.
function expectedAccounts() {
  const acc = (n, a, category, isBaseAcc, isPayeeAcc, isTransAble) => ({
    acctId: '账户' + n, currency: a.currency, category, isBaseAcc, isPayeeAcc, isTransAble,
    fundType: a.fundType || '', expireDate: a.expireDate || '', acctUse: a.acctUse,
  });
  return [
    acc(3, ACCOUNTS[2], '基本户', 1, 1, 1),
    acc(2, ACCOUNTS[1], '临时户', 0, 0, 1),
    acc(4, ACCOUNTS[3], '专用户', 0, 0, 1),
    acc(1, ACCOUNTS[0], '外币户', 0, 0, 0),
  ];
}

function expectedBaseInfo() {
  const all = { ...COMPANY, ...OTHER, ...fx.LIMITS };
  const info = {};
  for (const k of BASE_ORDER) {
    info[k] = all[k] === undefined ? '' : all[k];
  }
  return info;
}

function expectedSaved() {
  const base = fx.expectedSaved();
  return {
    users: base.users, accounts: expectedAccounts(), baseInfo: expectedBaseInfo(), relOrgs: REL_ORGS,
    rights: { query: [[2, 3, 1], [2, 3, 1], [2, 3, 1], [2, 3, 1]], jb: [2], fh: [3], sq: [1], checkNum: 1 },
  };
}

function expectedMappings() {
  const roles = { jb: [2], fh: [3], sq: [1] };
  const m = { query: [2, 3, 1], trans: roles };
  return [m, m, m, { query: [2, 3, 1], trans: { jb: [], fh: [], sq: [] } }];
}

module.exports = { COMPANY, ACCOUNTS, OTHER, REL_ORGS, BASE_ORDER, open, fillAccount, fillRelOrgs, fillStep1,
  fillStep2, fillAll, expectedAccounts, expectedBaseInfo, expectedSaved, expectedMappings };
