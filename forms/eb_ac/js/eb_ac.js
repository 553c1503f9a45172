/*
 * The account-opening application (eb_ac): a company without an account applies for its accounts and for
 * online banking on them at once. The host (formdesk -AC) calls loadFromSavedData and saveToClient.
 */

// The page's data, as the host's scripts and the printed form see it.
var users = [];
var accounts = [];
var baseInfo = {};
var relOrgs = [];
var mappings = [];
var saved = {};
var checkNum = 1;
var md5Signature = '';
var baseInfoSignature = '';

var saveValues, loadFromSavedData, saveToClient, makeSignature, infoMark, preparePrintContent;

(function ($) {
    'use strict';

    var PRE_APPROVAL = '名称预先核准通知书';
    var RMB = '人民币';
    var ORG_CERT_TYPES = ['营业执照', '登记证', '主管部门证明文件', PRE_APPROVAL, '其他证件'];
    var CUS_TYPES = ['01.企业法人', '02.非法人企业', '03.国家机关', '04.实行预算管理的事业单位', '05.非预算管理的事业单位',
        '06.团级(含)以上军队', '07.武警部队及分散执勤的支(分)队', '08.社会团体', '09.具有社会团体法人资格的工会组织',
        '10.民办非企业组织', '11.外地常设机构', '12.外国驻华机构', '13.有字号的个体工商户', '14.无字号的个体工商户',
        '15.居民委员会', '16.村民委员会', '17.社区委员会', '18.单位设立的独立核算的附属机构',
        '19.单位非独立核算的内设机构(部门)', '19.使领馆', '20.其他组织'];
    var CUS_TYPES2 = ['A.内资—国有企业', 'B.内资—集体企业', 'C.内资—股份合作企业', 'D.内资—联营企业',
        'E.内资—国有独资有限责任公司', 'F.内资—其他有限责任公司', 'G.内资—股份有限公司', 'H.内资—私营企业', 'I.内资—其他企业',
        'J.港.澳.台投资—合资经营企业', 'K.港.澳.台投资—合作经营企业', 'L.港.澳.台投资—独资经营企业',
        'M.港.澳.台投资—股份有限公司', 'N.外商投资—中外合资经营企业', 'O.外商投资—中外合作经营企业',
        'P.外商投资—外商独资企业', 'Q.外商投资—股份有限公司', 'R.其他类型客户'];
    var CUS_TYPES3 = ['1.国有经济—1', '2.国有经济—2', '3.集体经济', '4.私有经济', '5.港澳台经济', '6.外商经济'];
    var CUS_TYPES4 = ['00.没有进出口经营权的企业', '11.外经贸系统所属的专业外贸企业', '12.其他系统所属的专业外贸企业',
        '13.有进出口经营权的非专业外贸企业', '14.有进出口经营权的外商投资企业', '19.其他有进出口经营权的企业(非银行类)'];
    // The Australian dollar carries a trailing space in the stored value, as saved data holds it.
    var CURRENCIES = [RMB, '港币', '美元', '英镑', '欧元', '日元', '加拿大元', '澳大利亚元 ', '瑞士法郎', '新加坡元'];
    var CATEGORIES = ['一般户', '基本户', '专用户', '临时户'];
    var FOREIGN_CATEGORY = '外币户';
    var FUND_TYPES = ['基本建设资金', '更新改造资金', '财政预算外资金', '证券交易结算资金', '期货交易保证金', '信托资金',
        '政策性房地产开发资金', '金融机构存放同业资金', '单位银行卡备用金', '住房基金', '社会保障基金', '粮、棉、油收购资金',
        '收入汇缴资金和业务支出资金', '单位内部的党、团、工会经费', '粮、棉、油收购资金', '其他专项管理和使用的资金'];

    // baseInfo in the order of the saved data: customerName first, the yes/no answers and linkGender last.
    var BASE_FIELDS = ['customerName', 'customerNameEn', 'orgCertType', 'orgCertName', 'orgCertNum', 'orgCode',
        'cusType', 'business', 'cusType2', 'cusType3', 'cusType4', 'orgCertStartDate', 'orgCertEndDate', 'rgFundType',
        'rgFundAmt', 'orgArea', 'ntTaxCode', 'lcTaxCode', 'registerAddr', 'zipCode2', 'contactAddr', 'zipCode',
        'orgPhone', 'orgEmail', 'orgFax', 'represent', 'repCertType', 'repCertName', 'repCertNum', 'repPhone',
        'repMobile', 'controller', 'cfoMan', 'cfoPhone', 'cfoMobile', 'linkMan', 'linkPhone', 'linkMobile', 'linkFax',
        'prtOrgName', 'prtOrgCode', 'prtAcctCertNum', 'prtRepresent', 'prtRepCertType', 'prtRepCertName',
        'prtRepCertNum', 'repTitle', 'linkTitle', 'linkCertType', 'linkCertName', 'linkCertNum', 'fMaxItemAmt',
        'fMaxDayAmt', 'bMaxItemAmt', 'bMaxDayAmt', 'isSubOrg', 'isRep', 'hasPrtOrg', 'hasRelOrg', 'linkGender'];
    var YES_NO = ['isSubOrg', 'isRep', 'hasPrtOrg', 'hasRelOrg'];
    // Fields that are asked only after a "是" (or, for the handling person's own data, a "否").
    var DEPENDENT = {
        hasPrtOrg: ['prtOrgName', 'prtOrgCode', 'prtAcctCertNum', 'prtRepresent', 'prtRepCertType', 'prtRepCertName',
            'prtRepCertNum'],
        isRep: ['linkGender', 'linkTitle', 'linkCertType', 'linkCertName', 'linkCertNum']
    };
    // The other-information check, in order: [field, message, message with the pre-approval type or null
    // when the field is not asked then].
    var OTHER_CHECKS = [
        ['cusType', '请选择客户类型.', null], ['business', '请选择行业类型.'], ['cusType2', '请选择企业性质.'],
        ['cusType3', '请选择经济成分.'], ['cusType4', '请选择企业类型.'], ['orgCode', '请输入组织机构代码.', null],
        ['registerAddr', '请输入注册地址.'], ['contactAddr', '请输入通信地址.'], ['zipCode', '请输入邮政编码.'],
        ['represent', '请输入法定代表人姓名.', '请输入投资股东姓名.'],
        ['repCertNum', '请输入法定代表人证件号码.', '请输入投资股东证件号码.'],
        ['orgPhone', '请输入单位电话.'], ['orgEmail', '请输入电子邮件地址.'], ['orgFax', '请输入单位传真.'],
        ['linkMan', '请输入经办人.'], ['linkPhone', '请输入经办人办公电话.'], ['linkMobile', '请输入经办人移动电话.'],
        ['linkFax', '请输入经办人传真.']];

    var ACCOUNT_FORM =
        '<form class="accForm entryForm" autocomplete="off">' +
        '<div class="formHead"><span class="formNo"></span><a href="#" class="removeForm">删除此账户</a></div>' +
        '<table class="fieldTable"><tbody>' +
        '<tr><th><em>*</em>币种</th><td><select name="currency"></select></td>' +
        '<th><em>*</em>账户类别</th><td><select name="category"></select>' +
        '<span class="foreignCategory">' + FOREIGN_CATEGORY + '</span></td></tr>' +
        '<tr class="fundRow"><th><em>*</em>资金性质</th><td colspan="3"><select name="fundType"></select></td></tr>' +
        '<tr class="expireRow"><th><em>*</em>有效期至</th><td colspan="3">' +
        '<input type="text" name="expireDate" maxlength="10" class="datePick short">' +
        '<span class="hint">日期格式：yyyy-mm-dd</span></td></tr>' +
        '<tr><th><em class="useStar">*</em>账户收支范围</th><td colspan="3">' +
        '<input type="text" name="acctUse" maxlength="100" class="wide"></td></tr>' +
        '<tr class="payeeRow"><th>是否申请发薪报销功能：</th><td colspan="3"><select name="isPayeeAcc">' +
        '<option value="0">否</option><option value="1">是</option></select></td></tr>' +
        '</tbody></table></form>';

    var RELORG_FORM =
        '<form class="relOrgForm entryForm" autocomplete="off"><table class="fieldTable"><tbody><tr>' +
        '<th>关联企业名称</th><td><input type="text" name="relOrg" maxlength="60"></td>' +
        '<th>法定代表人</th><td><input type="text" name="relRepresent" maxlength="30"></td></tr>' +
        '<tr><th>组织机构代码</th><td><input type="text" name="relOrgCode" maxlength="20"></td>' +
        '<td colspan="2"><a href="#" class="removeForm">删除此关联企业</a></td></tr></tbody></table></form>';

    var $accounts, $relOrgs;
    var field = FW.page.$field;
    var value = FW.page.value;

    function preApproval() {
        return field('orgCertType').val() === PRE_APPROVAL;
    }

    function repWord() {
        return preApproval() ? '投资股东' : '法定代表人';
    }

    /* ---- accounts to open ---- */

    function accField($form, name) {
        return $form.find('[name=' + name + ']');
    }

    // The category a form stands for: the chosen one for renminbi, "外币户" for any other currency.
    function categoryOf($form) {
        return accField($form, 'currency').val() === RMB ? accField($form, 'category').val() : FOREIGN_CATEGORY;
    }

    function isTransAble(acc) {
        return acc.currency === RMB && $.inArray(acc.category, CATEGORIES) >= 0;
    }

    function accountLabel(acc) {
        return acc.acctId + '(' + acc.category + ',' + FW.trim(acc.currency) + ')';
    }

    // An account keeps the name it was given ("账户N") for its life; a new one takes the next free number.
    function nextAcctId() {
        var n = 0;
        $accounts.children('form.accForm').each(function () {
            var m = /^账户(\d+)$/.exec($(this).attr('data-acct-id') || '');
            if (m) {
                n = Math.max(n, parseInt(m[1], 10));
            }
        });
        return '账户' + (n + 1);
    }

    function showAccountFields($form) {
        var rmb = accField($form, 'currency').val() === RMB, category = categoryOf($form);
        accField($form, 'category').toggle(rmb);
        $form.find('.foreignCategory').toggle(!rmb);
        $form.find('.fundRow').toggle(category === '专用户');
        $form.find('.expireRow').toggle(category === '临时户');
        $form.find('.useStar').css('visibility', rmb ? 'hidden' : 'visible');
        $form.find('.payeeRow').toggle(category === '基本户');
        if (category !== '基本户') {
            accField($form, 'isPayeeAcc').val('0');
        }
        FW.labelFields($form);
    }

    function renumberAccounts() {
        $accounts.children('form.accForm').each(function (i) {
            $(this).find('.formNo').text($(this).attr('data-acct-id'));
            $(this).find('.removeForm').toggle(i > 0);
        });
    }

    function addAccount(acc) {
        var $form = $(ACCOUNT_FORM), id = acc && typeof acc.acctId === 'string' ? FW.trim(acc.acctId) : '';
        FW.fillSelect(accField($form, 'currency'), CURRENCIES, false);
        FW.fillSelect(accField($form, 'category'), CATEGORIES, false);
        FW.fillSelect(accField($form, 'fundType'), FUND_TYPES, false);
        // A saved name is kept unless it is unusable or taken by another account already.
        if (id === '' || id.length > 20 || $accounts.children('form.accForm').filter(function () {
            return $(this).attr('data-acct-id') === id;
        }).length) {
            id = nextAcctId();
        }
        $form.attr('data-acct-id', id);
        if (acc) {
            FW.setField(accField($form, 'currency'), acc.currency);
            accField($form, 'category').val($.inArray(acc.category, CATEGORIES) >= 0 ? acc.category : CATEGORIES[0]);
            if ($.inArray(acc.fundType, FUND_TYPES) >= 0) {
                accField($form, 'fundType').val(acc.fundType);
            }
            FW.setField(accField($form, 'expireDate'), acc.expireDate);
            FW.setField(accField($form, 'acctUse'), acc.acctUse);
            accField($form, 'isPayeeAcc').val(String(acc.isPayeeAcc) === '1' ? '1' : '0');
        }
        $accounts.append($form);
        datePicker(accField($form, 'expireDate'), {minDate: 0});
        showAccountFields($form);
        renumberAccounts();
        return $form;
    }

    function readAccounts() {
        var list = [];
        $accounts.children('form.accForm').each(function (i) {
            var $form = $(this), category = categoryOf($form), acc = {
                acctId: $form.attr('data-acct-id'),
                currency: accField($form, 'currency').val(),
                category: category,
                isBaseAcc: category === '基本户' ? 1 : 0,
                isPayeeAcc: category === '基本户' && accField($form, 'isPayeeAcc').val() === '1' ? 1 : 0,
                isTransAble: 0,
                fundType: category === '专用户' ? accField($form, 'fundType').val() : '',
                expireDate: category === '临时户' ? FW.trim(accField($form, 'expireDate').val()) : '',
                acctUse: accField($form, 'acctUse').val(),
                order: i
            };
            acc.isTransAble = isTransAble(acc) ? 1 : 0;
            list.push(acc);
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

    // A company has one basic account: a second choice of "基本户" is refused.
    function categoryChosen(select) {
        var $form = $(select.form), others;
        if (select.value === '基本户') {
            others = $accounts.children('form.accForm').not($form).filter(function () {
                return categoryOf($(this)) === '基本户';
            });
            if (others.length) {
                window.alert('基本账户只能有一个，请先修改前面的选择！');
                select.value = CATEGORIES[0];
                FW.markInvalid($(select), '基本账户只能有一个，请先修改前面的选择！');
            }
        }
        showAccountFields($form);
    }

    /*
     * The arrow keys change a closed list's value at once, one choice at a time. While the customer moves
     * through the categories that way the fields follow, and the basic-account rule waits until the choice
     * is settled: on leaving the list or on Enter. A choice made with the mouse is checked at once.
     */
    var CATEGORY_KEYS = [33, 34, 35, 36, 37, 38, 39, 40];

    function bindCategory() {
        $accounts.on('keydown', '[name=category]', function (e) {
            if ($.inArray(e.which, CATEGORY_KEYS) >= 0) {
                $(this).data('keyed', true);
            }
        });
        $accounts.on('change', '[name=category]', function () {
            if ($(this).data('keyed')) {
                showAccountFields($(this.form));
            } else {
                categoryChosen(this);
            }
        });
        $accounts.on('blur', '[name=category]', function () {
            var select = this;
            if ($(select).data('keyed')) {
                $(select).data('keyed', false);
                if (select.value === '基本户') {
                    categoryChosen(select);
                    if (select.value !== '基本户') {
                        window.setTimeout(function () {
                            select.focus();
                        }, 0);
                    }
                }
            }
        });
    }

    function accountCheck() {
        var forms = $accounts.children('form.accForm').get(), bases = 0, i, $form, category;
        for (i = 0; i < forms.length; i++) {
            $form = $(forms[i]);
            category = categoryOf($form);
            if (category === '临时户' && FW.isEmpty(accField($form, 'expireDate').val())) {
                return FW.fail('请输入临时户的有效期！', accField($form, 'expireDate'));
            }
            if (category === FOREIGN_CATEGORY && FW.isEmpty(accField($form, 'acctUse').val())) {
                return FW.fail('请填写账户收支范围！', accField($form, 'acctUse'));
            }
            if (category === '基本户' && ++bases > 1) {
                return FW.fail('基本账户只能有一个，请先修改前面的选择！', accField($form, 'category'));
            }
        }
        return true;
    }

    /* ---- company data ---- */

    // The Chinese texts come from ui.datepicker-zh-CN.js; the date format is theirs (yyyy-mm-dd).
    function datePicker($input, options) {
        $input.datepicker($.extend({changeMonth: true, changeYear: true, yearRange: '-60:+30'}, options || {}));
    }

    /*
     * The calendar's lists and days say what they are to a screen reader. jQuery UI redraws the calendar
     * on every move and offers no hook after drawing, so its drawing function is wrapped.
     */
    function namePickerParts() {
        var draw = $.datepicker._updateDatepicker;
        $.datepicker._updateDatepicker = function (inst) {
            var result = draw.apply(this, arguments);
            var $div = inst.dpDiv;
            $div.attr({role: 'dialog', 'aria-label': '选择日期'});
            $div.find('select.ui-datepicker-month').attr('aria-label', '月份');
            $div.find('select.ui-datepicker-year').attr('aria-label', '年份');
            $div.find('td[data-handler=selectDay]').each(function () {
                var $td = $(this);
                $td.children('a').attr('aria-label', $td.attr('data-year') + '年' +
                    (parseInt($td.attr('data-month'), 10) + 1) + '月' + $td.children('a').text() + '日');
            });
            return result;
        };
    }

    function showCertName(typeName, cellClass, otherText) {
        var other = field(typeName).val() === otherText;
        $('.' + cellClass).css('visibility', other ? 'visible' : 'hidden');
        if (!other) {
            field(typeName.replace('Type', 'Name')).val('');
        }
    }

    // The switches of the pre-approval notice: no organisation code, the bill marks turned round, and the
    // investing shareholder where the legal representative is asked otherwise.
    function showPreApproval() {
        var pre = preApproval();
        showCertName('orgCertType', 'orgCertNameCell', '其他证件');
        $('.orgCodeCell').css('visibility', pre ? 'hidden' : 'visible');
        if (pre) {
            field('orgCode').val('');
        }
        $('.cusTypeStar').css('visibility', pre ? 'hidden' : 'visible');
        $('.billOnline').text(pre ? '×' : '√');
        $('.billPaper').text(pre ? '√' : '×');
        $('.repWord').text(repWord());
        FW.labelFields($('#companyForm, #otherForm'));
    }

    // The fields that follow the yes/no answers; fields that are not asked keep their text but are not saved.
    function showAnswers() {
        $('.prtRow').toggle(value('hasPrtOrg') === '是');
        $('.agentRow').toggle(value('isRep') !== '是');
        $('#relOrgBox').toggle(value('hasRelOrg') === '是');
        if (value('hasRelOrg') === '是' && !$relOrgs.children('form').length) {
            addRelOrg();
        }
    }

    function asked(name) {
        if (name === 'orgCode') {
            return !preApproval();
        }
        if ($.inArray(name, DEPENDENT.hasPrtOrg) >= 0) {
            return value('hasPrtOrg') === '是';
        }
        if ($.inArray(name, DEPENDENT.isRep) >= 0) {
            return value('isRep') !== '是';
        }
        return true;
    }

    function readBaseInfo() {
        var info = {}, i, name;
        for (i = 0; i < BASE_FIELDS.length; i++) {
            name = BASE_FIELDS[i];
            info[name] = asked(name) ? value(name) : '';
        }
        return info;
    }

    function addRelOrg(org) {
        var $form = $(RELORG_FORM);
        if (org) {
            FW.setField($form.find('[name=relOrg]'), org.relOrg);
            FW.setField($form.find('[name=relRepresent]'), org.relRepresent);
            FW.setField($form.find('[name=relOrgCode]'), org.relOrgCode);
        }
        $relOrgs.append($form);
        FW.labelFields($form);
        return $form;
    }

    // The related companies, when there are any: forms left wholly empty are not counted.
    function readRelOrgs() {
        var list = [];
        if (value('hasRelOrg') !== '是') {
            return list;
        }
        $relOrgs.children('form.relOrgForm').each(function () {
            var org = {relOrg: $(this).find('[name=relOrg]').val(),
                relRepresent: $(this).find('[name=relRepresent]').val(),
                relOrgCode: $(this).find('[name=relOrgCode]').val()};
            if (!FW.isEmpty(org.relOrg) || !FW.isEmpty(org.relRepresent) || !FW.isEmpty(org.relOrgCode)) {
                list.push(org);
            }
        });
        return list;
    }

    function companyCheck() {
        var v;
        if (FW.isEmpty(field('customerName').val()) && FW.isEmpty(field('customerNameEn').val())) {
            return FW.fail('请输入公司全称！', field('customerName'));
        }
        if (FW.isEmpty(field('orgCertNum').val())) {
            return FW.fail('请输入证件号码！', field('orgCertNum'));
        }
        if (field('orgCertType').val() === '其他证件') {
            v = field('orgCertName').val();
            if (FW.isEmpty(v)) {
                return FW.fail('请输入证件名称！', field('orgCertName'));
            }
            if (v.indexOf('组织机构代码') >= 0) {
                return FW.fail('请输入组织机构代码证以外的证件名称！', field('orgCertName'));
            }
        }
        if (!preApproval() && FW.isEmpty(field('orgCode').val())) {
            return FW.fail('请输入组织机构代码！', field('orgCode'));
        }
        return true;
    }

    function otherCheck() {
        var i, check, pre = preApproval();
        for (i = 0; i < OTHER_CHECKS.length; i++) {
            check = OTHER_CHECKS[i];
            if (pre && check[2] === null) {
                continue;
            }
            if (FW.isEmpty(value(check[0]))) {
                return FW.fail(pre && check[2] ? check[2] : check[1], field(check[0]));
            }
        }
        return FW.limits.check();
    }

    /* ---- the tabs ---- */

    function summaryHtml() {
        var name = baseInfo.customerName || baseInfo.customerNameEn, rows = [], i, acc;
        for (i = 0; i < accounts.length; i++) {
            acc = accounts[i];
            rows.push('<tr><td>' + FW.escapeHtml(accountLabel(acc)) + '</td><td>' +
                FW.escapeHtml(acc.fundType || acc.expireDate) + '</td><td>' + FW.escapeHtml(acc.acctUse) + '</td></tr>');
        }
        return '<h3 class="sectionHead">' + FW.escapeHtml(name) + '</h3>' +
            '<p class="note">请核对以下信息，无误后打印申请书，加盖公章并由' + repWord() +
            '或授权代理人签字后交至开户网点。</p>' +
            '<table class="summaryTable"><tbody><tr><th>组织机构代码</th><td>' + FW.escapeHtml(baseInfo.orgCode) +
            '</td><th>' + repWord() + '</th><td>' + FW.escapeHtml(baseInfo.represent) + '</td><th>经办人</th><td>' +
            FW.escapeHtml(baseInfo.linkMan) + ' ' + FW.escapeHtml(baseInfo.linkPhone) + '</td></tr>' +
            '<tr><th>通信地址</th><td colspan="3">' + FW.escapeHtml(baseInfo.contactAddr) + '</td><th>邮政编码</th><td>' +
            FW.escapeHtml(baseInfo.zipCode) + '</td></tr></tbody></table>' +
            '<table class="summaryTable"><thead><tr><th>申请开立的账户</th><th>资金性质 / 有效期至</th><th>账户收支范围</th>' +
            '</tr></thead><tbody>' + rows.join('') + '</tbody></table>' + FW.page.summaryTables();
    }

    /*
     * The checks that guard each tab, and what the tab shows when it opens. The company check guards the
     * way out of tab 1, also when a later tab is chosen there directly; later on, the other-information
     * check asks for the organisation code again.
     */
    function beforeTab(to) {
        var $users = $('#userForms'), from = $('#tabs').tabs('option', 'active');
        if (to === 0) {
            return FW.users.check($users);
        }
        if (to === 1) {
            if (!companyCheck() || !accountCheck()) {
                return false;
            }
            saveValues();
            return true;
        }
        if ((from === 0 && !companyCheck()) || !FW.users.check($users) || !accountCheck()) {
            return false;
        }
        saveValues();
        FW.page.openGrid();
        if (to === 3) {
            if (!FW.page.gridCheck()) {
                return false;
            }
            FW.page.openOther();
        } else if (to === 4) {
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

    function certText(type, name) {
        return type === '其他' || type === '其他证件' ? name : type;
    }

    function joined(a, b, sep) {
        return FW.isEmpty(a) || FW.isEmpty(b) ? FW.trim(a) + FW.trim(b) : a + sep + b;
    }

    function fillPrint($area) {
        var pre = preApproval(), rows = [], i, acc, texts = {
            orgCertTypeText: certText(baseInfo.orgCertType, baseInfo.orgCertName),
            orgCertPeriod: joined(baseInfo.orgCertStartDate, baseInfo.orgCertEndDate, ' 至 '),
            rgFund: joined(FW.trim(baseInfo.rgFundType), baseInfo.rgFundAmt, ' '),
            repWord: repWord(),
            repCertTypeText: certText(baseInfo.repCertType, baseInfo.repCertName),
            cfoPhones: joined(baseInfo.cfoPhone, baseInfo.cfoMobile, ' / '),
            linkPerson: joined(baseInfo.linkGender, baseInfo.linkTitle, ' / '),
            linkCert: joined(certText(baseInfo.linkCertType, baseInfo.linkCertName), baseInfo.linkCertNum, ' '),
            prtRepCert: joined(certText(baseInfo.prtRepCertType, baseInfo.prtRepCertName), baseInfo.prtRepCertNum, ' '),
            billOnline: pre ? '×' : '√',
            billPaper: pre ? '√' : '×'
        };
        $area.find('[data-f]').each(function () {
            var name = $(this).attr('data-f');
            $(this).text(texts.hasOwnProperty(name) ? texts[name] : (baseInfo[name] || ''));
        });
        $area.find('.prtTable').toggle(baseInfo.hasPrtOrg === '是');
        for (i = 0; i < relOrgs.length; i++) {
            rows.push('<tr><td>' + (i + 1) + '</td><td>' + FW.escapeHtml(relOrgs[i].relOrg) + '</td><td>' +
                FW.escapeHtml(relOrgs[i].relRepresent) + '</td><td>' + FW.escapeHtml(relOrgs[i].relOrgCode) + '</td></tr>');
        }
        $area.find('.relOrgRows').html(rows.join(''));
        $area.find('.relOrgTable').toggle(rows.length > 0);
        rows = [];
        for (i = 0; i < accounts.length; i++) {
            acc = accounts[i];
            rows.push('<tr><td>' + (i + 1) + '</td><td>' + FW.escapeHtml(acc.acctId) + '</td><td>' +
                FW.escapeHtml(acc.currency) + '</td><td>' + FW.escapeHtml(acc.category) + '</td><td>' +
                FW.escapeHtml(acc.fundType) + '</td><td>' + FW.escapeHtml(acc.expireDate) + '</td><td>' +
                FW.escapeHtml(acc.acctUse) + '</td></tr>');
        }
        $area.find('.openRows').html(rows.join(''));
    }

    /* ---- the host contract ---- */

    saveValues = function () {
        FW.page.collect();
        relOrgs = readRelOrgs();
    };
    makeSignature = FW.page.makeSignature;
    infoMark = FW.page.infoMark;
    preparePrintContent = FW.page.preparePrint;
    loadFromSavedData = FW.page.load;
    saveToClient = FW.page.save;

    function restoreBaseInfo(info, data) {
        var i, name;
        for (i = 0; i < BASE_FIELDS.length; i++) {
            name = BASE_FIELDS[i];
            if ($.inArray(name, YES_NO) >= 0) {
                // An answer that the saved data lacks is the fresh form's "否".
                FW.page.setValue(name, info[name] === '是' ? '是' : '否');
            } else {
                FW.page.setValue(name, info[name]);
            }
        }
        if ($.isArray(data.relOrgs)) {
            for (i = 0; i < data.relOrgs.length; i++) {
                if (data.relOrgs[i] && typeof data.relOrgs[i] === 'object') {
                    addRelOrg(data.relOrgs[i]);
                }
            }
        }
        showPreApproval();
        showCertName('repCertType', 'repCertNameCell', '其他');
        showCertName('linkCertType', 'linkCertNameCell', '其他');
        showCertName('prtRepCertType', 'prtRepCertNameCell', '其他');
        showAnswers();
    }

    /* ---- page start ---- */

    $(function () {
        $accounts = $('#accountForms');
        $relOrgs = $('#relOrgForms');
        FW.page.setup({
            readAccounts: readAccounts,
            readBaseInfo: readBaseInfo,
            clearAccounts: function () {
                $accounts.empty();
                $relOrgs.empty();
            },
            addAccount: addAccount,
            restoreBaseInfo: restoreBaseInfo,
            accountName: function (acc) {
                return acc.acctId;
            },
            currency: function (acc) {
                return FW.trim(acc.currency);
            },
            isRmb: function (acc) {
                return acc.currency === RMB;
            },
            gridLabel: accountLabel,
            gridHead: '账户',
            gridNames: {
                query: function (acc) {
                    return acc.acctId;
                },
                trans: function (acc) {
                    return acc.acctId;
                }
            },
            beforeTab: beforeTab,
            savedObject: function () {
                relOrgs = readRelOrgs();
                return {users: users, accounts: accounts, baseInfo: baseInfo, relOrgs: relOrgs};
            },
            fillPrint: fillPrint
        });

        FW.fillSelect(field('orgCertType'), ORG_CERT_TYPES, false);
        FW.fillSelect(field('cusType'), CUS_TYPES, true);
        FW.fillSelect(field('business'), FW.BUSINESS, true);
        FW.fillSelect(field('cusType2'), CUS_TYPES2, true);
        FW.fillSelect(field('cusType3'), CUS_TYPES3, true);
        FW.fillSelect(field('cusType4'), CUS_TYPES4, true);
        FW.fillSelect(field('rgFundType'), CURRENCIES, false);
        $.each(['repCertType', 'linkCertType', 'prtRepCertType'], function (i, name) {
            FW.fillSelect(field(name), FW.users.CERT_TYPES, true);
        });
        namePickerParts();
        datePicker(field('orgCertStartDate'));
        datePicker(field('orgCertEndDate'));

        field('orgCertType').on('change', showPreApproval);
        field('repCertType').on('change', function () {
            showCertName('repCertType', 'repCertNameCell', '其他');
        });
        field('linkCertType').on('change', function () {
            showCertName('linkCertType', 'linkCertNameCell', '其他');
        });
        field('prtRepCertType').on('change', function () {
            showCertName('prtRepCertType', 'prtRepCertNameCell', '其他');
        });
        $('#otherForm').on('click change', ':radio', showAnswers);
        showPreApproval();
        showCertName('repCertType', 'repCertNameCell', '其他');
        showCertName('linkCertType', 'linkCertNameCell', '其他');
        showCertName('prtRepCertType', 'prtRepCertNameCell', '其他');
        showAnswers();

        $accounts.on('change', '[name=currency]', function () {
            showAccountFields($(this.form));
        });
        bindCategory();
        $accounts.on('click', '.removeForm', function (e) {
            e.preventDefault();
            FW.removeForm(this, renumberAccounts);
        });
        $('#addAccount').on('click', function () {
            addAccount().find('[name=currency]').focus();
        });
        $('#addRelOrg').on('click', function () {
            addRelOrg().find('[name=relOrg]').focus();
        });
        $relOrgs.on('click', '.removeForm', function (e) {
            e.preventDefault();
            FW.removeForm(this);
        });
        FW.page.started();
    });
}(jQuery));
