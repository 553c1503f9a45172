/*
 * The user forms: one <form class="userForm"> per user in a container, read in form order, checked one by
 * one, with the gender check on leaving a 居民身份证 number.
 */
(function ($) {
    'use strict';

    var TITLES = ['财务部门经办人员(会计、出纳)', '财务部门负责人', '企业负责人'];
    var LEVELS = {'财务部门经办人员(会计、出纳)': 1, '财务部门负责人': 2, '企业负责人': 3};
    var CERT_TYPES = ['居民身份证', '回乡证', '港澳居民来往内地通行证', '护照', '其他'];
    var ID_CARD = '居民身份证';

    var FORM_HTML =
        '<form class="userForm entryForm" autocomplete="off">' +
        '<div class="formHead"><span class="formNo"></span>' +
        '<a href="#" class="removeForm">删除此用户</a></div>' +
        '<table class="fieldTable"><tbody>' +
        '<tr><th><em>*</em>用户姓名</th><td><input type="text" name="userName" maxlength="30"></td>' +
        '<th><em>*</em>性别</th><td><select name="gender"><option value="男">男</option>' +
        '<option value="女">女</option></select></td></tr>' +
        '<tr><th><em>*</em>部门职位</th><td colspan="3"><select name="title"></select></td></tr>' +
        '<tr><th><em>*</em>证件类型</th><td><select name="certType"></select></td>' +
        '<th class="certNameCell"><em>*</em>证件名称</th><td class="certNameCell">' +
        '<input type="text" name="certName" maxlength="30"></td></tr>' +
        '<tr><th><em>*</em>证件号码</th><td colspan="3"><input type="text" name="certNum" maxlength="30"></td></tr>' +
        '<tr><th><em>*</em>移动电话</th><td><input type="text" name="mobile" maxlength="20"></td>' +
        '<th><em>*</em>办公电话</th><td><input type="text" name="officePhone" maxlength="30"></td></tr>' +
        '<tr><th>EMAIL</th><td colspan="3"><input type="text" name="email" maxlength="60" class="wide">' +
        '<span class="hint">移动电话不是11位时必填</span></td></tr>' +
        '</tbody></table></form>';

    function field($form, name) {
        return $form.find('[name=' + name + ']');
    }

    function showCertName($form) {
        var other = field($form, 'certType').val() === '其他';
        $form.find('.certNameCell').css('visibility', other ? 'visible' : 'hidden');
        if (!other) {
            field($form, 'certName').val('');
        }
    }

    function renumber($container) {
        $container.children('form.userForm').each(function (i) {
            $(this).find('.formNo').text('用户' + (i + 1));
            $(this).find('.removeForm').toggle(i > 0);
        });
    }

    // Runs while the focus is moving elsewhere: the focus is put back once that move has finished.
    function blurFail(message, $field) {
        window.alert(message);
        FW.markInvalid($field, message);
        window.setTimeout(function () {
            $field.focus();
        }, 0);
        return false;
    }

    /*
     * Gender check when a 居民身份证 number is left: the 15th digit of a 15-digit number, or the 17th of
     * an 18-digit one, is odd for men and even for women. Returns false after a message.
     */
    function genderCheck($form) {
        if (field($form, 'certType').val() !== ID_CARD) {
            return true;
        }
        var $num = field($form, 'certNum');
        var num = FW.trim($num.val());
        var digit;
        if (num.length === 15) {
            if (!FW.isNumber(num)) {
                return blurFail('15位的身份证号码必须全为数字', $num);
            }
            digit = parseInt(num.charAt(14), 10);
        } else if (num.length === 18) {
            if (!FW.isNumber(num.substring(0, 17))) {
                return blurFail('18位的身份证号码前17位必须全为数字', $num);
            }
            digit = parseInt(num.charAt(16), 10);
        } else {
            return true;
        }
        if ((digit % 2 === 1 ? '男' : '女') !== field($form, 'gender').val()) {
            // The gender choice may be the wrong one, so it takes the focus; the number keeps its text.
            return blurFail('证件号中的性别信息与所填信息不符.', field($form, 'gender'));
        }
        return true;
    }

    // An 18-character identity number may end in the check character X.
    function idNumberDigits(num) {
        return num.length === 18 ? FW.isNumber(num.substring(0, 17)) && /[0-9Xx]/.test(num.charAt(17)) :
            FW.isNumber(num);
    }

    FW.users = {
        TITLES: TITLES,
        CERT_TYPES: CERT_TYPES,

        // Adds a user form, filled from a saved user object when one is given.
        add: function ($container, user) {
            var $form = $(FORM_HTML);
            FW.fillSelect(field($form, 'title'), TITLES, true);
            FW.fillSelect(field($form, 'certType'), CERT_TYPES, true);
            if (user) {
                $.each(['userName', 'gender', 'title', 'certType', 'certName', 'certNum', 'mobile', 'email',
                    'officePhone'], function (i, name) {
                    FW.setField(field($form, name), user[name]);
                });
            }
            $container.append($form);
            showCertName($form);
            renumber($container);
            FW.labelFields($form);
            return $form;
        },

        clear: function ($container) {
            $container.empty();
        },

        // Change and blur handlers of all user forms in the container, bound once.
        bind: function ($container) {
            $container.on('change', '[name=certType]', function () {
                showCertName($(this.form));
            });
            $container.on('blur', '[name=certNum]', function () {
                genderCheck($(this.form));
            });
            $container.on('click', '.removeForm', function (e) {
                e.preventDefault();
                FW.removeForm(this, function () {
                    renumber($container);
                });
            });
        },

        // The users in form order, each with its level and its userId (1, 2, 3, ... in form order).
        read: function ($container) {
            var list = [];
            $container.children('form.userForm').each(function (i) {
                var $form = $(this), title = field($form, 'title').val();
                list.push({
                    userName: field($form, 'userName').val(),
                    gender: field($form, 'gender').val(),
                    title: title,
                    certType: field($form, 'certType').val(),
                    certName: field($form, 'certName').val(),
                    certNum: field($form, 'certNum').val(),
                    mobile: field($form, 'mobile').val(),
                    email: field($form, 'email').val(),
                    officePhone: field($form, 'officePhone').val(),
                    level: LEVELS.hasOwnProperty(title) ? LEVELS[title] : 0,
                    userId: i + 1
                });
            });
            return list;
        },

        // Users by level, ties by userId.
        sort: function (list) {
            return list.slice(0).sort(function (a, b) {
                return a.level - b.level || a.userId - b.userId;
            });
        },

        // The user check: the first failure reports, takes the focus and stops.
        check: function ($container) {
            var forms = $container.children('form.userForm').get();
            var names = [], mobiles = [], i, $form, v, $f;
            for (i = 0; i < forms.length; i++) {
                $form = $(forms[i]);
                $f = field($form, 'userName');
                if (FW.isEmpty($f.val())) {
                    if (i === 0) {
                        return FW.fail('请输入用户名称！', $f);
                    }
                    if (window.confirm('您尚未输入新增用户名，您确定放弃该新增用户？')) {
                        $form.remove();
                        renumber($container);
                        continue;
                    }
                    $f.focus();
                    return false;
                }
                if (FW.isEmpty(field($form, 'certType').val())) {
                    return FW.fail('请选择证件类型！', field($form, 'certType'));
                }
                if (FW.isEmpty(field($form, 'title').val())) {
                    return FW.fail('请选择部门职位！', field($form, 'title'));
                }
                if (field($form, 'certType').val() === '其他' && FW.isEmpty(field($form, 'certName').val())) {
                    return FW.fail('请输入证件名称！', field($form, 'certName'));
                }
                if (FW.isEmpty(field($form, 'certNum').val())) {
                    return FW.fail('请输入证件号码！', field($form, 'certNum'));
                }
                if (FW.isEmpty(field($form, 'officePhone').val())) {
                    return FW.fail('请输入办公电话号码！', field($form, 'officePhone'));
                }
                $f = field($form, 'mobile');
                if (FW.isEmpty($f.val())) {
                    return FW.fail('请输入移动电话号码！', $f);
                }
                if (FW.trim($f.val()).length !== 11) {
                    v = FW.trim(field($form, 'email').val());
                    if (v === '') {
                        return FW.fail('请输入EMAIL！', field($form, 'email'));
                    }
                    if (v.substring(1).indexOf('@') < 0) {
                        return FW.fail('EMAIL格式有误！', field($form, 'email'));
                    }
                }
                if (field($form, 'certType').val() === ID_CARD) {
                    v = FW.trim(field($form, 'certNum').val());
                    if (v.length !== 15 && v.length !== 18) {
                        return FW.fail('身份证号码位数有误！', field($form, 'certNum'));
                    }
                    if (!idNumberDigits(v)) {
                        return FW.fail('身份证号码必须全为数字！', field($form, 'certNum'));
                    }
                }
                v = FW.trim($f.val());
                if (!FW.isNumber(v)) {
                    return FW.fail('手机号码必须全为数字！', $f);
                }
                if ($.inArray(v, mobiles) >= 0) {
                    return FW.fail('不同用户的手机号码不能相同！', $f);
                }
                mobiles.push(v);
                v = FW.trim(field($form, 'userName').val());
                if ($.inArray(v, names) >= 0) {
                    return FW.fail('此用户已存在，请勿重复录入！', field($form, 'userName'));
                }
                names.push(v);
            }
            return true;
        },

        genderCheck: genderCheck
    };
}(jQuery));
