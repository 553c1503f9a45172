/*
 * A complete, valid application used by several tests: three users (entered out of level order), a basic
 * account with payroll, a second transferable account and a dollar account.
 */
'use strict';

const h = require('./helpers');

const COMPANY = {
  customerName: '杭州明远精密机械有限公司',
};

const USERS = [
  { userName: '王丽', gender: '女', title: '企业负责人', certType: '居民身份证', certNum: '330106198503120028',
    mobile: '13905710001', email: '', officePhone: '0571-88001001' },
  { userName: '陈建国', gender: '男', title: '财务部门经办人员(会计、出纳)', certType: '居民身份证',
    certNum: '330106750812031', mobile: '13905710002', email: '', officePhone: '0571-88001002' },
  { userName: '李 明', gender: '男', title: '财务部门负责人', certType: '护照', certNum: 'E12345678',
    mobile: '0571880010', email: 'liming@mingyuan.example', officePhone: '0571-88001003' },
];

// 8 + 10 digits + accounting code + currency.
const ACC_BASE = '800123456788023001';
const ACC_TRANS = '800123456788025001';
const ACC_USD = '800123456788023014';

const OTHER = {
  business: '03.制造业', orgCertType: '营业执照', orgCertNum: '330100000123456', orgCode: '74508123-6',
  sealAcc: ACC_BASE, represent: '王丽', registerAddr: '杭州市西湖区文三路100号', contactAddr: '杭州市西湖区文三路100号5楼',
  zipCode: '310012', orgPhone: '0571-88001000', orgEmail: 'finance@mingyuan.example', orgFax: '0571-88001099',
  linkMan: '陈建国', linkPhone: '0571-88001002', linkMobile: '13905710002', linkFax: '0571-88001099',
};

const LIMITS = { fMaxItemAmt: '50000', fMaxDayAmt: '200000', bMaxItemAmt: '1000000', bMaxDayAmt: '5000000' };

async function fillStep1(page) {
  await h.fillFields(page, COMPANY);
  for (let i = 0; i < USERS.length; i++) {
    await h.fillUser(page, i + 1, USERS[i]);
  }
}

async function fillStep2(page) {
  await h.fillAccount(page, 1, ACC_USD);
  await h.fillAccount(page, 2, ACC_TRANS);
  await h.fillAccount(page, 3, ACC_BASE, true, true);
}

// Steps 1 to 4 filled; the grid gets the finance manager (userId 3) as reviewer. Ends on tab 4.
async function fillAll(page) {
  await fillStep1(page);
  await h.tab(page, 2);
  await fillStep2(page);
  await h.tab(page, 3);
  await h.dragUser(page, 3, 0, 'fh');
  await h.tab(page, 4);
  await h.fillFields(page, OTHER);
  await h.fillFields(page, LIMITS);
}

// What the page's data must be after collecting the fixture: users by level, the basic account first.
function expectedData() {
  const user = (u, level, userId) => ({
    userName: u.userName, gender: u.gender, title: u.title, certType: u.certType, certName: '',
    certNum: u.certNum, mobile: u.mobile, email: u.email, officePhone: u.officePhone, level, userId,
  });
  const baseInfo = { customerName: COMPANY.customerName };
  for (const k of ['business', 'orgCertType', 'orgCertName', 'orgCertNum', 'orgCode', 'represent', 'registerAddr',
    'contactAddr', 'zipCode', 'orgPhone', 'orgEmail', 'orgFax', 'linkMan', 'linkPhone', 'linkMobile', 'linkFax']) {
    baseInfo[k] = OTHER[k] === undefined ? '' : OTHER[k];
  }
  Object.assign(baseInfo, LIMITS);
  return {
    users: [user(USERS[1], 1, 2), user(USERS[2], 2, 3), user(USERS[0], 3, 1)],
    accounts: [
      { account: ACC_BASE, isBaseAcc: 1, isPayeeAcc: 1, isTransAble: 1 },
      { account: ACC_TRANS, isBaseAcc: 0, isPayeeAcc: 0, isTransAble: 1 },
      { account: ACC_USD, isBaseAcc: 0, isPayeeAcc: 0, isTransAble: 0 },
    ],
    baseInfo,
  };
}

// The saved object: the data, then the reserved-seal account and the grid's users beside it (userIds of the
// saved users: 陈建国 2, 李 明 3, 王丽 1).
function expectedSaved() {
  return {
    ...expectedData(),
    sealAcc: ACC_BASE,
    rights: { query: [[2, 3, 1], [2, 3, 1], [2, 3, 1]], jb: [2], fh: [3], sq: [1], checkNum: 1 },
  };
}

function expectedMappings() {
  const roles = { jb: [2], fh: [3], sq: [1] };
  const none = { jb: [], fh: [], sq: [] };
  return [
    { query: [2, 3, 1], trans: roles },
    { query: [2, 3, 1], trans: roles },
    { query: [2, 3, 1], trans: none },
  ];
}

module.exports = { COMPANY, USERS, OTHER, LIMITS, ACC_BASE, ACC_TRANS, ACC_USD, fillStep1, fillStep2, fillAll,
  expectedData, expectedSaved, expectedMappings };
