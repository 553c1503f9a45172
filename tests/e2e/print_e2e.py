#!/usr/bin/env python3
"""Printing from formdesk on Linux, read back as the bank reads the paper. Under `xvfb-run`, with the
arguments of formdesk_e2e.py (FORMDESK X11_CLOSE QRENCODE FIXTURES FORMS_OUT [PICTURE_DIR]).

Each form gets 20 users and 20 accounts as saved data and prints twice through 打印申请表 and GTK's
dialog ("Print to File"); PICTURE_DIR receives the first page of each as <form>-printed.png."""
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse

sys.dont_write_bytecode = True  # no __pycache__ in the source tree from the import below
import formdesk_e2e as fe  # noqa: E402

DPI, N = 300, 20
MARGIN = 0.21654 * DPI  # the print setup's 5.5 mm, in pixels


def fill(text, units, pad):
    """text padded with pad to exactly units UTF-16 code units, the length a field's maxlength counts."""
    while len(text.encode('utf-16-le')) // 2 < units:
        text += pad
    return text if len(text.encode('utf-16-le')) // 2 == units else text[:-1] + 'x'


def wide(digits):
    """A full-width run of digits."""
    return ''.join(chr(0xFF10 + int(c)) for c in digits)


# A customer whose values use the lengths the forms accept: Extension B characters in names and addresses,
# full-width runs in phones and certificate names, long unbroken e-mails and numbers.
RARE = '𠀀𠀁𪚥龘叕'
INFO = {'customerName': fill('杭州' + RARE + '明远精密机械', 60, '有限公司'), 'business': '21.科学研究、技术服务和地质勘查业',
        'orgCertType': '其他证件', 'orgCertName': fill('ＦＵＬＬＷＩＤＴＨ', 40, 'ＣＥＲＴ'), 'orgCertNum': fill('C', 40, '7'),
        'orgCode': fill('74508123', 20, '6'), 'represent': fill('欧阳' + RARE, 30, '丽'),
        'registerAddr': fill('浙江省杭州市西湖区文三路' + RARE + '１００号', 100, '科技园区'),
        'contactAddr': fill('浙江省杭州市' + RARE + '文三路', 100, '５楼东侧'), 'zipCode': '3100120000',
        'orgPhone': wide('0' * 30), 'orgEmail': fill('finance.department.of.the.company', 48, 'x') + '@mingyuan.cn',
        'orgFax': fill('0571', 30, '9'),
        'linkMan': fill('陈' + RARE, 30, '国'), 'linkPhone': wide('1' * 30), 'linkMobile': '1' * 20,
        'linkFax': fill('0571', 30, '8'), 'fMaxItemAmt': '99999999999', 'fMaxDayAmt': '499999999999',
        'bMaxItemAmt': '100000000000', 'bMaxDayAmt': '500000000000'}
USERS = [{'userName': fill('用户%02d' % i + RARE, 30, '阿'), 'gender': '男女'[i % 2],
          'title': ['财务部门经办人员(会计、出纳)', '财务部门负责人', '企业负责人'][i % 3], 'certType': '其他',
          'certName': fill('ＰＥＲＭＩＴ%02d' % i, 30, 'Ｘ'), 'certNum': fill('E%02d' % i, 30, '0'), 'mobile': '139%017d' % i,
          'officePhone': wide('%030d' % (5718800000 + i)), 'email': fill('user%02d.' % i, 48, 'y') + '@mingyuan.cn'}
         for i in range(1, N + 1)]
FORMS = {  # save file, arguments, title, saved data
    'eb_df': ('json.sav', [], fe.TITLE, {'users': USERS, 'baseInfo': INFO, 'sealAcc': '800012345018023001',
              'accounts': [{'account': '8%010d8023001' % (1234500 + i), 'isBaseAcc': int(i == 1),
                            'isPayeeAcc': int(i == 1)} for i in range(1, N + 1)]}),
    'eb_ac': ('json_ac.sav', ['-AC'], fe.TITLE_AC, {'users': USERS, 'baseInfo': dict(
              INFO, orgCertType='其他证件', customerNameEn=fill('HANGZHOU MINGYUAN PRECISION MACHINERY ', 120, 'Q'),
              cusType='19.单位非独立核算的内设机构(部门)', cusType2='N.外商投资—中外合资经营企业', cusType3='5.港澳台经济',
              cusType4='19.其他有进出口经营权的企业(非银行类)', orgCertStartDate='2010-01-01', orgCertEndDate='2030-12-31',
              rgFundType='澳大利亚元 ', rgFundAmt='9' * 20, orgArea='3301000000', ntTaxCode=fill('NT', 30, '1'),
              lcTaxCode=fill('LC', 30, '2'), zipCode2='3100130000', repTitle=fill('董事长兼', 30, '总经理'),
              repCertType='其他', repCertName=fill('ＲＥＰ', 30, 'Ｃ'), repCertNum=fill('R', 30, '3'),
              repPhone=wide('2' * 30), repMobile='2' * 20, controller=fill('控制人' + RARE, 30, '甲'),
              cfoMan=fill('财务' + RARE, 30, '乙'), cfoPhone=wide('3' * 30), cfoMobile='3' * 20, isRep='否',
              linkGender='女', linkTitle=fill('经办', 30, '职务'), linkCertType='其他', linkCertName=fill('ＬＩＮＫ', 30, 'Ｃ'),
              linkCertNum=fill('L', 30, '4'), isSubOrg='是', hasPrtOrg='是', prtOrgName=fill('上级' + RARE, 60, '集团'),
              prtOrgCode=fill('P', 20, '5'), prtAcctCertNum=fill('J', 30, '6'), prtRepresent=fill('上级代表', 30, '丙'),
              prtRepCertType='其他', prtRepCertName=fill('ＰＲＴ', 30, 'Ｃ'), prtRepCertNum=fill('Q', 30, '7'), hasRelOrg='是'),
              'relOrgs': [{'relOrg': fill('关联%d' % i + RARE, 60, '企业'), 'relRepresent': fill('代表%d' % i, 30, '丁'),
                           'relOrgCode': fill('G%d' % i, 20, '8')} for i in range(1, 4)],
              'accounts': [{'acctId': fill('账户%02d' % i, 20, 'Ａ'), 'currency': '人民币', 'category': '一般户',
                            'acctUse': fill('结算' + RARE, 100, '货款收付')} for i in range(1, N + 1)]}),
}

def out(*args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def qr_signature(day):
    """The page's QR signature for INFO on that day, followed by the host's version code."""
    text = '|'.join(INFO[k] for k in 'customerName orgCode contactAddr zipCode orgEmail orgFax linkMan linkPhone'.split())
    return (hashlib.md5(text.encode()).hexdigest()[8:24] + '%02d%02d%s%02d%02d' % (N, N, str(day.tm_year)[-1],
            day.tm_mon, (day.tm_wday + 1) % 7 + 1) + fe.VERSION_CODE)


def settle(window):
    """Waits until the window shows a page (not one colour) that stays the same for 1.5 s."""
    seen = {'shot': None, 'since': 0}
    def still():
        shot = subprocess.run(['import', '-window', window, 'ppm:-'], capture_output=True).stdout
        if shot != seen['shot'] or len(set(shot[::101])) < 16:
            seen.update(shot=shot, since=time.time())
        return time.time() - seen['since'] >= 1.5
    fe.wait_for('the window to settle', still, 60)


def keys(*names):
    subprocess.run(['xdotool', 'key', '--clearmodifiers'] + list(names), check=True)


def print_to_pdf(w, window, first):
    """打印申请表, Yes to 确定打印吗？, then "Print to File" in GTK's dialog; returns the PDF."""
    settle(window)
    subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=True)
    if first:  # from the company name to the tabs, the last tab (完成:打印), past 上一步 and 打印预览
        keys('shift+Tab', 'End')
        settle(window)
        keys('Tab', 'Tab', 'Tab')
    keys('space')
    settle(window)
    keys('Return')
    dialog = fe.wait_for('the print dialog', lambda: fe.windows('Print'), 60)[0]
    settle(dialog)
    # The dialog's only printer; chosen, it writes output.pdf into the current folder.
    subprocess.run(['xdotool', 'mousemove', '--window', dialog, '80', '86', 'click', '1'], check=True)
    settle(dialog)
    keys('alt+p')
    # The user has no Documents folder: the file goes home, never into the program folder.
    pdf = os.path.join(w.home, 'output.pdf')
    fe.wait_for('the PDF', lambda: not fe.windows('Print') and 'Pages:' in out('pdfinfo', pdf), 120)
    fe.check(not os.path.exists(w.path('output.pdf')), 'a PDF in the program folder')
    dest = w.path('print-%d.pdf' % (2 - first))
    os.rename(pdf, dest)
    return dest


def pieces(data, form):
    """What the paper must hold, each piece on one sheet: every value of the company, and every user's and
    account's row (its cells one after another, as the engine draws them)."""
    info = data['baseInfo']
    pieces = [v for k, v in info.items() if not k.endswith('Amt') and v not in ('其他', '其他证件')]
    pieces += [''.join(o.values()) for o in data.get('relOrgs', [])]
    pieces += [u['userName'] + u['gender'] + u['title'] + u['certName'] + u['certNum'] + u['mobile'] + u['officePhone'] +
               u['email'] for u in data['users']]
    pieces += [a['account'] if form == 'eb_df' else a['acctId'] + a['currency'] + a['category'] + a['acctUse']
               for a in data['accounts']]
    return [re.sub(r'\s', '', p) for p in pieces]


def read_paper(pdf, data, form, signatures, picture):
    """Checks the paper as the bank reads it; returns its page count."""
    info = out('pdfinfo', pdf)
    fe.check(re.search(r'Page size:\s+595(\.\d+)? x 842(\.\d+)? pts', info), 'not A4: ' + info)
    count = int(re.search(r'Pages:\s+(\d+)', info).group(1))
    sheets = [re.sub(r'\s', '', out('pdftotext', '-raw', '-f', str(n), '-l', str(n), pdf, '-')) for n in range(1, count + 1)]
    cut = [p for p in pieces(data, form) if not any(p in sheet for sheet in sheets)]
    fe.check(not cut, 'missing, or cut across sheets: %r' % cut)
    # Every word inside the page's margins (points; pdftotext -bbox).
    width = 595.28
    for box in re.findall(r'<word xMin="([\d.]+)" yMin="[\d.]+" xMax="([\d.]+)"', out('pdftotext', '-bbox', pdf, '-')):
        fe.check(float(box[0]) >= 15 and float(box[1]) <= width - 15, 'a word off the paper at x %s-%s' % box)
    subprocess.run(['pdftoppm', '-r', str(DPI), '-gray', pdf, pdf], check=True)
    pages = sorted(p for p in os.listdir(os.path.dirname(pdf)) if p.startswith(os.path.basename(pdf) + '-'))
    codes, grey = [], 0
    for n, page in enumerate(pages, 1):
        with open(os.path.join(os.path.dirname(pdf), page), 'rb') as f:
            raw = f.read()
        head = re.match(rb'P5\s+(\d+)\s+(\d+)\s+255\s', raw)
        w, h = int(head.group(1)), int(head.group(2))
        rows = [raw[head.end() + y * w:head.end() + (y + 1) * w] for y in range(h)]
        dark = [sum(v < 128 for v in row) for row in rows]
        ys = [y for y in range(h) if dark[y]]
        xs = [x for x in range(w) if any(rows[y][x] < 128 for y in range(0, h, 4))]
        where = 'page %d: ink x %d-%d, y %d-%d of %dx%d, margin %.0f' % (n, xs[0], xs[-1], ys[0], ys[-1], w, h, MARGIN)
        # Within the margins (a border is 3 px here); the first page's tables span them exactly.
        fe.check(min(xs[0], w - 1 - xs[-1], ys[0], h - 1 - ys[-1]) >= MARGIN - 4, where)
        fe.check(n > 1 or max(abs(xs[0] - MARGIN), abs(w - 1 - xs[-1] - MARGIN)) <= 4, where)
        # A table going on over the page break draws only its side borders below its last rule; a row cut
        # by the break would leave its text there.
        if ys[-1] >= h - MARGIN - 6:
            rule = max(y for y in ys if dark[y] > w // 3)
            fe.check(all(dark[y] <= 40 for y in range(rule + 4, h)), where + ': a table row cut at the page end')
        grey += sum(row.count(239) for row in rows[::8])  # table heads' background, #efefef
        codes += out('zbarimg', '-q', '--raw', '-Sdisable', '-Sqrcode.enable', os.path.join(os.path.dirname(pdf),
                                                                                          page)).split()
    fe.check(grey > 1000, 'backgrounds not printed')
    fe.check(codes and set(codes) <= signatures, 'the paper\'s QR says %r, not %r' % (codes, signatures))
    fe.check(out('zbarimg', '-q', '--raw', picture).split() == codes[:1], 'not the host\'s picture of this print')
    return len(pages)


def print_form(form):
    save, args, title, data = FORMS[form]
    w = fe.Workstation(os.path.join(fe.FORMS_OUT, form), package=form)
    try:
        with open(w.path(save), 'w') as f:
            f.write(urllib.parse.quote(json.dumps(data, ensure_ascii=False), safe=''))
        picture = os.path.join(w.package, 'images', 'encryption.png')
        subprocess.run(['qrencode', '-o', picture, '-l', 'H', 'EARLIER'], check=True)  # an earlier print's
        os.makedirs(os.path.join(w.config, 'gtk-3.0'))
        with open(os.path.join(w.config, 'gtk-3.0', 'settings.ini'), 'w') as f:
            f.write('[Settings]\ngtk-cursor-blink=false\n')  # a blinking caret never settles
        w.home = os.path.join(w.root, 'home')
        os.makedirs(w.home)
        os.environ['HOME'] = w.home  # formdesk's environment; no Documents folder there
        w.start(*args)
        window = fe.wait_for('the window', lambda: fe.windows(title), 30)[0]
        counts = []
        for first in (True, False):
            days = {time.localtime()}
            pdf = print_to_pdf(w, window, first)
            days.add(time.localtime())
            counts.append(read_paper(pdf, data, form, {qr_signature(d) for d in days}, picture))
            if first and len(sys.argv) > 6:
                os.makedirs(sys.argv[6], exist_ok=True)
                out('pdftoppm', '-r', '80', '-png', '-singlefile', pdf, os.path.join(sys.argv[6], form + '-printed'))
        fe.check(counts[0] == counts[1], 'the page count changed: %r' % counts)
        print('  %s: %d pages' % (form, counts[0]))
    finally:
        w.stop()
        w.close()


def case_eb_df_print():
    """eb_df: 20 users and 20 accounts printed twice to PDF and read back."""
    print_form('eb_df')


def case_eb_ac_print():
    """eb_ac: 20 users and 20 accounts printed twice to PDF and read back."""
    print_form('eb_ac')


if __name__ == '__main__':
    fe.CASES = [c for c in (case_eb_df_print, case_eb_ac_print) if os.environ.get('ONLY', c.__name__) == c.__name__]
    sys.exit(fe.main())
