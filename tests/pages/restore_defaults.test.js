'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

let browser;
test.before(async () => { browser = await h.launch(); });
test.after(async () => { await browser.close(); });

// A choice list without an empty choice holds its default where the restored value is missing or not offered,
// and keeps a value that it offers; what is saved again is that choice, never null or "".
const DEFAULTS = { gender: '男', currency: '人民币', category: '一般户', orgCertType: '营业执照', linkGender: '男',
  rgFundType: '人民币' };
const CASES = [
  ['eb_ac', 'nothing saved', { users: [{ userName: '甲' }], accounts: [{ acctId: '账户1' }], baseInfo: {} }, DEFAULTS],
  ['eb_ac', 'values not offered', { users: [{ userName: '甲', gender: '未知' }],
    accounts: [{ acctId: '账户1', currency: '卢布', category: '外币户' }],
    baseInfo: { orgCertType: '身份证', linkGender: '未知', rgFundType: '卢布' } }, DEFAULTS],
  ['eb_ac', 'values offered', { users: [{ userName: '甲', gender: '女' }],
    accounts: [{ acctId: '账户1', currency: '美元' }],
    baseInfo: { orgCertType: '登记证', linkGender: '女', rgFundType: '美元' } },
  { gender: '女', currency: '美元', category: '外币户', orgCertType: '登记证', linkGender: '女', rgFundType: '美元' }],
  ['eb_df', 'gender not offered', { users: [{ userName: '甲', gender: '未知' }], accounts: [{ account: '1' }],
    baseInfo: { orgCertType: '身份证' } }, { gender: '男', orgCertType: '' }],
];

for (const [pkg, name, saved, want] of CASES) {
  test(pkg + ' restore, ' + name + ': every choice list holds a real choice', async () => {
    const f = await h.openForm(browser, { pkg, saved: encodeURIComponent(JSON.stringify(saved)) });
    try {
      await f.host.saveToClient(f.page);
      const data = h.decodeSaved(f.host.saved);
      const got = { gender: data.users[0].gender, orgCertType: data.baseInfo.orgCertType };
      if (pkg === 'eb_ac') {
        Object.assign(got, { currency: data.accounts[0].currency, category: data.accounts[0].category,
          linkGender: data.baseInfo.linkGender, rgFundType: data.baseInfo.rgFundType });
      }
      assert.deepEqual(got, want);
      assert.deepEqual(f.errors, []);
    } finally {
      await f.close();
    }
  });
}
