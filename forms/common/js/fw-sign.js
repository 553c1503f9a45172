/*
 * The marks of the printed form. The signature text walks {users, accounts, baseInfo, mappings} in property
 * order; forms already printed carry marks made by this exact walk, so its peculiarities stay as they are:
 * mappings carry no element index, and the three role lists of a mapping are written once for each of the
 * three properties of trans, that is three times.
 */
(function ($) {
    'use strict';

    function appendList(text, name, list) {
        var k;
        text += name;
        for (k in list) {
            if (list.hasOwnProperty(k)) {
                text += k + list[k];
            }
        }
        return text;
    }

    FW.signatureText = function (data) {
        var text = '', key, i, p, item, m, t;
        for (key in data) {
            if (!data.hasOwnProperty(key)) {
                continue;
            }
            text += key;
            if (key === 'users' || key === 'accounts') {
                for (i in data[key]) {
                    if (data[key].hasOwnProperty(i)) {
                        text += i;
                        item = data[key][i];
                        for (p in item) {
                            if (item.hasOwnProperty(p)) {
                                text += p + item[p];
                            }
                        }
                    }
                }
            } else if (key === 'baseInfo') {
                for (p in data[key]) {
                    if (data[key].hasOwnProperty(p)) {
                        text += p + data[key][p];
                    }
                }
            } else if (key === 'mappings') {
                for (i in data[key]) {
                    if (data[key].hasOwnProperty(i)) {
                        m = data[key][i];
                        text = appendList(text, 'query', m.query);
                        text += 'trans';
                        for (t in m.trans) {
                            if (m.trans.hasOwnProperty(t)) {
                                text = appendList(text, 'jb', m.trans.jb);
                                text = appendList(text, 'fh', m.trans.fh);
                                text = appendList(text, 'sq', m.trans.sq);
                            }
                        }
                    }
                }
            }
        }
        return text;
    };

    /*
     * md5Signature (upper-case MD5 of the walk) and the mark: MD5 of md5Signature and the date and time in the
     * browser's locale format. Every element of class "signature" shows the mark's 1st and 18th characters.
     */
    FW.makeSignature = function (data, now) {
        var md5Signature = FW.md5(FW.signatureText(data)).toUpperCase();
        var mark = FW.md5(md5Signature + now.toLocaleString());
        $('.signature').text(mark.charAt(0) + mark.charAt(17));
        return {md5Signature: md5Signature, mark: mark};
    };

    /*
     * The QR signature: characters 9 to 24 of the MD5 of the company's contact data, the numbers of accounts
     * and users, the last digit of the year, the month and the day of the week (1 for Sunday).
     */
    FW.infoMark = function (baseInfo, accountCount, userCount, now) {
        var fields = ['customerName', 'orgCode', 'contactAddr', 'zipCode', 'orgEmail', 'orgFax', 'linkMan',
            'linkPhone'];
        var parts = [], i, year = String(now.getFullYear());
        for (i = 0; i < fields.length; i++) {
            parts.push(baseInfo[fields[i]]);
        }
        return FW.md5(parts.join('|')).substring(8, 24) + FW.pad2(accountCount) + FW.pad2(userCount) +
            year.charAt(year.length - 1) + FW.pad2(now.getMonth() + 1) + FW.pad2(now.getDay() + 1);
    };
}(jQuery));
