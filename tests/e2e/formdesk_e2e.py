#!/usr/bin/env python3
"""formdesk end to end on Linux, with the real WebKitGTK host, the real qrencode and zbarimg.

Run under `xvfb-run -a`. Each case lays out a program folder of its own (XDG_DATA_HOME/Formwell)
with its registry hives (XDG_CONFIG_HOME/formwell), starts formdesk there as formwell does and
watches the files it writes, the way a user meets them.

  formdesk_e2e.py FORMDESK X11_CLOSE QRENCODE FIXTURES FORMS_OUT [SCREENSHOT_DIR]

FORMS_OUT holds the assembled packages (node forms/assemble.js); the eb_df cases are skipped
when it has no eb_df/index.html. Exit status 0 when every case passed.
"""
import os
import http.server
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse

FORMDESK, X11_CLOSE, QRENCODE, FIXTURES, FORMS_OUT = sys.argv[1:6]
SHOTS = sys.argv[6] if len(sys.argv) > 6 else ''
VERSION = '2010.7.19.1'
VERSION_CODE = '0071901'
TITLE = 'Velor服务平台自助申请软件 (版本 V%s)' % VERSION
TITLE_AC = '自助开户软件 (版本 V%s)' % VERSION
PROMPT = '请问您需要保存本次填写的数据吗？'


def wait_for(what, predicate, timeout=30.0):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError('timed out waiting for ' + what)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def read(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except OSError:
        return None


def windows(title):
    """The ids of visible windows named exactly title."""
    out = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^' + re.escape(title) + '$'],
                         capture_output=True, text=True).stdout
    return [w for w in out.split() if w]


def screenshot(name, window='root'):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        path = os.path.join(SHOTS, name)
        subprocess.run(['import', '-window', window, path], check=True)
        if window == 'root':  # no window manager: the windows lie on black, which goes
            subprocess.run(['convert', path, '-fuzz', '1%', '-trim', '+repage', path], check=True)


class Workstation:
    """A program folder with a package and the hives, and formdesk running in it."""

    def __init__(self, package_dir, package='eb_df'):
        self.root = tempfile.mkdtemp(prefix='formdesk-e2e-')
        self.config = os.path.join(self.root, 'config')
        self.program = os.path.join(self.root, 'data', 'Formwell')
        self.package = os.path.join(self.program, package)
        shutil.copytree(package_dir, self.package)
        os.makedirs(os.path.join(self.package, 'images'), exist_ok=True)
        # As the Linux kit installs it: an empty qrencode/ folder, so formdesk finds Debian's encoder
        # on the PATH.
        os.makedirs(os.path.join(self.program, 'qrencode'))
        os.makedirs(os.path.join(self.config, 'formwell'))
        with open(os.path.join(self.config, 'formwell', 'HKEY_LOCAL_MACHINE.reg'), 'w') as f:
            f.write('Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\n'
                    '"currentversion"="%s"\n' % VERSION)
        self.proc = None

    def path(self, *names):
        return os.path.join(self.program, *names)

    def start(self, *args):
        env = dict(os.environ, XDG_CONFIG_HOME=self.config, XDG_DATA_HOME=os.path.join(self.root, 'data'),
                   WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS='1', LC_ALL='C.UTF-8',
                   PATH=os.path.dirname(QRENCODE) + os.pathsep + os.environ.get('PATH', ''))
        self.runs = getattr(self, 'runs', 0) + 1
        self.log = os.path.join(self.root, 'formdesk-%d.log' % self.runs)
        with open(self.log, 'wb') as log:
            self.proc = subprocess.Popen([FORMDESK] + list(args), cwd=self.program, env=env,
                                         stdout=log, stderr=subprocess.STDOUT)
        return self

    def ended(self):
        return self.proc.poll() is not None

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def close(self):
        for n in range(1, getattr(self, 'runs', 0) + 1):
            text = read(os.path.join(self.root, 'formdesk-%d.log' % n))
            if text and text.strip():
                print('  formdesk run %d said: %s' % (n, text.decode('utf-8', 'replace').strip()[-2000:]))
        shutil.rmtree(self.root, ignore_errors=True)


def close_window(title, answer):
    """Closes the window as its close box does and answers the prompt: 'yes', 'no' or 'escape'.
    Returns the ids of the window and the prompt."""
    subprocess.run([X11_CLOSE, title], check=True, capture_output=True)
    # The prompt is a message box with the window's title; it holds the focus.
    wait_for('the close prompt', lambda: len(windows(title)) >= 2, 15)
    time.sleep(0.5)
    box = windows(title)[-1]
    screenshot('formdesk-close-prompt.png')
    # The buttons' mnemonics: Alt+Y for Yes, Alt+N for No.
    subprocess.run(['xdotool', 'windowfocus', '--sync', box], capture_output=True)
    shown = windows(title)
    subprocess.run(['xdotool', 'key', '--clearmodifiers', {'yes': 'alt+y', 'no': 'alt+n', 'escape': 'Escape'}[answer]],
                   check=True)
    return shown


def case_fixture_commands():
    """SAVE, CREATE_PNG and RESET from a page, the title and the print values."""
    w = Workstation(os.path.join(FIXTURES, 'fixture'))
    try:
        w.start()
        wait_for('the window with its title', lambda: windows(TITLE), 30)
        saved = wait_for('json.sav from SAVE', lambda: read(w.path('json.sav')), 30)
        check(saved == b'%7B%22users%22%3A%5B%5D%7D', 'json.sav holds %r' % saved)
        picture = w.path('eb_df', 'images', 'encryption.png')
        wait_for('the QR picture', lambda: read(picture), 30)
        decoded = subprocess.run(['zbarimg', '-q', '--raw', picture], capture_output=True, text=True).stdout.strip()
        check(decoded == '0123456789abcdef0203012405' + VERSION_CODE, 'the picture says %r' % decoded)
        # The page shows the new picture, not the file as it was before the encoder ran.
        shown = wait_for('the picture width from the page',
                         lambda: read(w.path('json.sav')) if (read(w.path('json.sav')) or b'').startswith(b'picture')
                         else None)
        check(shown != b'picture-width-0', 'the page shows no picture: ' + shown.decode())
        # RESET empties the file and loads the page afresh; the fresh page was handed no data.
        after = wait_for('the save after the reset',
                         lambda: read(w.path('json.sav')) if (read(w.path('json.sav')) or b'').startswith(b'fresh')
                         else None)
        check(after == b'fresh-after-reset-undefined', 'after the reset json.sav holds %r' % after)
        hive = read(os.path.join(w.config, 'formwell', 'HKEY_CURRENT_USER.reg')).decode('utf-8')
        for value in ('"Print_Background"="yes"', '"header"=""', '"margin_top"="0.21654"',
                      '"margin_bottom"="0.21654"', '"margin_left"="0.21654"', '"margin_right"="0.21654"',
                      '"footer"="&b本套资料总共&P页，当前第&p页。打印时间：&d"'):
            check(value in hive, 'the user hive lacks ' + value)
        # Enter and Esc leave the window open.
        window = windows(TITLE)[0]
        subprocess.run(['xdotool', 'windowfocus', '--sync', window], capture_output=True)
        for key in ('Return', 'Escape', 'KP_Enter'):
            subprocess.run(['xdotool', 'key', '--clearmodifiers', key], check=True)
        time.sleep(1)
        check(not w.ended() and windows(TITLE), 'Enter or Esc closed the window')
    finally:
        w.stop()
        w.close()


def case_account_opening():
    """-AC: the account-opening title and json_ac.sav; json.sav is never touched."""
    w = Workstation(os.path.join(FIXTURES, 'fixture'), package='eb_ac')
    try:
        with open(w.path('json.sav'), 'wb') as f:
            f.write(b'default-mode-data')
        w.start('-AC')
        wait_for('the account-opening title', lambda: windows(TITLE_AC), 30)
        saved = wait_for('json_ac.sav', lambda: read(w.path('json_ac.sav')), 30)
        check(saved == b'%7B%22users%22%3A%5B%5D%7D', 'json_ac.sav holds %r' % saved)
        check(read(w.path('json.sav')) == b'default-mode-data', 'json.sav was changed')
    finally:
        w.stop()
        w.close()


def case_kill_during_saves():
    """SIGKILL while the page saves again and again: the file is always one whole save."""
    w = Workstation(os.path.join(FIXTURES, 'fixture_repeat'))
    try:
        whole = (b'a' * 300000, b'b' * 300000)
        for round_ in range(6):
            w.start()
            wait_for('a save', lambda: read(w.path('json.sav')) in whole, 30)
            time.sleep(0.3 + 0.37 * round_)
            w.proc.send_signal(signal.SIGKILL)
            w.proc.wait()
            data = read(w.path('json.sav'))
            check(data in whole, 'after kill %d json.sav holds %d bytes starting %r' % (round_, len(data), data[:8]))
        leftovers = [n for n in os.listdir(w.program) if n.startswith('json.sav.')]
        check(len(leftovers) <= 6, 'temporary files pile up: %r' % leftovers)
    finally:
        w.stop()
        w.close()


class Foreign(http.server.BaseHTTPRequestHandler):
    """Pages of another origin whose forms post SAVE and CREATE_PNG to the package's addresses."""
    asked = []

    def do_GET(self):
        Foreign.asked.append(self.path)
        pkg = urllib.parse.unquote(self.path.split('pkg=')[-1])
        self.send_response(200)
        self.end_headers()
        self.wfile.write(('<form method="post" action="%sSAVE"><input name="CCC" value="planted"></form><form method='
                          '"post" action="%sCREATE_PNG"><input name="CCC_ID" value="x"></form><script>var f = document.'
                          'forms; f[0].submit(); setTimeout(function () { f[1].submit(); }, 500);</script>'
                          % (pkg, pkg)).encode())


def case_foreign_pages():
    """Pages of another origin (top level, a frame) are never shown and command nothing."""
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Foreign)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    w = Workstation(os.path.join(FIXTURES, 'fixture_guard'))
    try:
        seed = ('%%7B%%22port%%22%%3A%d%%7D' % server.server_address[1]).encode()  # {"port":N}
        with open(w.path('json.sav'), 'wb') as f:
            f.write(seed)
        w.start()
        saved = wait_for('the page to save at its end', lambda: read(w.path('json.sav')) != seed and
                         read(w.path('json.sav')), 30)
        check(saved == b'page-still-here', 'json.sav holds %r' % saved)
        check(not Foreign.asked, 'pages of another origin were loaded: %r' % Foreign.asked)
        check(read(w.path('eb_df', 'images', 'encryption.png')) is None, 'a QR picture was written')
    finally:
        w.stop()
        w.close()
        server.shutdown()


def case_restore_and_close():
    """Saved script restores as an empty form; Esc, and Yes while json.sav cannot be written, keep the window."""
    w = Workstation(os.path.join(FIXTURES, 'fixture_guard'))
    try:
        with open(w.path('json.sav'), 'wb') as f:
            f.write(urllib.parse.quote('window.planted=1,{"a":1}', safe='').encode())
        w.start()
        saved = wait_for('the restore', lambda: re.match(b'restored-.*', read(w.path('json.sav')) or b''), 30)[0]
        check(saved == b'restored-undefined-%7B%7D', 'the restore handed over %r' % saved)
        os.remove(w.path('json.sav'))
        os.makedirs(w.path('json.sav', 'x'))  # a folder in its place: no save can succeed
        for answer in ('escape', 'yes'):
            seen = set(close_window(TITLE, answer))
            if answer == 'yes':  # the message that names the file
                box = wait_for('the message', lambda: [b for b in windows(TITLE) if b not in seen], 15)[0]
                subprocess.run(['xdotool', 'windowfocus', '--sync', box], capture_output=True)
                subprocess.run(['xdotool', 'key', '--clearmodifiers', 'Return'], check=True)
            wait_for('the box to go', lambda: len(windows(TITLE)) == 1, 15)
            check(not w.ended(), 'the window closed after ' + answer)
    finally:
        w.stop()
        w.close()


def eb_df_case(run):
    def case():
        if not os.path.isfile(os.path.join(FORMS_OUT, 'eb_df', 'index.html')):
            print('  skipped: no assembled eb_df in ' + FORMS_OUT)
            return
        run()
    case.__name__ = run.__name__
    case.__doc__ = run.__doc__
    return case


@eb_df_case
def case_eb_df_round_trip():
    """The real page: saved data restored into it, Yes writes the same data back, No leaves it."""
    w = Workstation(os.path.join(FORMS_OUT, 'eb_df'))
    try:
        seed = ('{"users":[{"userName":"张三","level":"1"}],"accounts":[],'
                '"baseInfo":{"customerName":"测试有限公司"}}')
        import urllib.parse
        with open(w.path('json.sav'), 'wb') as f:
            f.write(urllib.parse.quote(seed, safe='').encode('ascii'))
        # First run: the page takes the seed and writes its own full form of it.
        w.start()
        wait_for('the window', lambda: windows(TITLE), 30)
        time.sleep(3)
        screenshot('formdesk-eb_df.png', windows(TITLE)[0])
        close_window(TITLE, 'yes')
        wait_for('formdesk to end after Yes', w.ended, 30)
        first = read(w.path('json.sav'))
        text = urllib.parse.unquote(first.decode('ascii'))
        check('测试有限公司' in text and '张三' in text, 'the saved data lost the restored entries: ' + text[:300])
        # Second run: restoring that and saving again gives the very same bytes.
        w.start()
        wait_for('the window', lambda: windows(TITLE), 30)
        time.sleep(3)
        close_window(TITLE, 'yes')
        wait_for('formdesk to end after Yes', w.ended, 30)
        check(read(w.path('json.sav')) == first, 'the round trip changed the data')
        # Third run: No leaves the file as it was.
        os.utime(w.path('json.sav'), (1, 1))
        w.start()
        wait_for('the window', lambda: windows(TITLE), 30)
        time.sleep(2)
        close_window(TITLE, 'no')
        wait_for('formdesk to end after No', w.ended, 30)
        check(read(w.path('json.sav')) == first and os.stat(w.path('json.sav')).st_mtime == 1, 'No changed the file')
    finally:
        w.stop()
        w.close()


CASES = [case_fixture_commands, case_account_opening, case_kill_during_saves, case_foreign_pages,
         case_restore_and_close, case_eb_df_round_trip]
if os.environ.get("ONLY"):
    CASES = [c for c in CASES if c.__name__ == os.environ["ONLY"]]


def main():
    failed = 0
    for case in CASES:
        print('%s: %s' % (case.__name__, case.__doc__.strip().splitlines()[0]))
        try:
            case()
            print('  ok')
        except Exception:
            failed += 1
            traceback.print_exc()
            print('  FAILED')
    print('%d of %d cases failed' % (failed, len(CASES)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
