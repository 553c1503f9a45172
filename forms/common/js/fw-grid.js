/*
 * The rights grid of step 3: one row per account, the columns 查询, 经办, 复核 (three or more users) and 授权.
 * Users are dragged from the user list into the cells and leave a cell by its close icon. The role cells of
 * the transferable accounts are merged into one cell when there are several of them; the role cells of the
 * other accounts are greyed and take no users.
 *
 * The same can be done without a mouse: a user of the list is picked with Enter or Space, and Enter or Space
 * on a cell puts the picked user there, through the same checks as a drop. The list and the grid are one Tab
 * stop each (the user or cell used last); the arrow keys move within them, and the 移除 links of the cell in
 * use follow it in the Tab order. What a key did is said through the page's status region.
 */
(function ($) {
    'use strict';

    var ROLE_NAMES = {jb: '经办', fh: '复核', sq: '授权'};
    var COLUMN_NAMES = $.extend({query: '查询'}, ROLE_NAMES);
    var KEY = {enter: 13, esc: 27, space: 32, up: 38, down: 40};
    var MOVES = {37: [0, -1], 38: [-1, 0], 39: [0, 1], 40: [1, 0]}; // [rows, columns] for Left, Up, Right, Down
    /*
     * The grid on show: {users, accounts, rows: [{query, jb, fh, sq}], roles: [...], transRows, $host}, and for
     * the keyboard: columns (query, then the roles), the picked userId (or null), the cell that holds the
     * grid's Tab stop ($active) and the row the arrow keys move from (activeRow; a merged cell spans several).
     */
    var state = null;

    function userById(id) {
        var i;
        for (i = 0; i < state.users.length; i++) {
            if (state.users[i].userId === id) {
                return state.users[i];
            }
        }
        return null;
    }

    function cellIds($cell) {
        var ids = [];
        if (!$cell) {
            return ids;
        }
        $cell.children('.gridUser').each(function () {
            ids.push(parseInt($(this).attr('data-uid'), 10));
        });
        return ids;
    }

    // A user's entry in a cell, with the close icon that takes it out again.
    function userHtml(id) {
        var user = userById(id);
        return '<span class="gridUser" data-uid="' + id + '">' + FW.escapeHtml(user ? user.userName : id) +
            '<a href="#" class="ui-icon ui-icon-close" title="移除">移除</a></span>';
    }

    // Whether a user may go into a cell; says why not.
    function dropAllowed($cell, id) {
        var row, r;
        if ($.inArray(id, cellIds($cell)) >= 0) {
            window.alert('该用户已存在。');
            return false;
        }
        if ($cell.attr('data-role') !== 'query') {
            row = state.rows[parseInt($cell.attr('data-row'), 10)];
            for (r = 0; r < state.roles.length; r++) {
                if ($.inArray(id, cellIds(row[state.roles[r]])) >= 0) {
                    window.alert('转账/发薪/报销业务中，一位用户只允许有一种操作功能。');
                    return false;
                }
            }
        }
        return true;
    }

    // An account as the page's messages name it (its `name`), else by its row label.
    function accountName(acc) {
        return acc.name || acc.label;
    }

    // The accounts a cell sets: its row's for a query cell, all transferable ones for the (merged) role cell.
    function cellPlace($cell) {
        var rows = $cell.attr('data-role') === 'query' ? [parseInt($cell.attr('data-row'), 10)] : state.transRows;
        if (rows.length > 2) {
            return accountName(state.accounts[rows[0]]) + '等' + rows.length + '个账户';
        }
        return $.map(rows, function (i) {
            return accountName(state.accounts[i]);
        }).join('、');
    }

    function userName(id) {
        var user = userById(id);
        return user ? user.userName : String(id);
    }

    /*
     * The 移除 links of a cell name their user, the column and the account; done again whenever the users of
     * the cell change. Only the links of the cell that holds the Tab stop are in the Tab order, so that Tab
     * leaves the grid after them.
     */
    function labelCell($cell) {
        var column = COLUMN_NAMES[$cell.attr('data-role')], place = cellPlace($cell);
        var inTabOrder = state.$active && state.$active[0] === $cell[0];
        $cell.children('.gridUser').each(function () {
            $(this).children('.ui-icon-close').attr({
                'aria-label': '移除 ' + userName(parseInt($(this).attr('data-uid'), 10)) + '（' + column + '，' +
                    place + '）',
                tabindex: inTabOrder ? '0' : '-1'
            });
        });
    }

    function labelAll() {
        state.$host.find('td.cell').not('.cellOff').each(function () {
            labelCell($(this));
        });
    }

    /*
     * Each accepting cell is described by its column and account; its name stays its content, the users, so
     * that what is read is what is shown. The descriptions stand out of sight beside the grid.
     */
    function describeCells($host) {
        var html = '';
        $host.find('td.cell').not('.cellOff').each(function () {
            var id = 'gridCell' + $(this).attr('data-row') + $(this).attr('data-role');
            $(this).attr({tabindex: '-1', 'aria-describedby': id});
            html += '<span id="' + id + '">' + FW.escapeHtml(COLUMN_NAMES[$(this).attr('data-role')] + '，' +
                cellPlace($(this))) + '</span>';
        });
        $host.append('<div class="gridDescs" style="display: none">' + html + '</div>');
    }

    // Moves the grid's Tab stop to a cell; row is the row the arrow keys go on from.
    function setActive($cell, row) {
        var $old = state.$active;
        state.$active = $cell;
        state.activeRow = row;
        if ($old && $old[0] !== $cell[0]) {
            $old.attr('tabindex', '-1');
            labelCell($old);
        }
        $cell.attr('tabindex', '0');
        labelCell($cell);
    }

    /*
     * The accepting cell next to the active one in a direction (dRow or dCol is 1 or -1), or null at the
     * edge. Greyed cells are passed over, and so are the other rows of a merged cell.
     */
    function nextCell(dRow, dCol) {
        var $from = state.$active, col = $.inArray($from.attr('data-role'), state.columns);
        var row = state.activeRow, $cell;
        for (;;) {
            row += dRow;
            col += dCol;
            if (row < 0 || row >= state.rows.length || col < 0 || col >= state.columns.length) {
                return null;
            }
            $cell = state.rows[row][state.columns[col]];
            if ($cell && !$cell.hasClass('cellOff') && $cell[0] !== $from[0]) {
                return {$cell: $cell, row: row};
            }
        }
    }

    function pickUser(id) {
        var was = state.picked;
        state.picked = id;
        state.$host.find('li.gridSource').each(function () {
            var on = parseInt($(this).attr('data-uid'), 10) === id;
            $(this).toggleClass('gridPicked', on).children('.gridPick').attr('aria-pressed', on ? 'true' : 'false');
        });
        if (id !== null) {
            FW.announce('已选中' + userName(id) + '，请用方向键选择单元格，按回车键放入。');
        } else if (was !== null) {
            FW.announce('已取消选中' + userName(was) + '。');
        }
    }

    // Enter or Space on a cell: the picked user goes there when a drop would be allowed.
    function placePicked($cell) {
        var id = state.picked, name;
        if (id === null) {
            FW.announce('请先在用户列表中选中一位用户。');
            return;
        }
        if (!dropAllowed($cell, id)) {
            return;
        }
        $cell.append(userHtml(id));
        labelCell($cell);
        name = userName(id);
        FW.announce($cell.attr('data-role') === 'query' ? '已允许' + name + '查询' + cellPlace($cell) + '。' :
            '已将' + name + '设为' + cellPlace($cell) + '的' + COLUMN_NAMES[$cell.attr('data-role')] + '。');
    }

    // Keys of the user list: Enter or Space picks (or drops the pick), Up and Down move among the users.
    function listKeys(e) {
        var $items = state.$host.find('.gridPick'), at = $items.index(this), id;
        if (e.which === KEY.enter || e.which === KEY.space) {
            id = parseInt($(this).parent().attr('data-uid'), 10);
            pickUser(state.picked === id ? null : id);
        } else if (e.which === KEY.up || e.which === KEY.down) {
            at += e.which === KEY.up ? -1 : 1;
            if (at >= 0 && at < $items.length) {
                $items.eq(at).focus();
            }
        } else {
            return undefined;
        }
        e.preventDefault();
        return false;
    }

    // Keys of a cell itself (not of its 移除 links): the arrows move, Enter or Space puts the picked user.
    function cellKeys(e) {
        var next;
        if (e.target !== this) {
            return undefined;
        }
        if (e.which === KEY.enter || e.which === KEY.space) {
            placePicked($(this));
        } else if (MOVES[e.which]) {
            next = nextCell(MOVES[e.which][0], MOVES[e.which][1]);
            if (next) {
                setActive(next.$cell, next.row);
                next.$cell.focus();
            }
        } else {
            return undefined;
        }
        e.preventDefault();
        return false;
    }

    /*
     * 移除: the user leaves the cell, and the focus goes to the next 移除 link of the cell, else the one
     * before, else the cell, so that a keyboard user is not thrown back to the top of the page.
     */
    function removeUser(link) {
        var $user = $(link).parent(), $cell = $user.parent(), $links = $cell.find('.ui-icon-close');
        var at = $links.index(link), id = parseInt($user.attr('data-uid'), 10), $focus;
        if (at + 1 < $links.length) {
            $focus = $links.eq(at + 1);
        } else {
            $focus = at > 0 ? $links.eq(at - 1) : $cell;
        }
        $user.remove();
        labelCell($cell);
        $focus.focus();
        FW.announce('已将' + userName(id) + '从' + cellPlace($cell) + '的' + COLUMN_NAMES[$cell.attr('data-role')] +
            '中移除。');
    }

    function headerHtml(userCount, payroll, accountHead) {
        var group = payroll ? '转账/发薪/报销' : '转账';
        if (userCount < 2) {
            return '<tr><th class="accCol">' + accountHead + '</th><th>查询</th></tr>';
        }
        if (userCount === 2) {
            return '<tr><th class="accCol" rowspan="2">' + accountHead + '</th><th rowspan="2">查询</th>' +
                '<th colspan="2" class="groupHead">' + group + '</th></tr><tr><th>经办</th><th>授权</th></tr>';
        }
        return '<tr><th class="accCol" rowspan="2">' + accountHead + '</th><th rowspan="2">查询</th>' +
            '<th colspan="3" class="groupHead">' + group + '</th></tr>' +
            '<tr><th>经办</th><th>复核</th><th>授权</th></tr>';
    }

    /*
     * With many users and accounts the grid grows far taller than the window; the user list rides down
     * beside it as the page scrolls (a relative offset, which old engines know too, and which moves no
     * drop target), so that users can still be dragged into the rows at the bottom. A list longer than the
     * window scrolls by itself.
     */
    function followScroll() {
        var $host = state && state.$host, $box, top, room;
        if (!$host || !$host.is(':visible')) {
            return;
        }
        $box = $host.children('.gridUserBox');
        $box.children('.gridUsers').css('max-height',
            Math.max(120, $(window).height() - $box.children('.boxHead').outerHeight() - 24) + 'px');
        top = $(window).scrollTop() - $host.offset().top + 8;
        room = $host.height() - $box.outerHeight();
        $box.css('top', Math.max(0, Math.min(top, room)) + 'px');
    }

    $(window).on('scroll resize', followScroll);

    // The ids of a saved list that name users of the grid, each once, in their order.
    function knownIds(list) {
        var ids = [], i, id;
        if (!$.isArray(list)) {
            return ids;
        }
        for (i = 0; i < list.length; i++) {
            id = list[i];
            if (typeof id === 'number' && userById(id) && $.inArray(id, ids) < 0) {
                ids.push(id);
            }
        }
        return ids;
    }

    FW.grid = {
        ROLE_NAMES: ROLE_NAMES,

        /*
         * Builds the grid in $host for the sorted users and accounts (each account with its number in
         * `account`, its isTransAble, its row label in `label` and, for what is said to screen readers, its name in
         * `name`) and fills it initially. The head of the
         * account column is "账号" unless accountHead names it otherwise.
         */
        build: function ($host, users, accounts, payroll, accountHead) {
            var roles = users.length >= 3 ? ['jb', 'fh', 'sq'] : (users.length === 2 ? ['jb', 'sq'] : []);
            var transRows = [], html = [], i, r, span, $table, rows = [], everybody = '', cellHtml, cells = {};
            for (i = 0; i < accounts.length; i++) {
                if (accounts[i].isTransAble === 1) {
                    transRows.push(i);
                }
            }
            span = transRows.length;
            state = {users: users, accounts: accounts, rows: rows, roles: roles, transRows: transRows, $host: $host,
                columns: ['query'].concat(roles), picked: null, $active: null, activeRow: 0};

            // Initial filling, written straight into the markup: everybody may query every account; the first
            // user initiates and the last authorises the transfers.
            for (i = 0; i < users.length; i++) {
                everybody += userHtml(users[i].userId);
            }
            cellHtml = {jb: users.length > 1 ? userHtml(users[0].userId) : '', fh: '',
                sq: users.length > 1 ? userHtml(users[users.length - 1].userId) : ''};

            html.push('<table class="rightsGrid" role="grid" aria-label="账户功能设置"><thead>' +
                headerHtml(users.length, payroll, accountHead || '账号') + '</thead><tbody>');
            for (i = 0; i < accounts.length; i++) {
                html.push('<tr><td class="accCol">' + FW.escapeHtml(accounts[i].label) + '</td>' +
                    '<td class="cell" data-row="' + i + '" data-role="query">' + everybody + '</td>');
                for (r = 0; r < roles.length; r++) {
                    if (accounts[i].isTransAble !== 1) {
                        html.push('<td class="cell cellOff" data-row="' + i + '" data-role="' + roles[r] +
                            '" aria-disabled="true"></td>');
                    } else if (i === transRows[0]) {
                        html.push('<td class="cell roleCell" data-row="' + i + '" data-role="' + roles[r] + '"' +
                            (span > 1 ? ' rowspan="' + span + '"' : '') + '>' + cellHtml[roles[r]] + '</td>');
                    }
                }
                html.push('</tr>');
            }
            html.push('</tbody></table>');

            // Each user of the list is a toggle button for the keyboard; the first is the list's Tab stop.
            var listHtml = '<ul class="gridUsers" aria-labelledby="gridUsersHead">';
            for (i = 0; i < users.length; i++) {
                listHtml += '<li class="gridSource ui-state-default" data-uid="' + users[i].userId + '">' +
                    '<span class="gridPick" role="button" aria-pressed="false" tabindex="' + (i ? '-1' : '0') +
                    '">' + FW.escapeHtml(users[i].userName) + '<span class="userTitle">' +
                    FW.escapeHtml(users[i].title) + '</span></span></li>';
            }
            listHtml += '</ul>';

            $host.empty().html('<div class="gridUserBox"><div class="boxHead" id="gridUsersHead">用户列表</div>' +
                listHtml +
                '</div><div class="gridBox">' + html.join('') + '</div>');
            $table = $host.find('table.rightsGrid');

            // Every row knows its cells; the rows of a merged cell all point at it.
            $table.find('td.cell').each(function () {
                cells[this.getAttribute('data-row') + '/' + this.getAttribute('data-role')] = $(this);
            });
            for (i = 0; i < accounts.length; i++) {
                rows.push({query: cells[i + '/query'], jb: null, fh: null, sq: null});
                for (r = 0; r < roles.length; r++) {
                    rows[i][roles[r]] = cells[(accounts[i].isTransAble === 1 ? transRows[0] : i) + '/' + roles[r]];
                }
            }

            $host.find('li.gridSource').draggable({
                helper: 'clone', appendTo: 'body', revert: 'invalid', zIndex: 1000, cursor: 'move'
            });
            $table.find('td.cell').not('.cellOff').droppable({
                accept: 'li.gridSource',
                tolerance: 'pointer',
                classes: {'ui-droppable-hover': 'cellHover'},
                drop: function (event, ui) {
                    var id = parseInt(ui.draggable.attr('data-uid'), 10);
                    if (dropAllowed($(this), id)) {
                        $(this).append(userHtml(id));
                        labelCell($(this));
                    }
                }
            });
            $table.on('click', '.ui-icon-close', function (e) {
                e.preventDefault();
                removeUser(this);
            });

            // The keyboard path beside the dragging.
            describeCells($host);
            if (rows.length) {
                setActive(rows[0].query, 0);
            }
            labelAll();
            $table.on('keydown', 'td.cell', cellKeys);
            // A cell reached by the mouse or by Tab holds the grid's Tab stop from then on.
            $table.on('focusin', 'td.cell', function () {
                if (!$(this).hasClass('cellOff') && (!state.$active || this !== state.$active[0])) {
                    setActive($(this), parseInt($(this).attr('data-row'), 10));
                }
            });
            $host.find('ul.gridUsers').on('keydown', '.gridPick', listKeys).on('focusin', '.gridPick', function () {
                $host.find('.gridPick').attr('tabindex', '-1');
                $(this).attr('tabindex', '0');
            });
            // Escape drops the pick wherever the focus is in the list or the grid.
            $host.children('.gridUserBox, .gridBox').on('keydown', function (e) {
                if (e.which === KEY.esc && state.picked !== null) {
                    pickUser(null);
                    e.preventDefault();
                    return false;
                }
                return undefined;
            });
        },

        /*
         * The grid's users in the compact form that is saved: the query users of each account and the users
         * of the (merged) role cells of the transferable accounts.
         */
        rights: function () {
            var out = {query: [], jb: [], fh: [], sq: []}, i, r, first;
            if (!state) {
                return out;
            }
            for (i = 0; i < state.rows.length; i++) {
                out.query.push(cellIds(state.rows[i].query));
            }
            if (state.transRows.length) {
                first = state.rows[state.transRows[0]];
                for (r = 0; r < state.roles.length; r++) {
                    out[state.roles[r]] = cellIds(first[state.roles[r]]);
                }
            }
            return out;
        },

        /*
         * Puts saved users back into the grid just built, in place of the initial filling. The rights come
         * from a file and are read with care: unknown users are dropped, a user stands in a cell once and in
         * one role only, roles the grid does not have stay empty. Returns false (grid untouched) when the
         * rights do not fit the grid's accounts.
         */
        fill: function (rights) {
            var i, r, role, ids, used = [], cell, html;
            if (!state || !rights || !$.isArray(rights.query) || rights.query.length !== state.rows.length) {
                return false;
            }
            for (i = 0; i < state.rows.length; i++) {
                state.rows[i].query.html($.map(knownIds(rights.query[i]), userHtml).join(''));
            }
            if (state.transRows.length) {
                for (r = 0; r < state.roles.length; r++) {
                    role = state.roles[r];
                    cell = state.rows[state.transRows[0]][role];
                    ids = knownIds(rights[role]);
                    html = '';
                    for (i = 0; i < ids.length; i++) {
                        if ($.inArray(ids[i], used) < 0) {
                            used.push(ids[i]);
                            html += userHtml(ids[i]);
                        }
                    }
                    cell.html(html);
                }
            }
            labelAll();
            return true;
        },

        built: function () {
            return state !== null;
        },

        reset: function () {
            state = null;
        },

        // One mapping per account: its own query cell, the role cells of the merged cell when transferable.
        mappings: function () {
            var list = [], i, row;
            if (!state) {
                return list;
            }
            for (i = 0; i < state.rows.length; i++) {
                row = state.rows[i];
                list.push({
                    query: cellIds(row.query),
                    trans: {jb: cellIds(row.jb && !row.jb.hasClass('cellOff') ? row.jb : null),
                        fh: cellIds(row.fh && !row.fh.hasClass('cellOff') ? row.fh : null),
                        sq: cellIds(row.sq && !row.sq.hasClass('cellOff') ? row.sq : null)}
                });
            }
            return list;
        },

        /*
         * The grid check; names.query(account) and names.trans(account) name an account in its messages.
         * Returns {ok, checkNum}. Role questions are asked once per role cell, so a merged
         * cell is asked about once, not once per account that it spans.
         */
        check: function (names) {
            var maps = FW.grid.mappings(), checkNum = 1, i, m, asked = {}, users, j, found;
            for (i = 0; i < maps.length; i++) {
                m = maps[i];
                if (asked[state.accounts[i].isTransAble === 1 ? 't' : 'r' + i]) {
                    continue;
                }
                asked[state.accounts[i].isTransAble === 1 ? 't' : 'r' + i] = true;
                if (m.trans.jb.length > 0 && m.trans.sq.length === 0) {
                    window.alert('请设置“授权”用户！');
                    return {ok: false, checkNum: checkNum};
                }
                if (m.trans.sq.length > 0 && m.trans.jb.length === 0) {
                    window.alert('请设置“经办”用户！');
                    return {ok: false, checkNum: checkNum};
                }
                if (m.trans.sq.length >= 2) {
                    checkNum = window.confirm('您选择的授权人有' + m.trans.sq.length +
                        '位，如需他们“共同授权”才可提交转账/发薪/报销业务请选择“确定”，如只需“其中一人授权”请选择“取消”') ?
                        m.trans.sq.length : 1;
                }
            }
            for (i = 0; i < maps.length; i++) {
                m = maps[i];
                if (!m.query.length && !m.trans.jb.length && !m.trans.sq.length) {
                    window.alert('请为' + names.query(state.accounts[i]) + '设置操作用户！');
                    return {ok: false, checkNum: checkNum};
                }
            }
            if (maps.length && state.accounts[0].isTransAble === 1 && state.users.length >= 2 &&
                    !maps[0].trans.jb.length && !maps[0].trans.sq.length) {
                if (!window.confirm('您的' + names.trans(state.accounts[0]) +
                        '具有转账功能，但未设置“经办”及“授权”用户，将导致转账功能无法使用，确认不设置？')) {
                    return {ok: false, checkNum: checkNum};
                }
            }
            users = state.users;
            for (j = 0; j < users.length; j++) {
                found = false;
                for (i = 0; i < maps.length && !found; i++) {
                    m = maps[i];
                    found = $.inArray(users[j].userId, m.query) >= 0 || $.inArray(users[j].userId, m.trans.jb) >= 0 ||
                        $.inArray(users[j].userId, m.trans.fh) >= 0 || $.inArray(users[j].userId, m.trans.sq) >= 0;
                }
                if (!found) {
                    window.alert('请为用户“' + users[j].userName + '”设置功能！');
                    return {ok: false, checkNum: checkNum};
                }
            }
            return {ok: true, checkNum: checkNum};
        }
    };
}(jQuery));
