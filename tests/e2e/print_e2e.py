#!/usr/bin/env python3
"""Printing from formdesk on Linux, checked as the bank reads the paper.

Run under `xvfb-run -a`, like formdesk_e2e.py, with the same arguments:

  print_e2e.py FORMDESK X11_CLOSE QRENCODE FIXTURES FORMS_OUT [PICTURE_DIR]

For each form an application of 20 users and 20 accounts is restored from saved data, printed twice
through the page's 打印申请表 button and GTK's print dialog ("Print to File", as a person would), and
each PDF is read with pdftotext, pdftoppm and zbarimg. PICTURE_DIR, when given, receives the first page
of each form as <form>-printed.png.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.parse

import formdesk_e2e as fe

PICTURES = sys.argv[6] if len(sys.argv) > 6 else ''
DPI = 300
MARGIN_PX = 0.21654 * DPI  # the print setup's 5.5 mm
A4_PX = (round(210 / 25.4 * DPI), round(297 / 25.4 * DPI))
N = 20

COMPANY = {'customerName': '杭州明远精密机械有限公司', 'business': '03.制造业', 'orgCertType': '营业执照',
           'orgCertNum': '330100000123456', 'orgCode': '74508123-6', 'represent': '王丽',
           'registerAddr': '杭州市西湖区文三路100号', 'contactAddr': '杭州市西湖区文三路100号5楼', 'zipCode': '310012',
           'orgPhone': '0571-88001000', 'orgEmail': 'finance@mingyuan.example', 'orgFax': '0571-88001099',
           'linkMan': '陈建国', 'linkPhone': '0571-88001002', 'linkMobile': '13905710002', 'linkFax': '0571-88001099',
           'bMaxItemAmt': '1000000', 'bMaxDayAmt': '5000000'}
TITLES = ['财务部门经办人员(会计、出纳)', '财务部门负责人', '企业负责人']
USERS = [{'userName': '用户%02d' % i, 'gender': '男', 'title': TITLES[i % 3], 'certType': '护照', 'certNum': 'E%08d' % i,
          'mobile': '139%08d' % i, 'email': '', 'officePhone': '0571-880010%02d' % i} for i in range(1, N + 1)]
FORMS = {
    'eb_df': ('json.sav', (), fe.TITLE, {
        'users': USERS, 'baseInfo': COMPANY, 'sealAcc': '800012345018023001',
        'accounts': [{'account': '8%010d8023001' % (1234500 + i), 'isBaseAcc': int(i == 1)} for i in range(1, N + 1)]}),
    'eb_ac': ('json_ac.sav', ('-AC',), fe.TITLE_AC, {
        'users': USERS, 'relOrgs': [],
        'baseInfo': dict(COMPANY, cusType='01.企业法人', cusType2='H.内资—私营企业', cusType3='4.私有经济',
                         cusType4='13.有进出口经营权的非专业外贸企业', repCertNum='E7654321'),
        'accounts': [{'acctId': '账户%d' % i, 'currency': '人民币', 'category': '基本户' if i == 1 else '一般户',
                      'acctUse': '结算'} for i in range(1, N + 1)]}),
}


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def qr_texts(picture):
    """The QR codes in a picture (zbarimg ends with 4 when it finds none)."""
    return subprocess.run(['zbarimg', '-q', '--raw', '-Sdisable', '-Sqrcode.enable', picture],
                          capture_output=True, text=True).stdout.split()


def expected_qr(info, when):
    """The page's QR signature for the data and the day, with the host's version code."""
    joined = '|'.join(info[k] for k in ('customerName', 'orgCode', 'contactAddr', 'zipCode', 'orgEmail', 'orgFax',
                                        'linkMan', 'linkPhone'))
    return (hashlib.md5(joined.encode('utf-8')).hexdigest()[8:24] + '%02d%02d' % (N, N) + str(when.tm_year)[-1] +
            '%02d%02d' % (when.tm_mon, (when.tm_wday + 1) % 7 + 1) + fe.VERSION_CODE)


def pgm(path):
    """(width, height, rows of grey bytes) of a binary PGM."""
    with open(path, 'rb') as f:
        data = f.read()
    fields = re.match(rb'P5\s+(\d+)\s+(\d+)\s+(\d+)\s', data)
    w, h = int(fields.group(1)), int(fields.group(2))
    pixels = data[fields.end():]
    return w, h, [pixels[y * w:(y + 1) * w] for y in range(h)]


def settle(window, still=1.5):
    """Waits until the window shows a page (not one colour) that stays the same for a while."""
    seen = {'shot': None, 'since': 0}
    def same():
        shot = subprocess.run(['import', '-window', window, 'ppm:-'], capture_output=True).stdout
        if shot != seen['shot'] or len(set(shot[::101])) < 16:
            seen.update(shot=shot, since=time.time())
        return time.time() - seen['since'] >= still
    fe.wait_for('the window to settle', same, 60)


def print_once(w, title, out, again):
    """打印申请表, 确定打印吗？ Yes, then "Print to File" in GTK's dialog; returns the PDF's path."""
    window = fe.windows(title)[0]
    settle(window)
    subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=True)
    if not again:
        # From the company name back to the tabs, to the last tab (完成:打印), past 上一步 and 打印预览.
        subprocess.run(['xdotool', 'key', '--clearmodifiers', 'shift+Tab', 'End'], check=True)
        settle(window)
        subprocess.run(['xdotool', 'key', 'Tab', 'Tab', 'Tab'], check=True)
    subprocess.run(['xdotool', 'key', 'space'], check=True)  # the focused 打印申请表
    settle(window)
    subprocess.run(['xdotool', 'key', 'Return'], check=True)  # the question's OK
    dialog = fe.wait_for('the print dialog', lambda: fe.windows('Print'), 60)[0]
    subprocess.run(['xdotool', 'windowfocus', '--sync', dialog], check=True)
    settle(dialog)
    # The printer list's only entry: a click shows the file it writes, in the current folder.
    subprocess.run(['xdotool', 'mousemove', '--window', dialog, '80', '86', 'click', '1'], check=True)
    settle(dialog)
    subprocess.run(['xdotool', 'key', '--clearmodifiers', 'alt+p'], check=True)
    pdf = w.path('output.pdf')
    fe.wait_for('the PDF', lambda: not fe.windows('Print') and os.path.exists(pdf) and
                subprocess.run(['pdfinfo', pdf], capture_output=True).returncode == 0, 120)
    os.rename(pdf, out)
    return out


def check_pdf(pdf, data, qr_choices, package):
    """What the bank reads off the paper; returns the page count."""
    info = run('pdfinfo', pdf)
    pages = int(re.search(r'^Pages:\s+(\d+)', info, re.M).group(1))
    fe.check(re.search(r'^Page size:\s+595(\.\d+)? x 842(\.\d+)? pts', info, re.M), 'not A4: ' + info)
    text = run('pdftotext', '-layout', pdf, '-')
    names = [data['baseInfo']['customerName']] + [u['userName'] for u in data['users']] + \
        [a.get('account') or a['acctId'] for a in data['accounts']]
    missing = [n for n in names if not re.search(re.escape(n) + r'(?!\d)', text)]
    fe.check(not missing, 'the printed text lacks %r' % missing)
    prefix = os.path.splitext(pdf)[0]
    run('pdftoppm', '-r', str(DPI), '-gray', pdf, prefix)
    shots = sorted(n for n in os.listdir(os.path.dirname(pdf)) if n.startswith(os.path.basename(prefix) + '-'))
    fe.check(len(shots) == pages, 'pdftoppm made %d pictures of %d pages' % (len(shots), pages))
    grey = 0
    for n, name in enumerate(shots, 1):
        w, h, rows = pgm(os.path.join(os.path.dirname(pdf), name))
        fe.check(abs(w - A4_PX[0]) <= 1 and abs(h - A4_PX[1]) <= 1, 'page %d is %dx%d px' % (n, w, h))
        dark = [sum(1 for v in row if v < 128) for row in rows]
        inked = [y for y in range(h) if dark[y]]
        cols = [x for x in range(w) if any(rows[y][x] < 128 for y in range(0, h, 4))]
        # Content lies within the margins (a table border is 1 px, 3 at 300 dpi); the first page's tables
        # span them exactly.
        fe.check(cols[0] >= MARGIN_PX - 4 and w - 1 - cols[-1] >= MARGIN_PX - 4 and
                 (n > 1 or abs(cols[0] - MARGIN_PX) <= 4 and abs(w - 1 - cols[-1] - MARGIN_PX) <= 4),
                 'page %d: content from x=%d to %d, margins %.0f px' % (n, cols[0], cols[-1], MARGIN_PX))
        fe.check(inked[0] >= MARGIN_PX - 4, 'page %d: content at y=%d, above the margin' % (n, inked[0]))
        fe.check(inked[-1] < h - MARGIN_PX + 4, 'page %d: content down to y=%d, below the margin' % (n, inked[-1]))
        # A table that goes on over the page break draws its side borders down to the margin; below its last
        # rule there may then be nothing but those borders. A row cut by the break would leave its text there.
        if inked[-1] >= h - MARGIN_PX - 6:
            last_rule = max(y for y in inked if dark[y] > w // 3)
            text = [y for y in range(last_rule + 4, h) if dark[y] > 40]
            fe.check(not text, 'page %d: a table row cut at the page end (ink at y=%r)' % (n, text[:3]))
        grey += sum(row.count(239) for row in rows[::8])  # the table heads' background (#efefef)
    fe.check(grey > 1000, 'the backgrounds were not printed')
    codes = [c for name in shots for c in qr_texts(os.path.join(os.path.dirname(pdf), name))]
    fe.check(codes and set(codes) <= set(qr_choices), 'the printed QR says %r, expected one of %r' % (codes,
                                                                                                      qr_choices))
    fe.check(qr_texts(os.path.join(package, 'images', 'encryption.png')) == codes[:1], 'not the host\'s picture')
    return pages, shots


def print_form(form):
    save, args, title, data = FORMS[form]
    w = fe.Workstation(os.path.join(fe.FORMS_OUT, form), package=form)
    out = tempfile.mkdtemp(prefix='print-', dir=w.root)
    try:
        with open(w.path(save), 'w') as f:
            f.write(urllib.parse.quote(json.dumps(data, ensure_ascii=False), safe=''))
        # The picture of an earlier print lies in the package: the paper must never show it.
        run('qrencode', '-o', os.path.join(w.package, 'images', 'encryption.png'), '-l', 'H', 'EARLIER' + fe.VERSION_CODE)
        # A blinking caret would keep the window from ever looking settled.
        os.makedirs(os.path.join(w.config, 'gtk-3.0'))
        with open(os.path.join(w.config, 'gtk-3.0', 'settings.ini'), 'w') as f:
            f.write('[Settings]\ngtk-cursor-blink=false\n')
        w.start(*args)
        fe.wait_for('the window', lambda: fe.windows(title), 30)
        counts = []
        for n in (1, 2):
            days = [time.localtime()]
            pdf = print_once(w, title, os.path.join(out, '%s-%d.pdf' % (form, n)), n > 1)
            days.append(time.localtime())
            pages, shots = check_pdf(pdf, data, {expected_qr(data['baseInfo'], d) for d in days}, w.package)
            counts.append(pages)
            if PICTURES and n == 1:
                os.makedirs(PICTURES, exist_ok=True)
                run('pdftoppm', '-r', '80', '-png', '-singlefile', pdf, os.path.join(PICTURES, form + '-printed'))
        fe.check(counts[0] == counts[1], 'the page count changed from print to print: %r' % counts)
        print('  %s: %d pages' % (form, counts[0]))
    finally:
        w.stop()
        w.close()


def case_eb_df_print():
    """eb_df: 20 users and 20 accounts printed to PDF twice; text, QR, A4, margins, whole rows."""
    print_form('eb_df')


def case_eb_ac_print():
    """eb_ac: 20 users and 20 accounts printed to PDF twice; text, QR, A4, margins, whole rows."""
    print_form('eb_ac')


if __name__ == '__main__':
    fe.CASES = [c for c in (case_eb_df_print, case_eb_ac_print)
                if os.environ.get('ONLY', c.__name__) == c.__name__]
    sys.exit(fe.main())
