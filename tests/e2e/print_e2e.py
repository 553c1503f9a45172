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
INFO = {'customerName': '杭州明远精密机械有限公司', 'business': '03.制造业', 'orgCertType': '营业执照',
        'orgCertNum': '330100000123456', 'orgCode': '74508123-6', 'represent': '王丽', 'registerAddr': '文三路100号',
        'contactAddr': '文三路100号5楼', 'zipCode': '310012', 'orgPhone': '0571-88001000', 'orgEmail': 'f@m.example',
        'orgFax': '0571-88001099', 'linkMan': '陈建国', 'linkPhone': '0571-88001002', 'linkMobile': '13905710002',
        'linkFax': '0571-88001099', 'bMaxItemAmt': '1000000', 'bMaxDayAmt': '5000000'}
USERS = [{'userName': '用户%02d' % i, 'gender': '男', 'title': ['财务部门经办人员(会计、出纳)', '财务部门负责人', '企业负责人'][i % 3],
          'certType': '护照', 'certNum': 'E%08d' % i, 'mobile': '139%08d' % i, 'officePhone': '0571-8800%04d' % i}
         for i in range(1, N + 1)]
FORMS = {  # save file, arguments, title, saved data, what names each account on paper
    'eb_df': ('json.sav', [], fe.TITLE, {'users': USERS, 'baseInfo': INFO, 'sealAcc': '800012345018023001',
              'accounts': [{'account': '8%010d8023001' % (1234500 + i), 'isBaseAcc': int(i == 1)}
                           for i in range(1, N + 1)]}, 'account'),
    'eb_ac': ('json_ac.sav', ['-AC'], fe.TITLE_AC, {'users': USERS, 'baseInfo': dict(
              INFO, cusType='01.企业法人', cusType2='H.内资—私营企业', cusType3='4.私有经济', repCertNum='E7654321',
              cusType4='13.有进出口经营权的非专业外贸企业'), 'accounts': [{'acctId': '账户%d' % i, 'currency': '人民币',
              'category': '一般户', 'acctUse': '结算'} for i in range(1, N + 1)]}, 'acctId'),
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
    pdf = w.path('output.pdf')
    fe.wait_for('the PDF', lambda: not fe.windows('Print') and 'Pages:' in out('pdfinfo', pdf), 120)
    dest = w.path('print-%d.pdf' % (2 - first))
    os.rename(pdf, dest)
    return dest


def read_paper(pdf, data, name_key, signatures, picture):
    """Checks the paper as the bank reads it; returns its page count."""
    info = out('pdfinfo', pdf)
    fe.check(re.search(r'Page size:\s+595(\.\d+)? x 842(\.\d+)? pts', info), 'not A4: ' + info)
    text = out('pdftotext', pdf, '-')
    names = [INFO['customerName']] + [u['userName'] for u in data['users']] + [a[name_key] for a in data['accounts']]
    fe.check(not [n for n in names if not re.search(re.escape(n) + r'(?!\d)', text)], 'names missing from ' + text)
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
    save, args, title, data, name_key = FORMS[form]
    w = fe.Workstation(os.path.join(fe.FORMS_OUT, form), package=form)
    try:
        with open(w.path(save), 'w') as f:
            f.write(urllib.parse.quote(json.dumps(data, ensure_ascii=False), safe=''))
        picture = os.path.join(w.package, 'images', 'encryption.png')
        subprocess.run(['qrencode', '-o', picture, '-l', 'H', 'EARLIER'], check=True)  # an earlier print's
        os.makedirs(os.path.join(w.config, 'gtk-3.0'))
        with open(os.path.join(w.config, 'gtk-3.0', 'settings.ini'), 'w') as f:
            f.write('[Settings]\ngtk-cursor-blink=false\n')  # a blinking caret never settles
        w.start(*args)
        window = fe.wait_for('the window', lambda: fe.windows(title), 30)[0]
        counts = []
        for first in (True, False):
            days = {time.localtime()}
            pdf = print_to_pdf(w, window, first)
            days.add(time.localtime())
            counts.append(read_paper(pdf, data, name_key, {qr_signature(d) for d in days}, picture))
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
