/*
 * The limits of step 4: per-transaction and per-day amounts for transfers (bMaxItemAmt, bMaxDayAmt) and for
 * payroll (fMaxItemAmt, fMaxDayAmt). The inputs live in the page's rows "#bLimitRow" and "#fLimitRow".
 */
(function ($) {
    'use strict';

    var ITEM_MAX = 100000000000;  // 一千亿
    var DAY_MAX = 500000000000;   // 五千亿

    function input(name) {
        return $('[name=' + name + ']');
    }

    function checkPair(prefix, itemName, dayName) {
        var $item = input(itemName), $day = input(dayName);
        var item = FW.trim($item.val()), day = FW.trim($day.val());
        if (item === '') {
            return FW.fail('请输入' + prefix + '每笔最高金额', $item);
        }
        if (!FW.isAmount(item)) {
            return FW.fail(prefix + '每笔最高金额必须为数字', $item);
        }
        if (day === '') {
            return FW.fail('请输入' + prefix + '每日最高金额', $day);
        }
        if (!FW.isAmount(day)) {
            return FW.fail(prefix + '每日最高金额必须为数字', $day);
        }
        if (FW.amountInt(item) > FW.amountInt(day)) {
            return FW.fail(prefix + '每笔最高金额不可大于每日最高金额.', $item);
        }
        if (FW.amountInt(item) > ITEM_MAX) {
            return FW.fail(prefix + '每笔最高金额不可大于一千亿.', $item);
        }
        if (FW.amountInt(day) > DAY_MAX) {
            return FW.fail(prefix + '每日最高金额不可大于五千亿.', $day);
        }
        return true;
    }

    FW.limits = {
        NAMES: ['fMaxItemAmt', 'fMaxDayAmt', 'bMaxItemAmt', 'bMaxDayAmt'],

        /*
         * Shows the transfer limits when some account has both 经办 and 授权 users and some account is
         * transferable, and the payroll limits as well when a payroll account exists. Limits that are not
         * asked are emptied.
         */
        show: function (mappings, accounts) {
            var both = false, trans = false, payroll = false, i;
            for (i = 0; i < mappings.length; i++) {
                if (mappings[i].trans.jb.length && mappings[i].trans.sq.length) {
                    both = true;
                }
            }
            for (i = 0; i < accounts.length; i++) {
                if (accounts[i].isTransAble === 1) {
                    trans = true;
                }
                if (accounts[i].isPayeeAcc === 1) {
                    payroll = true;
                }
            }
            var showB = both && trans, showF = showB && payroll;
            $('#bLimitRow').toggle(showB);
            $('#fLimitRow').toggle(showF);
            $('#noLimitNote').toggle(!showB);
            if (!showB) {
                input('bMaxItemAmt').val('');
                input('bMaxDayAmt').val('');
            }
            if (!showF) {
                input('fMaxItemAmt').val('');
                input('fMaxDayAmt').val('');
            }
        },

        // Payroll first, then transfers, each only when its inputs are shown.
        check: function () {
            if (FW.limits.shown('f') && !checkPair('发薪', 'fMaxItemAmt', 'fMaxDayAmt')) {
                return false;
            }
            if (FW.limits.shown('b') && !checkPair('转账', 'bMaxItemAmt', 'bMaxDayAmt')) {
                return false;
            }
            return true;
        },

        shown: function (name) {
            return $(name.charAt(0) === 'f' ? '#fLimitRow' : '#bLimitRow').css('display') !== 'none';
        }
    };
}(jQuery));
