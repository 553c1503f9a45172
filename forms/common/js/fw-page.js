/*
 * The flow that both application pages share: the tabs and the checks that guard them, collecting, the life
 * of the rights grid (rebuilt when the users or accounts change, refilled from saved data), the summary's
 * tables, the printed form's account, template and user tables, printing, and the host contract around the
 * page's own data. A page describes what differs once, with FW.page.setup(desc):
 *
 *   readAccounts()         the accounts of the account forms, sorted (basic first, then transferable)
 *   readBaseInfo()         baseInfo in the order of the saved data
 *   clearAccounts(), addAccount(saved)   the account forms
 *   restoreBaseInfo(info, data)          puts saved company data back into the fields
 *   accountName(acc)       the account as the printed form names it (number, or acctId)
 *   currency(acc), isRmb(acc), gridLabel(acc), gridHead (the head of the grid's account column)
 *   gridNames              {query(acc), trans(acc)}: the account in the grid check's messages
 *   beforeTab(index)       the checks and preparation that guard a tab; true lets it open
 *   savedObject()          the object that saveToClient posts, without the additions made here
 *   fillPrint($area, now)  the page's own parts of the printed form
 *
 * The page's data lives in the globals that the host's scripts and the printed form see (users, accounts,
 * baseInfo, mappings, saved, checkNum, md5Signature, baseInfoSignature); this code reads and writes them
 * through window.
 */
(function ($) {
    'use strict';

    var desc = null;
    var bypassChecks = false;   // tabs opened by the page itself (restore, reveal) pass unchecked
    var collectedKey = null;    // what the grid was built from: users and accounts as the grid shows them
    var gridStale = true;
    var pendingRights = null;   // saved grid users waiting for the grid: {key, rights}

    var page = FW.page = {};

    /* ---- fields ---- */

    // A field of the page's own forms: not one of a user, account or related-company form.
    page.$field = function (name) {
        return $('#screenArea [name=' + name + ']').not('.userForm [name], .accForm [name], .relOrgForm [name]');
    };

    // A field's value as text; for a group of radio buttons, the value of the one chosen ('' for none).
    page.value = function (name) {
        var $f = page.$field(name), v;
        if ($f.is(':radio')) {
            v = $f.filter(':checked').val();
        } else {
            v = $f.val();
        }
        return v === undefined || v === null ? '' : v;
    };

    page.setValue = function (name, value) {
        var $f = page.$field(name), v = value === null || value === undefined ? '' : String(value);
        if ($f.is(':radio')) {
            $f.each(function () {
                this.checked = this.value === v;
            });
            return;
        }
        FW.setField($f, v);
    };

    /* ---- tabs ---- */

    // A check that fails on a field of another tab opens that tab, so the focus can reach the field.
    page.reveal = function ($field) {
        var $panel = $field.closest('.ui-tabs-panel');
        if (!$panel.length || $panel.css('display') !== 'none') {
            return;
        }
        page.goTab($('#tabs').children('.ui-tabs-panel').index($panel));
    };

    // Opens a tab without its checks.
    page.goTab = function (index) {
        bypassChecks = true;
        try {
            $('#tabs').tabs('option', 'active', index);
        } finally {
            bypassChecks = false;
        }
    };

    /* ---- collecting and the grid ---- */

    function gridKey() {
        return $.toJSON([$.map(window.users, function (u) {
            return [[u.userId, u.level, u.userName, u.title]];
        }), $.map(window.accounts, function (acc) {
            return [[desc.gridLabel(acc), acc.isTransAble, acc.isPayeeAcc]];
        })]);
    }

    // saveValues: users by level, the accounts sorted, the company data. The grid is rebuilt the next time
    // step 3 opens when the users or accounts that it shows have changed.
    page.collect = function () {
        var key;
        window.users = FW.users.sort(FW.users.read($('#userForms')));
        window.accounts = desc.readAccounts();
        window.baseInfo = desc.readBaseInfo();
        key = gridKey();
        if (key !== collectedKey) {
            collectedKey = key;
            gridStale = true;
        }
    };

    page.hasPayroll = function () {
        var i;
        for (i = 0; i < window.accounts.length; i++) {
            if (window.accounts[i].isBaseAcc === 1 && window.accounts[i].isPayeeAcc === 1) {
                return true;
            }
        }
        return false;
    };

    page.resetGrid = function () {
        FW.grid.reset();
        $('#grid').empty();
        collectedKey = null;
        gridStale = true;
        pendingRights = null;
    };

    function showRoleNote() {
        var n = window.users.length, text;
        if (n < 2) {
            text = '只有一位用户时只能开通账户查询功能；如需转账功能，请增加用户。';
        } else {
            text = '“经办”录入业务，' + (n >= 3 ? '“复核”核对经办录入的业务，' : '') +
                '“授权”最终审批并提交业务。同一账户的转账/发薪/报销业务中，一位用户只能担任一种角色。';
        }
        $('#roleNote').html('<p>请将左侧“用户列表”中的用户拖入右侧表格，为每个账户设置操作用户；点击用户名旁的×可移除。' +
            '使用键盘时，在用户列表中用上下方向键选择用户、按回车键选中，再按Tab键进入表格，用方向键选择单元格、按回车键放入；' +
            '单元格中的“移除”可用Tab键到达。</p>' +
            '<p>' + FW.escapeHtml(text) + '</p>' +
            '<p>灰色单元格所在账户不具备转账功能；多个可转账账户的转账角色合并设置。</p>');
    }

    // Step 3: the grid for the collected users and accounts, refilled from saved data when it fits them.
    page.openGrid = function () {
        var rows;
        if (gridStale || !FW.grid.built()) {
            rows = $.map(window.accounts, function (acc) {
                return $.extend({label: desc.gridLabel(acc), name: desc.gridNames.query(acc)}, acc);
            });
            FW.grid.build($('#grid'), window.users, rows, page.hasPayroll(), desc.gridHead);
            gridStale = false;
            if (pendingRights && pendingRights.key === collectedKey) {
                FW.grid.fill(pendingRights.rights);
            }
            pendingRights = null;
        }
        showRoleNote();
    };

    page.gridCheck = function () {
        var result = FW.grid.check(desc.gridNames);
        window.checkNum = result.checkNum;
        return result.ok;
    };

    // Step 4: mappings from the grid, and the limit inputs that they call for.
    page.openOther = function () {
        window.mappings = FW.grid.mappings();
        FW.limits.show(window.mappings, window.accounts);
    };

    /*
     * The grid's users as the saved data carries them, beside (not inside) the objects that the marks are
     * made of: {query: [[userId, ...] per account], jb, fh, sq: [userId, ...], checkNum}. The userIds are those
     * of the saved users. Nothing when the grid does not show the collected data.
     */
    function savedRights() {
        var r;
        if (FW.grid.built() && !gridStale) {
            r = FW.grid.rights();
        } else if (pendingRights && pendingRights.key === collectedKey) {
            r = pendingRights.rights;
        } else {
            return null;
        }
        return {query: r.query, jb: r.jb, fh: r.fh, sq: r.sq, checkNum: window.checkNum};
    }

    /*
     * After a restore: the saved grid users wait for the grid, their userIds turned into those of the
     * restored user forms (the saved users come back in their saved order). Older saved data has no rights.
     */
    function restoreRights(data) {
        var r = data.rights, map = {}, i, n;
        pendingRights = null;
        window.checkNum = 1;
        if (!r || typeof r !== 'object' || !$.isArray(r.query) || !$.isArray(data.users)) {
            return;
        }
        for (i = 0; i < data.users.length; i++) {
            if (data.users[i] && typeof data.users[i].userId === 'number') {
                map['u' + data.users[i].userId] = i + 1;
            }
        }
        function ids(list) {
            return $.isArray(list) ? $.map(list, function (id) {
                return map.hasOwnProperty('u' + id) ? map['u' + id] : null;
            }) : [];
        }
        pendingRights = {key: collectedKey, rights: {
            query: $.map(r.query, function (list) {
                return [ids(list)];
            }),
            jb: ids(r.jb), fh: ids(r.fh), sq: ids(r.sq)
        }};
        n = parseInt(r.checkNum, 10);
        window.checkNum = n >= 1 && n <= window.users.length ? n : 1;
    }

    /* ---- the host contract ---- */

    // loadFromSavedData: the forms from the variable saved, or a fresh form.
    page.load = function () {
        var data = window.saved || {}, i, $users = $('#userForms');
        $users.empty();
        desc.clearAccounts();
        page.resetGrid();
        if (!data.users) {
            FW.users.add($users);
            desc.addAccount();
        } else {
            if ($.isArray(data.users) && data.users.length) {
                for (i = 0; i < data.users.length; i++) {
                    FW.users.add($users, data.users[i] || {});
                }
            } else {
                FW.users.add($users);
            }
            if ($.isArray(data.accounts) && data.accounts.length) {
                for (i = 0; i < data.accounts.length; i++) {
                    desc.addAccount(data.accounts[i] || {});
                }
            } else {
                desc.addAccount();
            }
            desc.restoreBaseInfo(data.baseInfo && typeof data.baseInfo === 'object' ? data.baseInfo : {}, data);
        }
        page.collect();
        restoreRights(data);
        page.goTab(0);
        page.$field('customerName').focus();
    };

    // saveToClient: collect, then post the page's object with the grid's users added.
    page.save = function () {
        var obj, rights;
        page.collect();
        obj = desc.savedObject();
        rights = savedRights();
        if (rights) {
            obj.rights = rights;
        }
        FW.postSave(obj, $('#screenArea'));
    };

    /* ---- summary and printed form ---- */

    function userNames(ids) {
        var out = [], i, j;
        for (i = 0; i < ids.length; i++) {
            for (j = 0; j < window.users.length; j++) {
                if (window.users[j].userId === ids[i]) {
                    out.push(window.users[j].userName);
                }
            }
        }
        return out.join('、');
    }

    function cell(text) {
        return '<td>' + FW.escapeHtml(text) + '</td>';
    }

    page.amount = function (s) {
        return FW.isEmpty(s) ? '' : FW.formatAmount(FW.trim(s));
    };

    // The summary's users, the accounts with their users per role, the joint authorisation and the limits.
    page.summaryTables = function () {
        var html = [], users = window.users, info = window.baseInfo, i, m, names, amount = page.amount;
        html.push('<table class="summaryTable"><thead><tr><th>用户</th><th>部门职位</th><th>证件号码</th>' +
            '<th>移动电话</th></tr></thead><tbody>');
        for (i = 0; i < users.length; i++) {
            html.push('<tr>' + cell(users[i].userName) + cell(users[i].title) + cell(users[i].certNum) +
                cell(users[i].mobile) + '</tr>');
        }
        html.push('</tbody></table>');
        html.push('<table class="summaryTable"><thead><tr><th>账户</th><th>查询</th><th>经办</th><th>复核</th>' +
            '<th>授权</th></tr></thead><tbody>');
        for (i = 0; i < window.accounts.length; i++) {
            m = window.mappings[i];
            names = [m.query, m.trans.jb, m.trans.fh, m.trans.sq];
            html.push('<tr>' + cell(desc.gridLabel(window.accounts[i])) + $.map(names, function (ids) {
                return cell(userNames(ids));
            }).join('') + '</tr>');
        }
        html.push('</tbody></table>');
        if (window.checkNum > 1) {
            html.push('<p class="note">授权方式：' + window.checkNum + '位授权人共同授权。</p>');
        }
        if (!FW.isEmpty(info.bMaxItemAmt)) {
            html.push('<p class="note">转账限额：每笔 ' + FW.escapeHtml(amount(info.bMaxItemAmt)) + ' 元，每日 ' +
                FW.escapeHtml(amount(info.bMaxDayAmt)) + ' 元' + (FW.isEmpty(info.fMaxItemAmt) ? '' :
                '；发薪限额：每笔 ' + FW.escapeHtml(amount(info.fMaxItemAmt)) + ' 元，每日 ' +
                FW.escapeHtml(amount(info.fMaxDayAmt)) + ' 元') + '。</p>');
        }
        return html.join('');
    };

    // The account table, the list of services, the authorisation templates, the users and the date.
    function fillPrintTables($area, now) {
        var accounts = window.accounts, mappings = window.mappings, users = window.users, info = window.baseInfo;
        var i, j, m, roles, rows = [], useA = false, useB = false, usePay = false, pos = 0, services = [];
        var tplRoles = null, tpl2 = false, tplHtml = [], userRows = [], u, q, t, amount = page.amount;
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
            rows.push('<tr>' + cell(pos) + cell(desc.accountName(accounts[i])) + cell(desc.currency(accounts[i])) +
                cell(i === 0 && desc.isRmb(accounts[i]) ? '是' : '否') +
                cell((m.query.length ? 'A　' : '') + (roles ? 'B　' : '')) + cell(roles ? '模板1' : '') +
                cell(m.trans.fh.length ? '是' : '否') + cell(roles ? amount(info.bMaxItemAmt) : '') +
                cell(roles ? amount(info.bMaxDayAmt) : '') + '</tr>');
            if (accounts[i].isPayeeAcc === 1) {
                usePay = true;
                t = FW.trim(info.fMaxItemAmt) !== FW.trim(info.bMaxItemAmt);
                tpl2 = tpl2 || t;
                rows.push('<tr class="payRow"><td></td>' + cell(desc.accountName(accounts[i])) +
                    cell(desc.currency(accounts[i])) + '<td></td>' + cell('FA　FB') +
                    cell(t ? '模板2' : '模板1') + cell(m.trans.fh.length ? '是' : '否') +
                    cell(amount(info.fMaxItemAmt)) + cell(amount(info.fMaxDayAmt)) + '</tr>');
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

        function template(name, title, item, day) {
            tplHtml.push('<table class="printTable tplTable"><tbody><tr><th rowspan="2">' + name + '</th><th>' +
                title + '</th><th>经办</th>' + cell(userNames(tplRoles.jb)) + '<th>复核</th>' +
                cell(userNames(tplRoles.fh) || '无') + '<th>授权</th>' + cell(userNames(tplRoles.sq)) +
                '</tr><tr><th>授权方式</th><td colspan="3">' +
                (window.checkNum > 1 ? '共同授权（' + window.checkNum + '人）' : '其中一人授权') +
                '</td><th>限额(元)</th><td colspan="2">每笔 ' + FW.escapeHtml(amount(item)) + '，每日 ' +
                FW.escapeHtml(amount(day)) + '</td></tr></tbody></table>');
        }
        if (tplRoles) {
            template('模板1', usePay && !tpl2 ? '转账/发薪/报销' : '转账', info.bMaxItemAmt, info.bMaxDayAmt);
            if (tpl2) {
                template('模板2', '发薪/报销', info.fMaxItemAmt, info.fMaxDayAmt);
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
        $area.find('.printDate').text(now.getFullYear() + '年' + (now.getMonth() + 1) + '月' + now.getDate() + '日');
    }

    page.makeSignature = function (now) {
        var result = FW.makeSignature({users: window.users, accounts: window.accounts, baseInfo: window.baseInfo,
            mappings: window.mappings}, now || new Date());
        window.md5Signature = result.md5Signature;
        return result.mark;
    };

    page.infoMark = function (now, whenShown) {
        window.baseInfoSignature = FW.infoMark(window.baseInfo, window.accounts.length, window.users.length,
            now || new Date());
        FW.requestQr(window.baseInfoSignature, whenShown);
        return window.baseInfoSignature;
    };

    /*
     * WebKit cuts a table row at a page end whatever the print styles ask, but it never cuts a table that asks
     * to stay whole. So a printed table keeps its head and its first row, and every later row follows in a table
     * of its own with the same <colgroup>: the columns line up, the head never stands alone at a page end, and a
     * row only leaves its sheet whole. Each row's body keeps the class of the body it came from, where the
     * page's fill and its readers look for the rows.
     */
    page.keepRowsWhole = function ($area) {
        $area.find('table.printTable').each(function () {
            var $table = $(this), $cols = $table.children('colgroup'), $last = $table;
            if (!$cols.length) {
                return;
            }
            $table.addClass('keptRow');
            $table.children('tbody').children('tr').slice(1).each(function () {
                var $row = $(this), $own = $('<table></table>').attr('class', $table.attr('class'));
                $own.append($cols.clone()).append($('<tbody></tbody>').attr('class', $row.parent().attr('class') || '')
                    .append($row));
                $last.after($own);
                $last = $own;
            });
        });
    };

    // preparePrintContent: the template copied into the printable area and filled, the marks made;
    // whenReady (when given) runs once the QR picture of this print is shown.
    page.preparePrint = function (whenReady) {
        var now = new Date(), $area = $('#printArea');
        $area.html($('#printTemplate').html());
        $area.find('[data-id=encryption]').attr('id', 'encryption');
        page.makeSignature(now);
        desc.fillPrint($area, now);
        fillPrintTables($area, now);
        page.keepRowsWhole($area);
        page.infoMark(now, typeof whenReady === 'function' ? whenReady : null);
    };

    /*
     * The print command runs once this print's QR picture is shown; without it nothing is printed (a form
     * without its picture, or with an earlier print's, is of no use to the bank) and the customer is told, and
     * a later click tries again. The printable area keeps its content afterwards: WebKit draws the pages after
     * window.print() has returned, and its print styles show the printable area in place of the screen area;
     * the next print fills it afresh.
     */
    var printing = false;
    var qrFailedText = '生成二维码图片失败，本次未打印申请表，请重试。';
    function printWith(command, option) {
        if (printing) {
            return; // a second click while the picture is on its way
        }
        printing = true;
        try {
            page.preparePrint(run);
        } catch (e) {
            printing = false; // a later click may try again
            throw e;
        }
        function run(shown) {
            if (!shown) {
                printing = false;
                window.alert(qrFailedText);
                return;
            }
            $('body').addClass('printing');
            $('#screenArea').hide();
            $('#printArea').show();
            try {
                FW.browserCommand(command, option);
            } finally {
                $('#screenArea').show();
                $('#printArea').hide();
                $('body').removeClass('printing');
                printing = false;
            }
        }
    }

    /* ---- page start ---- */

    /*
     * Each step gets a heading for screen readers, its tab's title, which takes the focus when the step opens.
     * Once the tabs have found their panels, the links inside the tabs lose their addresses: the tab itself is
     * the one control, and a screen reader reads each step's title once.
     */
    function stepHeadings() {
        $('#tabs').children('.ui-tabs-nav').children('li').each(function () {
            var $panel = $('#' + $(this).attr('aria-controls'));
            $panel.prepend($('<h2 class="stepHead srOnly" tabindex="-1"></h2>').text($(this).text()));
        }).children('a').removeAttr('href');
    }

    // Tabs whose links have no address are this page's own panels, never content to fetch.
    $.widget('ui.tabs', $.ui.tabs, {
        _isLocal: function (anchor) {
            return !anchor.getAttribute('href') || this._super(anchor);
        }
    });

    page.setup = function (description) {
        var $users = $('#userForms');
        desc = description;
        FW.pageStart();
        FW.fail = (function (fail) {
            return function (message, $field) {
                if ($field && $field.length) {
                    page.reveal($field);
                }
                return fail(message, $field);
            };
        }(FW.fail));
        FW.users.bind($users);
        $('#addUser').on('click', function () {
            FW.users.add($users).find('[name=userName]').focus();
        });
        $('#tabs').tabs({
            beforeActivate: function (event, ui) {
                return bypassChecks || desc.beforeTab(ui.newTab.index());
            },
            activate: function (event, ui) {
                $(window).triggerHandler('scroll');
                // A step opened by a button or by a click puts the focus on its heading; one opened with the
                // arrow keys of the step list leaves it there, and one the page opened itself is left alone.
                if (!bypassChecks && !$(document.activeElement).closest('.ui-tabs-nav').length) {
                    ui.newPanel.children('.stepHead').focus();
                }
            }
        });
        stepHeadings();
        $('.nextStep').on('click', function () {
            $('#tabs').tabs('option', 'active', parseInt($(this).attr('data-to'), 10));
        });
        $('button').button();
        FW.labelFields($('#screenArea'));
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
    };

    // The end of page start: the company name takes the focus; "?reload" loads the saved data by itself.
    page.started = function () {
        page.$field('customerName').focus();
        if (window.location.href.indexOf('?reload') >= 0) {
            window.loadFromSavedData();
        }
    };
}(jQuery));
