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

    var $accounts;
    var field = FW.page.$field;

    // An account can transfer when it is a renminbi account (…001) with one of the accounting codes.
    function isTransAble(account) {
        var s = String(account);
        return s.length === 18 && FW.isRmbAccount(s) && $.inArray(s.substring(11, 15), TRANS_CODES) >= 0;
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
        FW.labelFields($form);
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
                FW.markInvalid($(checkbox), '基本账户只能为人民币账户，该账户不符合条件！');
            } else {
                others = $accounts.find('[name=isBaseAcc]:checked').not(checkbox);
                if (others.length) {
                    window.alert('基本账户只能有一个，请先修改前面的选择！');
                    checkbox.checked = false;
                    FW.markInvalid($(checkbox), '基本账户只能有一个，请先修改前面的选择！');
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
                FW.page.reveal($a);
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

    /* ---- the tabs ---- */

    function summaryHtml() {
        return '<h3 class="sectionHead">' + FW.escapeHtml(baseInfo.customerName) + '</h3>' +
            '<p class="note">请核对以下信息，无误后打印申请表，加盖公章并由法定代表人或授权代理人签字后交至开户网点。</p>' +
            '<table class="summaryTable"><tbody><tr><th>组织机构代码</th><td>' + FW.escapeHtml(baseInfo.orgCode) +
            '</td><th>法定代表人</th><td>' + FW.escapeHtml(baseInfo.represent) + '</td><th>经办联系人</th><td>' +
            FW.escapeHtml(baseInfo.linkMan) + ' ' + FW.escapeHtml(baseInfo.linkPhone) + '</td></tr>' +
            '<tr><th>通信地址</th><td colspan="3">' + FW.escapeHtml(baseInfo.contactAddr) + '</td><th>邮政编码</th><td>' +
            FW.escapeHtml(baseInfo.zipCode) + '</td></tr></tbody></table>' + FW.page.summaryTables();
    }

    // The checks that guard each tab, and what the tab shows when it opens.
    function beforeTab(to) {
        if (to === 0) {
            return accountCheck();
        }
        if (!companyCheck() || !FW.users.check($('#userForms')) || (to > 1 && !accountCheck())) {
            return false;
        }
        saveValues();
        if (to === 2) {
            FW.page.openGrid();
        } else if (to === 3) {
            FW.page.openGrid();
            if (!FW.page.gridCheck()) {
                return false;
            }
            FW.page.openOther();
            if (FW.isEmpty(field('sealAcc').val()) && accounts.length) {
                field('sealAcc').val(accounts[0].account);
            }
        } else if (to === 4) {
            FW.page.openGrid();
            FW.page.openOther();
            if (!otherCheck() || !FW.page.gridCheck()) {
                return false;
            }
            saveValues();
            mappings = FW.grid.mappings();
            $('#summary').html(summaryHtml());
        }
        return true;
    }

    /* ---- the printed form ---- */

    function fillPrint($area) {
        $area.find('[data-f]').each(function () {
            var name = $(this).attr('data-f');
            $(this).text(name === 'orgCertTypeText' ?
                (baseInfo.orgCertType === '其他证件' ? baseInfo.orgCertName : baseInfo.orgCertType) :
                (name === 'sealAcc' ? field('sealAcc').val() : baseInfo[name]));
        });
    }

    /* ---- the host contract ---- */

    saveValues = FW.page.collect;
    makeSignature = FW.page.makeSignature;
    infoMark = FW.page.infoMark;
    preparePrintContent = FW.page.preparePrint;
    loadFromSavedData = FW.page.load;
    saveToClient = FW.page.save;

    function restoreBaseInfo(info, data) {
        var i;
        FW.setField(field('customerName'), info.customerName);
        for (i = 0; i < BASE_FIELDS.length; i++) {
            FW.setField(field(BASE_FIELDS[i]), info[BASE_FIELDS[i]]);
        }
        for (i = 0; i < FW.limits.NAMES.length; i++) {
            FW.setField(field(FW.limits.NAMES[i]), info[FW.limits.NAMES[i]]);
        }
        // Saved beside baseInfo, which the marks are made of; older saved data lacks it.
        FW.setField(field('sealAcc'), typeof data.sealAcc === 'string' ? data.sealAcc : '');
        showOrgCertName();
    }

    /* ---- page start ---- */

    $(function () {
        $accounts = $('#accountForms');
        FW.page.setup({
            readAccounts: readAccounts,
            readBaseInfo: readBaseInfo,
            clearAccounts: function () {
                $accounts.empty();
            },
            addAccount: addAccount,
            restoreBaseInfo: restoreBaseInfo,
            accountName: function (acc) {
                return acc.account;
            },
            currency: function (acc) {
                return FW.currencyName(acc.account);
            },
            isRmb: function (acc) {
                return FW.isRmbAccount(acc.account);
            },
            gridLabel: accountLabel,
            gridNames: {
                query: function (acc) {
                    return '账户' + acc.account;
                },
                trans: function (acc) {
                    return '账号' + acc.account;
                }
            },
            beforeTab: beforeTab,
            savedObject: function () {
                return {users: users, accounts: accounts, baseInfo: baseInfo, sealAcc: field('sealAcc').val()};
            },
            fillPrint: fillPrint
        });

        FW.fillSelect(field('business'), FW.BUSINESS, true);
        FW.fillSelect(field('orgCertType'), ORG_CERT_TYPES, true);
        showOrgCertName();
        field('orgCertType').on('change', showOrgCertName);

        $accounts.on('change', '[name=isBaseAcc]', function () {
            baseChosen(this);
        });
        $accounts.on('input keyup change', '[name=account]', function () {
            showAccountInfo($(this.form));
        });
        $accounts.on('click', '.removeForm', function (e) {
            e.preventDefault();
            FW.removeForm(this, renumberAccounts);
        });
        $('#addAccount').on('click', function () {
            addAccount().find('[name=account]').focus();
        });
        FW.page.started();
    });
}(jQuery));
