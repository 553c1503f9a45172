/*
 * The default application form (eb_df): online banking for accounts that the company already holds.
 * The host (formdesk) calls loadFromSavedData and saveToClient; everything else runs from the page.
 */

// The page's data, as the host's scripts and the printed form see it.
var users = [];
var accounts = [];
var baseInfo = {};
var mappings = [];
var saved = {};
var checkNum = 1;
var md5Signature = '';
var baseInfoSignature = '';

var saveValues, loadFromSavedData, saveToClient, makeSignature, infoMark, preparePrintContent;

(function ($) {
    'use strict';

    // Accounting codes (characters 12 to 15 of the number) of the renminbi accounts that can transfer.
    var TRANS_CODES = ['8023', '8025', '8027', '8091', '8092', '8093', '8094', '8095', '8096', '8097', '8098',
        '8480', '8481', '8482', '8483', '8030'];
    var BUSINESS = ['01.农、林、牧、渔业', '02.采矿业', '03.制造业', '04.电力、燃气及水的生产和供应业', '05.建筑业',
        '06.交通运输、仓储和邮政业', '07.信息传输、计算机服务和软件业', '08.批发和零售业', '09.住宿和餐饮业',
        '10.金融业-银行业', '11.金融业-证券公司', '12.金融业-基金', '13.金融业-期货交易所', '14.金融业-期货公司',
        '15.金融业-保险业', '16.金融业-金融信托与管理', '17.金融业-财务公司', '18.金融业-其他', '19.房地产业',
        '20.租赁业和商务服务业', '21.科学研究、技术服务和地质勘查业', '22.水利、环境和公共设施管理业',
        '23.居民服务和其他服务业', '24.教育', '25.卫生、社会保障和社会福利业', '26.文化、体育和娱乐业',
        '27.公共管理和社会组织', '28.国际组织', '29.其他'];
    var ORG_CERT_TYPES = ['营业执照', '其他证件'];
    // baseInfo after customerName, in the order of the saved data; the four limits follow.
    var BASE_FIELDS = ['business', 'orgCertType', 'orgCertName', 'orgCertNum', 'orgCode', 'represent',
        'registerAddr', 'contactAddr', 'zipCode', 'orgPhone', 'orgEmail', 'orgFax', 'linkMan', 'linkPhone',
        'linkMobile', 'linkFax'];
    // The other-information check, in order.
    var OTHER_CHECKS = [
        ['business', '请选择行业类型.'], ['orgCertType', '请选择证件类型'], ['orgCertName', '请输入证件名称'],
        ['orgCertNum', '请输入证件号.'], ['orgCode', '请输入组织机构代码.'], ['sealAcc', '请输入银行预留印鉴账号.'],
        ['represent', '请输入法定代表人.'], ['registerAddr', '请输入注册地址.'], ['contactAddr', '请输入通信地址.'],
        ['zipCode', '请输入邮政编码.'], ['orgPhone', '请输入单位电话.'], ['orgEmail', '请输入电子邮件地址.'],
        ['orgFax', '请输入单位传真.'], ['linkMan', '请输入经办联系人.'], ['linkPhone', '请输入联系人办公电话.'],
        ['linkMobile', '请输入联系人移动电话.'], ['linkFax', '请输入联系人传真.']];

    var ACCOUNT_FORM =
        '<form class="accForm entryForm" autocomplete="off">' +
        '<div class="formHead"><span class="formNo"></span><a href="#" class="removeForm">删除此账户</a></div>' +
        '<table class="fieldTable"><tbody>' +
        '<tr><th><em>*</em>账号</th><td><input type="text" name="account" maxlength="18" class="accInput">' +
        '<span class="accInfo"></span></td></tr>' +
        '<tr><th>基本账户</th><td><label><input type="checkbox" name="isBaseAcc" value="1"> 此账户为本公司基本账户</label>' +
        '</td></tr>' +
        '<tr class="payeeRow"><th>是否申请发薪报销功能：</th><td><select name="isPayeeAcc">' +
        '<option value="0">否</option><option value="1">是</option></select></td></tr>' +
        '</tbody></table></form>';

    var $users, $accounts, lastCollected = null, gridStale = true, bypassChecks = false;

    function field(name) {
        return $('[name=' + name + ']').not('#printArea [name], .userForm [name], .accForm [name]');
    }

    // An account can transfer when it is a renminbi account (…001) with one of the accounting codes.
    function isTransAble(account) {
        var s = String(account);
        return s.length === 18 && s.substring(15, 18) === '001' && $.inArray(s.substring(11, 15), TRANS_CODES) >= 0;
    }

    function accountLabel(acc) {
        return acc.account + (acc.isBaseAcc === 1 ? '(基本户,' : '(一般户,') + FW.currencyName(acc.account) + ')';
    }

    /* ---- account forms ---- */

    function renumberAccounts() {
        $accounts.children('form.accForm').each(function (i) {
            $(this).find('.formNo').text('账户' + (i + 1));
            $(this).find('.removeForm').toggle(i > 0);
        });
    }

    function showAccountInfo($form) {
        var v = FW.trim($form.find('[name=account]').val()), text = '';
        if (v.length === 18 && FW.isNumber(v)) {
            text = FW.currencyName(v) + (isTransAble(v) ? '，可开通转账' : '，仅开通查询');
        }
        $form.find('.accInfo').text(text);
        $form.find('.payeeRow').toggle($form.find('[name=isBaseAcc]').prop('checked'));
    }

    function addAccount(acc) {
        var $form = $(ACCOUNT_FORM);
        if (acc) {
            $form.find('[name=account]').val(acc.account === undefined || acc.account === null ? '' : acc.account);
            $form.find('[name=isBaseAcc]').prop('checked', String(acc.isBaseAcc) === '1');
            $form.find('[name=isPayeeAcc]').val(String(acc.isPayeeAcc) === '1' ? '1' : '0');
        }
        $accounts.append($form);
        showAccountInfo($form);
        renumberAccounts();
        return $form;
    }

    function readAccounts() {
        var list = [];
        $accounts.children('form.accForm').each(function (i) {
            var $form = $(this), account = FW.trim($form.find('[name=account]').val());
            var base = $form.find('[name=isBaseAcc]').prop('checked') ? 1 : 0;
            list.push({
                account: account,
                isBaseAcc: base,
                isPayeeAcc: base === 1 && $form.find('[name=isPayeeAcc]').val() === '1' ? 1 : 0,
                isTransAble: isTransAble(account) ? 1 : 0,
                order: i
            });
        });
        // The basic account first, then the transferable ones; otherwise in form order.
        list.sort(function (a, b) {
            return (b.isBaseAcc - a.isBaseAcc) || (b.isTransAble - a.isTransAble) || (a.order - b.order);
        });
        $.each(list, function (i, acc) {
            delete acc.order;
        });
        return list;
    }

    // Choosing the basic account: a renminbi account, and only one.
    function baseChosen(checkbox) {
        var $form = $(checkbox.form), account = FW.trim($form.find('[name=account]').val()), others;
        if (checkbox.checked) {
            if (!FW.isRmbAccount(account)) {
                window.alert('基本账户只能为人民币账户，该账户不符合条件！');
                checkbox.checked = false;
            } else {
                others = $accounts.find('[name=isBaseAcc]:checked').not(checkbox);
                if (others.length) {
                    window.alert('基本账户只能有一个，请先修改前面的选择！');
                    checkbox.checked = false;
                }
            }
        }
        if (!checkbox.checked) {
            $form.find('[name=isPayeeAcc]').val('0');
        }
        showAccountInfo($form);
    }

    function accountCheck() {
        var forms = $accounts.children('form.accForm').get(), seen = [], bases = 0, i, $form, $a, v;
        for (i = 0; i < forms.length; i++) {
            $form = $(forms[i]);
            $a = $form.find('[name=account]');
            v = FW.trim($a.val());
            if (v === '') {
                if (i === 0) {
                    return FW.fail('请输入账号！', $a);
                }
                if (window.confirm('您尚未输入新增账户号码，您确定放弃该新增账户？')) {
                    $form.remove();
                    renumberAccounts();
                    continue;
                }
                reveal($a);
                $a.focus();
                return false;
            }
            if (!FW.isNumber(v)) {
                return FW.fail('账号必须全为数字！', $a);
            }
            if (v.charAt(0) !== '8') {
                return FW.fail('请输入以8开头的Orvanta账号！', $a);
            }
            if (v.length !== 18) {
                return FW.fail('账号必须为18位！', $a);
            }
            if ($.inArray(v, seen) >= 0) {
                return FW.fail('此账号已存在，请勿重复录入！', $a);
            }
            seen.push(v);
            // The number may have changed since the basic account was chosen.
            if ($form.find('[name=isBaseAcc]').prop('checked')) {
                if (!FW.isRmbAccount(v)) {
                    return FW.fail('基本账户只能为人民币账户，该账户不符合条件！', $a);
                }
                bases++;
                if (bases > 1) {
                    return FW.fail('基本账户只能有一个，请先修改前面的选择！', $form.find('[name=isBaseAcc]'));
                }
            }
        }
        return true;
    }

    /* ---- company data ---- */

    function showOrgCertName() {
        var other = field('orgCertType').val() === '其他证件';
        $('.orgCertNameCell').css('visibility', other ? 'visible' : 'hidden');
        if (!other) {
            field('orgCertName').val('');
        }
    }

    function readBaseInfo() {
        var info = {customerName: field('customerName').val()}, i;
        for (i = 0; i < BASE_FIELDS.length; i++) {
            info[BASE_FIELDS[i]] = field(BASE_FIELDS[i]).val();
        }
        for (i = 0; i < FW.limits.NAMES.length; i++) {
            info[FW.limits.NAMES[i]] = field(FW.limits.NAMES[i]).val();
        }
        return info;
    }

    function companyCheck() {
        if (FW.isEmpty(field('customerName').val())) {
            return FW.fail('请输入公司全称！', field('customerName'));
        }
        return true;
    }

    function otherCheck() {
        var i, name;
        for (i = 0; i < OTHER_CHECKS.length; i++) {
            name = OTHER_CHECKS[i][0];
            if (name === 'orgCertName' && field('orgCertType').val() !== '其他证件') {
                continue;
            }
            if (FW.isEmpty(field(name).val())) {
                return FW.fail(OTHER_CHECKS[i][1], field(name));
            }
        }
        return FW.limits.check();
    }

    /* ---- collecting, the grid and the tabs ---- */

    saveValues = function () {
        users = FW.users.sort(FW.users.read($users));
        accounts = readAccounts();
        baseInfo = readBaseInfo();
        var key = $.toJSON([users, accounts]);
        if (key !== lastCollected) {
            lastCollected = key;
            gridStale = true;
        }
    };

    function hasPayroll() {
        var i;
        for (i = 0; i < accounts.length; i++) {
            if (accounts[i].isBaseAcc === 1 && accounts[i].isPayeeAcc === 1) {
                return true;
            }
        }
        return false;
    }

    function ensureGrid() {
        if (!gridStale && FW.grid.built()) {
            return;
        }
        var rows = $.map(accounts, function (acc) {
            return $.extend({label: accountLabel(acc)}, acc);
        });
        FW.grid.build($('#grid'), users, rows, hasPayroll());
        gridStale = false;
    }

    function showRoleNote() {
        var n = users.length, text;
        if (n < 2) {
            text = '只有一位用户时只能开通账户查询功能；如需转账功能，请在第一步增加用户。';
        } else {
            text = '“经办”录入业务，' + (n >= 3 ? '“复核”核对经办录入的业务，' : '') +
                '“授权”最终审批并提交业务。同一账户的转账/发薪/报销业务中，一位用户只能担任一种角色。';
        }
        $('#roleNote').html('<p>请将左侧“用户列表”中的用户拖入右侧表格，为每个账户设置操作用户；点击用户名旁的×可移除。</p>' +
            '<p>' + FW.escapeHtml(text) + '</p>' +
            '<p>灰色单元格所在账户不具备转账功能；多个可转账账户的转账角色合并设置。</p>');
    }

    function gridCheck() {
        var result = FW.grid.check({
            query: function (acc) {
                return '账户' + acc.account;
            },
            trans: function (acc) {
                return '账号' + acc.account;
            }
        });
        checkNum = result.checkNum;
        return result.ok;
    }

    function summaryHtml() {
        var html = [], i, j, m, names;
        function nameList(ids) {
            var out = [];
            for (j = 0; j < ids.length; j++) {
                for (var k = 0; k < users.length; k++) {
                    if (users[k].userId === ids[j]) {
                        out.push(users[k].userName);
                    }
                }
            }
            return FW.escapeHtml(out.join('、'));
        }
        html.push('<h3 class="sectionHead">' + FW.escapeHtml(baseInfo.customerName) + '</h3>');
        html.push('<p class="note">请核对以下信息，无误后打印申请表，加盖公章并由法定代表人或授权代理人签字后交至开户网点。</p>');
        html.push('<table class="summaryTable"><tbody><tr><th>组织机构代码</th><td>' + FW.escapeHtml(baseInfo.orgCode) +
            '</td><th>法定代表人</th><td>' + FW.escapeHtml(baseInfo.represent) + '</td><th>经办联系人</th><td>' +
            FW.escapeHtml(baseInfo.linkMan) + ' ' + FW.escapeHtml(baseInfo.linkPhone) + '</td></tr>' +
            '<tr><th>通信地址</th><td colspan="3">' + FW.escapeHtml(baseInfo.contactAddr) + '</td><th>邮政编码</th><td>' +
            FW.escapeHtml(baseInfo.zipCode) + '</td></tr></tbody></table>');
        html.push('<table class="summaryTable"><thead><tr><th>用户</th><th>部门职位</th><th>证件号码</th><th>移动电话</th>' +
            '</tr></thead><tbody>');
        for (i = 0; i < users.length; i++) {
            html.push('<tr><td>' + FW.escapeHtml(users[i].userName) + '</td><td>' + FW.escapeHtml(users[i].title) +
                '</td><td>' + FW.escapeHtml(users[i].certNum) + '</td><td>' + FW.escapeHtml(users[i].mobile) + '</td></tr>');
        }
        html.push('</tbody></table>');
        html.push('<table class="summaryTable"><thead><tr><th>账户</th><th>查询</th><th>经办</th><th>复核</th><th>授权</th>' +
            '</tr></thead><tbody>');
        for (i = 0; i < accounts.length; i++) {
            m = mappings[i];
            names = [nameList(m.query), nameList(m.trans.jb), nameList(m.trans.fh), nameList(m.trans.sq)];
            html.push('<tr><td>' + FW.escapeHtml(accountLabel(accounts[i])) + '</td><td>' + names.join('</td><td>') +
                '</td></tr>');
        }
        html.push('</tbody></table>');
        if (checkNum > 1) {
            html.push('<p class="note">授权方式：' + checkNum + '位授权人共同授权。</p>');
        }
        if (!FW.isEmpty(baseInfo.bMaxItemAmt)) {
            html.push('<p class="note">转账限额：每笔 ' + FW.escapeHtml(amount(baseInfo.bMaxItemAmt)) + ' 元，每日 ' +
                FW.escapeHtml(amount(baseInfo.bMaxDayAmt)) + ' 元' + (FW.isEmpty(baseInfo.fMaxItemAmt) ? '' :
                '；发薪限额：每笔 ' + FW.escapeHtml(amount(baseInfo.fMaxItemAmt)) + ' 元，每日 ' +
                FW.escapeHtml(amount(baseInfo.fMaxDayAmt)) + ' 元') + '。</p>');
        }
        return html.join('');
    }

    // The checks that guard each tab, and what the tab shows when it opens.
    function beforeTab(to) {
        if (bypassChecks) {
            return true;
        }
        switch (to) {
        case 0:
            return accountCheck();
        case 1:
            if (!companyCheck() || !FW.users.check($users)) {
                return false;
            }
            saveValues();
            return true;
        case 2:
            if (!companyCheck() || !FW.users.check($users) || !accountCheck()) {
                return false;
            }
            saveValues();
            ensureGrid();
            showRoleNote();
            return true;
        case 3:
            if (!companyCheck() || !FW.users.check($users) || !accountCheck()) {
                return false;
            }
            saveValues();
            ensureGrid();
            if (!gridCheck()) {
                return false;
            }
            mappings = FW.grid.mappings();
            FW.limits.show(mappings, accounts);
            if (FW.isEmpty(field('sealAcc').val()) && accounts.length) {
                field('sealAcc').val(accounts[0].account);
            }
            return true;
        case 4:
            if (!companyCheck() || !FW.users.check($users) || !accountCheck()) {
                return false;
            }
            saveValues();
            ensureGrid();
            mappings = FW.grid.mappings();
            FW.limits.show(mappings, accounts);
            if (!otherCheck() || !gridCheck()) {
                return false;
            }
            saveValues();
            mappings = FW.grid.mappings();
            $('#summary').html(summaryHtml());
            return true;
        }
        return true;
    }

    // A check that fails on a field of another tab opens that tab, so the focus can reach the field.
    function reveal($field) {
        var $panel = $field.closest('.ui-tabs-panel'), index;
        if (!$panel.length || $panel.css('display') !== 'none') {
            return;
        }
        index = $('#tabs').children('.ui-tabs-panel').index($panel);
        bypassChecks = true;
        try {
            $('#tabs').tabs('option', 'active', index);
        } finally {
            bypassChecks = false;
        }
    }

    /* ---- the printed form ---- */

    function userNames(ids) {
        var out = [], i, j;
        for (i = 0; i < ids.length; i++) {
            for (j = 0; j < users.length; j++) {
                if (users[j].userId === ids[i]) {
                    out.push(users[j].userName);
                }
            }
        }
        return out.join('、');
    }

    function cell(text) {
        return '<td>' + FW.escapeHtml(text) + '</td>';
    }

    function amount(s) {
        return FW.isEmpty(s) ? '' : FW.formatAmount(FW.trim(s));
    }

    function fillPrintForm($area, now) {
        var i, m, roles, rows = [], useA = false, useB = false, usePay = false, pos = 0, services = [],
            tplRoles = null, tpl2 = false, userRows = [], u, q, t, j, date;
        $area.find('[data-f]').each(function () {
            var name = $(this).attr('data-f');
            $(this).text(name === 'orgCertTypeText' ?
                (baseInfo.orgCertType === '其他证件' ? baseInfo.orgCertName : baseInfo.orgCertType) :
                (name === 'sealAcc' ? field('sealAcc').val() : baseInfo[name]));
        });
        for (i = 0; i < accounts.length; i++) {
            m = mappings[i];
            roles = m.trans.jb.length + m.trans.fh.length + m.trans.sq.length > 0;
            if (!m.query.length && !roles) {
                continue;
            }
            pos++;
            useA = useA || m.query.length > 0;
            useB = useB || roles;
            if (roles && !tplRoles) {
                tplRoles = m.trans;
            }
            rows.push('<tr>' + cell(pos) + cell(accounts[i].account) + cell(FW.currencyName(accounts[i].account)) +
                cell(i === 0 && FW.isRmbAccount(accounts[i].account) ? '是' : '否') +
                cell((m.query.length ? 'A　' : '') + (roles ? 'B　' : '')) + cell(roles ? '模板1' : '') +
                cell(m.trans.fh.length ? '是' : '否') + cell(roles ? amount(baseInfo.bMaxItemAmt) : '') +
                cell(roles ? amount(baseInfo.bMaxDayAmt) : '') + '</tr>');
            if (accounts[i].isPayeeAcc === 1) {
                usePay = true;
                t = FW.trim(baseInfo.fMaxItemAmt) !== FW.trim(baseInfo.bMaxItemAmt);
                tpl2 = tpl2 || t;
                rows.push('<tr class="payRow"><td></td>' + cell(accounts[i].account) +
                    cell(FW.currencyName(accounts[i].account)) + '<td></td>' + cell('FA　FB') +
                    cell(t ? '模板2' : '模板1') + cell(m.trans.fh.length ? '是' : '否') +
                    cell(amount(baseInfo.fMaxItemAmt)) + cell(amount(baseInfo.fMaxDayAmt)) + '</tr>');
            }
        }
        $area.find('.accountRows').html(rows.join(''));
        if (useA) {
            services.push('■A账户查询 ');
        }
        if (useB) {
            services.push('■B转账汇划 ');
        }
        if (usePay) {
            services.push('■FA代发工资 ■FB其他代发');
        }
        $area.find('.serviceList').text(services.join(''));

        var tplHtml = [];
        function template(name, title, item, day) {
            tplHtml.push('<table class="printTable tplTable"><tbody><tr><th rowspan="2">' + name + '</th><th>' +
                title + '</th><th>经办</th><td>' + FW.escapeHtml(userNames(tplRoles.jb)) + '</td><th>复核</th><td>' +
                FW.escapeHtml(userNames(tplRoles.fh) || '无') + '</td><th>授权</th><td>' +
                FW.escapeHtml(userNames(tplRoles.sq)) + '</td></tr><tr><th>授权方式</th><td colspan="3">' +
                (checkNum > 1 ? '共同授权（' + checkNum + '人）' : '其中一人授权') + '</td><th>限额(元)</th><td colspan="2">' +
                '每笔 ' + FW.escapeHtml(amount(item)) + '，每日 ' + FW.escapeHtml(amount(day)) + '</td></tr></tbody></table>');
        }
        if (tplRoles) {
            template('模板1', usePay && !tpl2 ? '转账/发薪/报销' : '转账', baseInfo.bMaxItemAmt, baseInfo.bMaxDayAmt);
            if (tpl2) {
                template('模板2', '发薪/报销', baseInfo.fMaxItemAmt, baseInfo.fMaxDayAmt);
            }
        } else {
            tplHtml.push('<p class="note">未申请转账汇划服务。</p>');
        }
        $area.find('.templates').html(tplHtml.join(''));

        for (i = 0; i < users.length; i++) {
            u = users[i];
            q = 0;
            t = '';
            for (j = 0; j < mappings.length; j++) {
                if ($.inArray(u.userId, mappings[j].query) >= 0) {
                    q++;
                }
                if (!t) {
                    t = $.inArray(u.userId, mappings[j].trans.jb) >= 0 ? '经办' :
                        ($.inArray(u.userId, mappings[j].trans.fh) >= 0 ? '复核' :
                            ($.inArray(u.userId, mappings[j].trans.sq) >= 0 ? '授权' : ''));
                }
            }
            userRows.push('<tr>' + cell(i + 1) + cell(u.userName) + cell(u.gender) + cell(u.title) +
                cell(u.certType === '其他' ? u.certName : u.certType) + cell(u.certNum) + cell(u.mobile) +
                cell(u.officePhone) + cell(u.email) + cell(q) + cell(t || '无') + '</tr>');
        }
        $area.find('.userRows').html(userRows.join(''));

        date = now.getFullYear() + '年' + (now.getMonth() + 1) + '月' + now.getDate() + '日';
        $area.find('.printDate').text(date);
    }

    makeSignature = function (now) {
        var result = FW.makeSignature({users: users, accounts: accounts, baseInfo: baseInfo, mappings: mappings},
            now || new Date());
        md5Signature = result.md5Signature;
        return result.mark;
    };

    infoMark = function (now) {
        baseInfoSignature = FW.infoMark(baseInfo, accounts.length, users.length, now || new Date());
        FW.requestQr(baseInfoSignature);
        return baseInfoSignature;
    };

    preparePrintContent = function () {
        var now = new Date(), $area = $('#printArea');
        $area.html($('#printTemplate').html());
        $area.find('[data-id=encryption]').attr('id', 'encryption');
        makeSignature(now);
        fillPrintForm($area, now);
        infoMark(now);
    };

    function printWith(command, option) {
        preparePrintContent();
        $('body').addClass('printing');
        $('#screenArea').hide();
        $('#printArea').show();
        FW.browserCommand(command, option);
        $('#screenArea').show();
        $('#printArea').hide().empty();
        $('body').removeClass('printing');
    }

    /* ---- the host contract ---- */

    loadFromSavedData = function () {
        var data = window.saved || {}, i, info;
        $users.empty();
        $accounts.empty();
        FW.grid.reset();
        $('#grid').empty();
        lastCollected = null;
        gridStale = true;
        if (!data.users) {
            FW.users.add($users);
            addAccount();
        } else {
            if ($.isArray(data.users) && data.users.length) {
                for (i = 0; i < data.users.length; i++) {
                    FW.users.add($users, data.users[i]);
                }
            } else {
                FW.users.add($users);
            }
            if ($.isArray(data.accounts) && data.accounts.length) {
                for (i = 0; i < data.accounts.length; i++) {
                    addAccount(data.accounts[i]);
                }
            } else {
                addAccount();
            }
            info = data.baseInfo || {};
            FW.setField(field('customerName'), info.customerName);
            for (i = 0; i < BASE_FIELDS.length; i++) {
                FW.setField(field(BASE_FIELDS[i]), info[BASE_FIELDS[i]]);
            }
            for (i = 0; i < FW.limits.NAMES.length; i++) {
                FW.setField(field(FW.limits.NAMES[i]), info[FW.limits.NAMES[i]]);
            }
            showOrgCertName();
        }
        baseInfo = readBaseInfo();
        bypassChecks = true;
        try {
            $('#tabs').tabs('option', 'active', 0);
        } finally {
            bypassChecks = false;
        }
        field('customerName').focus();
    };

    saveToClient = function () {
        saveValues();
        FW.postSave({users: users, accounts: accounts, baseInfo: baseInfo}, $('#screenArea'));
    };

    /* ---- page start ---- */

    $(function () {
        $users = $('#userForms');
        $accounts = $('#accountForms');
        FW.pageStart();
        FW.fail = (function (fail) {
            return function (message, $field) {
                if ($field && $field.length) {
                    reveal($field);
                }
                return fail(message, $field);
            };
        }(FW.fail));

        FW.fillSelect(field('business'), BUSINESS, true);
        FW.fillSelect(field('orgCertType'), ORG_CERT_TYPES, true);
        showOrgCertName();
        field('orgCertType').on('change', showOrgCertName);

        FW.users.bind($users);
        $accounts.on('change', '[name=isBaseAcc]', function () {
            baseChosen(this);
        });
        $accounts.on('input keyup change', '[name=account]', function () {
            showAccountInfo($(this.form));
        });
        $accounts.on('click', '.removeForm', function (e) {
            e.preventDefault();
            $(this).closest('form').remove();
            renumberAccounts();
        });
        $('#addUser').on('click', function () {
            FW.users.add($users).find('[name=userName]').focus();
        });
        $('#addAccount').on('click', function () {
            addAccount().find('[name=account]').focus();
        });

        $('#tabs').tabs({
            beforeActivate: function (event, ui) {
                return beforeTab(ui.newTab.index());
            }
        });
        $('.nextStep').on('click', function () {
            $('#tabs').tabs('option', 'active', parseInt($(this).attr('data-to'), 10));
        });
        $('button').button();

        FW.bindReset($('#resetLink'));
        $('#setupBtn').toggle(FW.hasBrowserObject()).on('click', function () {
            FW.browserCommand(8, 1);
        });
        $('#previewBtn').on('click', function () {
            printWith(7, 1);
        });
        $('#printBtn').on('click', function () {
            if (window.confirm('确定打印吗？')) {
                printWith(6, 6);
            }
        });

        field('customerName').focus();
        if (window.location.href.indexOf('?reload') >= 0) {
            loadFromSavedData();
        }
    });
}(jQuery));
