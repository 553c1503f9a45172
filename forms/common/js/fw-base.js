/*
 * Shared helpers of the application form pages: text rules, the page's start-up behaviour, the requests
 * the page makes of its host (SAVE, RESET, CREATE_PNG) and the browser's print commands.
 * Loaded after jQuery and before the other fw-*.js files; everything lives on the object FW.
 */
var FW = window.FW || {};

(function ($) {
    'use strict';

    // Leading and trailing blanks of an entry; the ideographic space U+3000 counts as blank too.
    FW.trim = function (s) {
        return String(s === null || s === undefined ? '' : s).replace(/^[\s\u3000]+|[\s\u3000]+$/g, '');
    };

    FW.isEmpty = function (s) {
        return FW.trim(s) === '';
    };

    // Only the characters 0 to 9: account, identity and mobile numbers.
    FW.isNumber = function (s) {
        return /^[0-9]+$/.test(String(s));
    };

    // An amount in yuan as typed: digits with at most one decimal point.
    FW.isAmount = function (s) {
        return /^([0-9]+\.?[0-9]*|\.[0-9]+)$/.test(String(s));
    };

    // The whole yuan of an amount (the part before any "."), as a number; an empty part is 0.
    FW.amountInt = function (s) {
        var head = String(s).split('.')[0];
        return head === '' ? 0 : parseInt(head, 10);
    };

    // "1234567.5" -> "1,234,567.5" for the printed form.
    FW.formatAmount = function (s) {
        var parts = String(s).split('.'), head = parts[0], out = '';
        while (head.length > 3) {
            out = ',' + head.substring(head.length - 3) + out;
            head = head.substring(0, head.length - 3);
        }
        out = head + out;
        return parts.length > 1 ? out + '.' + parts.slice(1).join('.') : out;
    };

    FW.pad2 = function (n) {
        var s = String(n);
        return s.length < 2 ? '0' + s : s;
    };

    /*
     * Text for an HTML attribute in double quotes. The quotes, the apostrophe and the space become entities,
     * so a space in the data comes back from the host as a non-breaking space; "&", "<" and ">" are escaped
     * as well, so that text which happens to look like an entity reaches the host unchanged.
     */
    FW.htmlspecialchars = function (s) {
        return String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
            .replace(/"/g, '&quot;').replace(/'/g, '&#039;').replace(/ /g, '&nbsp;');
    };

    // Plain text for insertion into markup built as a string.
    FW.escapeHtml = function (s) {
        return String(s === null || s === undefined ? '' : s).replace(/&/g, '&amp;').replace(/</g, '&lt;')
            .replace(/>/g, '&gt;').replace(/"/g, '&quot;').replace(/'/g, '&#039;');
    };

    // The business types of both forms, in the order offered.
    FW.BUSINESS = ['01.农、林、牧、渔业', '02.采矿业', '03.制造业', '04.电力、燃气及水的生产和供应业', '05.建筑业',
        '06.交通运输、仓储和邮政业', '07.信息传输、计算机服务和软件业', '08.批发和零售业', '09.住宿和餐饮业',
        '10.金融业-银行业', '11.金融业-证券公司', '12.金融业-基金', '13.金融业-期货交易所', '14.金融业-期货公司',
        '15.金融业-保险业', '16.金融业-金融信托与管理', '17.金融业-财务公司', '18.金融业-其他', '19.房地产业',
        '20.租赁业和商务服务业', '21.科学研究、技术服务和地质勘查业', '22.水利、环境和公共设施管理业',
        '23.居民服务和其他服务业', '24.教育', '25.卫生、社会保障和社会福利业', '26.文化、体育和娱乐业',
        '27.公共管理和社会组织', '28.国际组织', '29.其他'];

    var currencyNames = {
        '001': '人民币', '012': '英镑', '013': '港币', '014': '美元', '015': '瑞士法郎', '018': '新加坡元',
        '021': '瑞典克郎', '022': '丹麦克郎', '023': '挪威克郎', '027': '日元', '028': '加拿大元',
        '029': '澳大利亚元', '038': '欧元', '081': '澳元', '084': '泰国株', '088': '韩元',
        '095': '清算瑞士法郎', '999': '卢布'
    };

    // Currency of an account by the last three digits of its number.
    FW.currencyName = function (account) {
        var s = String(account), tail = s.substring(s.length - 3);
        return currencyNames.hasOwnProperty(tail) ? currencyNames[tail] : '未知';
    };

    // A renminbi account has "001" in characters 16 to 18 of its number, whatever follows them.
    FW.isRmbAccount = function (account) {
        return String(account).substring(15, 18) === '001';
    };

    // MD5 in lower-case hexadecimal over the UTF-8 bytes of the text (blueimp-md5 encodes first).
    FW.md5 = function (s) {
        return window.md5(String(s));
    };

    // Fills the <select> with an empty "请选择" choice (when asked) and the given values.
    FW.fillSelect = function ($select, values, withEmpty) {
        var html = withEmpty ? '<option value="">请选择</option>' : '', i;
        for (i = 0; i < values.length; i++) {
            html += '<option value="' + FW.escapeHtml(values[i]) + '">' + FW.escapeHtml(values[i]) + '</option>';
        }
        $select.html(html);
    };

    /*
     * Sets a field's value. A choice list always holds one of its choices: a value it does not offer (or none)
     * gives its default, the choice marked selected in its markup or else its first one, which for a list
     * headed by "请选择" is that empty choice. Saved data brings its spaces back as non-breaking spaces, so a
     * choice such as "澳大利亚元 " is also found under that spelling.
     */
    FW.setField = function ($field, value) {
        var v = value === null || value === undefined ? '' : String(value), $default;
        $field.val(v);
        if ($field.is('select') && $field.val() !== v) {
            v = v.replace(/\u00a0/g, ' ');
            $field.val(v);
            if ($field.val() !== v) {
                $field.each(function () {
                    $default = $(this.options).filter(function () {
                        return this.defaultSelected;
                    });
                    this.selectedIndex = $default.length ? $default[0].index : 0;
                });
            }
        }
    };

    /*
     * Says a short text to screen readers through the page's polite status region (#fwStatus), without
     * showing it. The region is emptied first, so that the same text said twice is heard twice.
     */
    FW.announce = function (text) {
        var $live = $('#fwStatus');
        $live.text('');
        window.setTimeout(function () {
            $live.text(text);
        }, 100);
    };

    var idCount = 0;

    function idOf(el) {
        if (!el.id) {
            idCount += 1;
            el.id = 'fw' + idCount;
        }
        return el.id;
    }

    // Adds or removes one id in a list of ids such as aria-describedby.
    function idList(el, attr, id, present) {
        var ids = $.grep((el.getAttribute(attr) || '').split(/\s+/), function (x) {
            return x !== '' && x !== id;
        });
        if (present) {
            ids.unshift(id);
        }
        if (ids.length) {
            el.setAttribute(attr, ids.join(' '));
        } else {
            el.removeAttribute(attr);
        }
    }

    /*
     * Names the controls of the entry tables for screen readers: each one by the heading cell before it in
     * its row, after the form's number ("用户2") where the form has one; radio buttons as a group under that
     * heading; the hints of the cell as their description; aria-required where the heading shows its "*".
     * Runs again after a "*" is shown or hidden, and for every form that is added; controls named in the
     * markup keep their names. Each 删除 link is described by its form's number.
     */
    FW.labelFields = function ($root) {
        $root.find('.formNo').each(function () {
            $(this).closest('form').find('.removeForm').attr('aria-describedby', idOf(this));
        });
        $root.find('table.fieldTable td').each(function () {
            var $td = $(this), $th = $td.prev('th'), $controls, $radios, thId, required, $star, hints, $no;
            $controls = $td.find('input, select').not('[type=hidden], :radio, :checkbox');
            $radios = $td.find(':radio');
            if (!$th.length || !($controls.length || $radios.length)) {
                return;
            }
            thId = idOf($th[0]);
            $no = $td.closest('form').find('.formNo');
            if ($no.length) {
                thId = idOf($no[0]) + ' ' + thId;
            }
            $star = $th.children('em');
            $star.attr('aria-hidden', 'true');
            required = $star.length > 0 && $star.css('visibility') !== 'hidden' && $star.css('display') !== 'none';
            hints = $.map($td.find('.hint, .accInfo').get(), idOf);
            if ($radios.length && !$td.children('[role=radiogroup]').length) {
                $td.wrapInner('<span role="radiogroup"></span>');
            }
            $td.children('[role=radiogroup]').attr('aria-labelledby', thId);
            $controls.each(function () {
                var i;
                if (!this.getAttribute('aria-labelledby')) {
                    this.setAttribute('aria-labelledby', thId);
                }
                for (i = hints.length - 1; i >= 0; i--) {
                    idList(this, 'aria-describedby', hints[i], true);
                }
                if (required) {
                    this.setAttribute('aria-required', 'true');
                } else {
                    this.removeAttribute('aria-required');
                }
            });
        });
    };

    // What "the field changes" compares: a check box's state, any other field's value.
    function fieldState(el) {
        return el.type === 'checkbox' || el.type === 'radio' ? String(el.checked) : el.value;
    }

    /*
     * A failed check's mark on its field: aria-invalid, and the message beside the field (after the label
     * that holds a check box), tied to it as its first description, until the field changes.
     */
    FW.markInvalid = function ($field, message) {
        var el = $field[0], $msg, $after;
        FW.clearInvalid($field);
        $after = $field.closest('label');
        $after = $after.length ? $after : $field;
        $msg = $('<span class="fieldError"></span>').text(message);
        $after.last().after($msg);
        idList(el, 'aria-describedby', idOf($msg[0]), true);
        $field.attr('aria-invalid', 'true').data('fwError', $msg).data('fwErrorState', fieldState(el));
    };

    FW.clearInvalid = function ($field) {
        $field.each(function () {
            var $msg = $(this).data('fwError');
            if ($msg) {
                idList(this, 'aria-describedby', $msg[0].id, false);
                $msg.remove();
                $(this).removeData('fwError');
            }
            $(this).removeAttr('aria-invalid');
        });
    };

    /*
     * The 删除 link of a user, account or related-company form: the form goes, the focus moves to the first
     * field of the form that takes its place (or of the one before it), and the removal is announced.
     */
    FW.removeForm = function (link, renumber) {
        var $form = $(link).closest('form'), $to = $form.next('form'), $no = $form.find('.formNo');
        var name = $no.length ? $no.text() : $(link).text().replace(/^删除/, '');
        if (!$to.length) {
            $to = $form.prev('form');
        }
        $form.remove();
        if (renumber) {
            renumber();
        }
        $to.find('input, select').not('[type=hidden]').filter(':visible').first().focus();
        FW.announce('已删除' + name + '。');
    };

    // Reports a failed check, marks the field and leaves the focus on it.
    FW.fail = function (message, $field) {
        window.alert(message);
        if ($field && $field.length) {
            FW.markInvalid($field.first(), message);
            try {
                $field.focus();
            } catch (e) { /* a hidden field cannot take the focus */ }
        }
        return false;
    };

    /*
     * Page start: no context menu, no reload by F5 or Ctrl+R, and Enter moves to the next field of the same
     * form instead of submitting it.
     */
    FW.pageStart = function () {
        $(document).on('contextmenu', function () {
            return false;
        });
        $(document).on('keydown', function (e) {
            if (e.which === 116 || (e.ctrlKey && e.which === 82)) {
                try {
                    e.originalEvent.keyCode = 0; // the old engine only forgets the key this way
                } catch (ignore) { /* read-only in newer engines */ }
                e.preventDefault();
                return false;
            }
            return undefined;
        });
        $(document).on('keydown', 'form input, form select', function (e) {
            if (e.which !== 13) {
                return undefined;
            }
            var elements = $(this.form).find('input, select, textarea, button')
                .filter(':visible').not(':disabled').not('[type=hidden]');
            var at = elements.index(this);
            if (at >= 0 && at + 1 < elements.length) {
                elements.eq(at + 1).focus();
            }
            e.preventDefault();
            return false;
        });
        // A failed check's mark stays until the field changes.
        $(document).on('input change', '[aria-invalid=true]', function () {
            if (fieldState(this) !== $(this).data('fwErrorState')) {
                FW.clearInvalid($(this));
            }
        });
        // The entry forms are never sent anywhere themselves.
        $(document).on('submit', 'form.entryForm', function () {
            return false;
        });
    };

    /*
     * The saved data goes to the host as JSON in the hidden field CCC of a form posted to SAVE. The host
     * hands the text back through JSON.parse(unescape(decodeURI(...))): "%" is written as a JSON escape so
     * that the unescape step cannot turn a "%41" in the data into "A", and the line and paragraph
     * separators are escaped because the host's script string may not hold them.
     */
    FW.saveJson = function (obj) {
        return $.toJSON(obj).replace(/%/g, '\\u0025').replace(/\u2028/g, '\\u2028').replace(/\u2029/g, '\\u2029');
    };

    FW.postSave = function (obj, $area) {
        var text = FW.htmlspecialchars(FW.saveJson(obj));
        var $form = $('<form action="SAVE" method="POST"><input type="hidden" name="CCC" value="' + text +
            '"></form>');
        $area.children('form.saveForm').remove(); // the one of an earlier save has done its work
        $form.addClass('saveForm').appendTo($area);
        $form[0].submit();
    };

    // Link "清空已保存的数据": the host empties the saved data and loads the page afresh.
    FW.bindReset = function ($link) {
        $link.on('click', function (e) {
            e.preventDefault();
            if (window.confirm('您确认清空已保存的数据？')) {
                window.location.href = 'RESET';
            }
        });
    };

    // How long a print waits for the host's picture; the host ends the encoder after 30 seconds.
    FW.QR_WAIT_MS = 40000;

    var qrWaiting = null, qrCount = 0; // the request that waits for the host's answer; a counter for fresh addresses

    /*
     * The host's call after every CREATE_PNG: made is true when images/encryption.png now holds the picture of
     * the latest request. It is handled after the host's script has returned: the Windows host may answer while
     * the page's submit() is still on the stack, and what follows may open boxes or the print dialog.
     */
    window.qrPictureResult = function (made) {
        var waiting = qrWaiting;
        qrWaiting = null;
        if (waiting) {
            window.setTimeout(function () {
                waiting(made === true);
            }, 0);
        }
    };

    /*
     * Asks the host for the QR picture of the signature and shows it in the element "encryption"; whenShown
     * (when given) runs with true once the picture of this request is shown, or with false when the host could
     * not make it, its answer did not come within FW.QR_WAIT_MS or the picture did not load. The element shows
     * no picture until the host's answer: the file may still hold an earlier print's picture (the encoder
     * failed, or WebKit sends the post only after this script has returned). The fresh picture is loaded with
     * a query that no earlier load used, so no engine shows a cached copy.
     */
    FW.requestQr = function (signature, whenShown) {
        var form = document.getElementById('png_form'), timer, done = false;
        var $img = $('<img alt="" width="110" height="110">');
        $('#encryption').empty().append($img);
        function finish(shown) {
            if (done) {
                return;
            }
            done = true;
            window.clearTimeout(timer);
            $img.off('.qr');
            if (qrWaiting === answered) {
                qrWaiting = null;
            }
            if (!shown) {
                $img.remove();
            }
            if (whenShown) {
                whenShown(shown);
            }
        }
        function answered(made) {
            if (done) {
                return;
            }
            if (!made) {
                finish(false);
                return;
            }
            $img.on('load.qr', function () {
                finish(true);
            }).on('error.qr', function () {
                finish(false);
            });
            qrCount += 1;
            $img.attr('src', 'images/encryption.png?' + new Date().getTime() + qrCount);
        }
        qrWaiting = answered;
        timer = window.setTimeout(function () {
            finish(false);
        }, FW.QR_WAIT_MS);
        form.CCC_ID.value = signature;
        form.submit();
    };

    /*
     * Print commands of the invisible browser object "wb": 8 page setup, 7 preview, 6 print. Engines without
     * that object (anything but the Windows browser control) use their own print dialog.
     */
    FW.browserCommand = function (command, option) {
        var wb = document.getElementById('wb');
        if (wb && typeof wb.ExecWB !== 'undefined') {
            try {
                wb.ExecWB(command, option);
                return;
            } catch (e) { /* the object is there but not working: fall back */ }
        }
        window.print();
    };

    FW.hasBrowserObject = function () {
        var wb = document.getElementById('wb');
        return !!(wb && typeof wb.ExecWB !== 'undefined');
    };
}(jQuery));
