#!/usr/bin/env python3
"""formwell end to end, driven as a customer would drive it: keys and clicks on its windows under
Xvfb (run this under xvfb-run -a), the update servers of tests/net on 127.0.0.1, and a stand-in
formdesk that writes down how it was started (tests/e2e/formdesk_standin.cpp).

    formwell_e2e.py --program FORMWELL --standin FORMDESK --pack FORMWELL-PACK --shots DIR
                    [--wine WINE-RUN.SH --prefix WINEPREFIX]

FORMWELL is a formwell built to carry a package whose formdesk.exe is the stand-in. It is copied
into a folder of its own (with a blank in its name) so that its self-replacement can be watched.
With --wine it is a Windows program run under Wine in that prefix.

Exit code 0 when every case passed, 1 otherwise. Screenshots of the dialogs go to DIR.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "net", "servers.py")
SIGN_STATEMENT = os.path.join(HERE, "..", "..", "tools", "sign_statement.sh")
KEY = r"HKEY_LOCAL_MACHINE\software\orvanta\formwell"
UPDATE_TITLE = "Velor服务平台自助申请软件"


class Failure(Exception):
    pass


def check(condition, text):
    if not condition:
        raise Failure(text)


def sh(*args, **kw):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, **kw)


class Kit:
    """One machine with formwell on it: where its program, program folder and registry are."""

    def __init__(self, opts, work):
        self.opts = opts
        self.work = work
        os.makedirs(work, exist_ok=True)  # formwell's stderr is kept here, also when the kit lives in a Wine prefix
        self.wine = opts.wine
        exe = ".exe" if self.wine else ""
        if self.wine:
            drive = os.path.join(opts.prefix, "drive_c")
            self.home = os.path.join(drive, "e2e run")
            self.folder = os.path.join(drive, "Program Files", "Common Files", "Formwell")
        else:
            self.home = os.path.join(work, "e2e run")
            self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
                            XDG_DATA_HOME=os.path.join(work, "data"), HOME=work)
            self.folder = os.path.join(work, "data", "Formwell")
        self.program = os.path.join(self.home, "formwell" + exe)
        self.original = opts.program
        # How long the program takes to end after exit when no download runs (Wine needs a while
        # to start the self-replacement's command interpreter and to end a process).
        self.exit_baseline = 0.0

    def reset(self):
        """A machine on which formwell never ran."""
        shutil.rmtree(self.folder, ignore_errors=True)
        shutil.rmtree(self.home, ignore_errors=True)
        os.makedirs(self.home)
        shutil.copy2(self.original, self.program)
        if self.wine:
            self.run_wine("reg", "delete", KEY, "/f")
        else:
            shutil.rmtree(os.path.join(self.work, "config"), ignore_errors=True)

    def run_wine(self, *args):
        args = list(args)
        if args[0] == "reg":
            # The prefix's own reg.exe, so that wine-run.sh picks the loader of the prefix's kind.
            args[0] = os.path.join(self.opts.prefix, "drive_c", "windows", "system32", "reg.exe")
        return subprocess.run([self.wine, self.opts.prefix] + args, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, errors="replace")

    def version(self):
        if self.wine:
            out = self.run_wine("reg", "query", KEY, "/v", "currentversion").stdout
            for line in out.splitlines():
                if "currentversion" in line.lower():
                    return line.split("REG_SZ", 1)[1].strip() if "REG_SZ" in line else ""
            return None
        hive = os.path.join(self.work, "config", "formwell", "HKEY_LOCAL_MACHINE.reg")
        try:
            with open(hive, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError:
            return None
        section = False
        for line in text.splitlines():
            if line.startswith("["):
                section = line.lower() == "[" + KEY.lower() + "]"
            elif section and line.lower().startswith('"currentversion"='):
                return line.split("=", 1)[1].strip().strip('"')
        return None

    def set_version(self, version):
        if self.wine:
            self.run_wine("reg", "add", KEY, "/v", "currentversion", "/d", version, "/f")
            return
        hive_dir = os.path.join(self.work, "config", "formwell")
        os.makedirs(hive_dir, exist_ok=True)
        with open(os.path.join(hive_dir, "HKEY_LOCAL_MACHINE.reg"), "w", encoding="utf-8") as f:
            f.write("Windows Registry Editor Version 5.00\n\n[%s]\n\"currentversion\"=\"%s\"\n" % (KEY, version))

    def start(self):
        # One that cannot open its display says so on stderr (Wine in winediag) and goes on without windows.
        args, env = ([self.wine, self.opts.prefix, self.program], dict(os.environ, WINEDEBUG="-all,err+winediag")) \
            if self.wine else ([self.program], self.env)
        with open(os.path.join(self.work, "formwell.err"), "w") as errors:
            return subprocess.Popen(args, cwd=self.home, env=env, stdout=subprocess.DEVNULL, stderr=errors)

    def errors(self):
        with open(os.path.join(self.work, "formwell.err"), errors="replace") as f:
            return " | ".join(f.read().split("\n")[-6:]).strip(" |") or "(none)"

    def settle(self, timeout=60):
        """Waits until nothing the last case started runs any more (under Wine, its session)."""
        wait = ["/usr/lib/wine/wineserver", "-w"] if self.wine else [
            "bash", "-c", 'while pgrep -f -- "$KIT" >/dev/null; do sleep 0.1; done']  # KIT: not in its own cmdline
        env = dict(os.environ, WINEPREFIX=self.opts.prefix or "", KIT=self.home + "|" + self.folder)
        try:
            subprocess.run(wait, env=env, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("what the case started still ran %d s after it" % timeout)

    def calls(self):
        try:
            with open(os.path.join(self.folder, "formdesk-args.txt"), encoding="utf-8", errors="replace") as f:
                return [line.rstrip("\r\n") for line in f]
        except OSError:
            return []

    def file(self, name):
        try:
            with open(os.path.join(self.folder, name), "rb") as f:
                return f.read()
        except OSError:
            return None


# --- windows on the screen ---

def windows():
    """Visible top-level windows of formwell: (id, name)."""
    out = sh("xdotool", "search", "--onlyvisible", "--classname", "formwell").stdout.split()
    found = []
    for w in out:
        geometry = sh("xdotool", "getwindowgeometry", w).stdout
        if "Geometry:" not in geometry:
            continue
        size = geometry.split("Geometry:")[1].split()[0]
        cx, cy = (int(v) for v in size.split("x"))
        if cx < 100 or cy < 50:  # helper windows
            continue
        found.append((w, sh("xdotool", "getwindowname", w).stdout.strip()))
    return found


def wait_window(proc, titled=None, timeout=30, kit=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for w, name in windows():
            if titled is None or name == titled:
                time.sleep(0.6)  # let it paint
                return w
        if proc.poll() is not None:  # its errors say whether it could not open the display
            raise Failure("formwell ended (%s) before its window appeared: %s"
                          % (proc.returncode, kit and kit.errors()))
        time.sleep(0.2)
    raise Failure("no window%s within %d s" % (" titled " + titled if titled else "", timeout))


def geometry(w):
    out = sh("xdotool", "getwindowgeometry", "--shell", w).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click(w, x_du, y_du, cx_du, cy_du):
    """Clicks at a point given in the dialog units of a template cx_du x cy_du wide."""
    x, y, width, height = geometry(w)
    px = x + round(x_du * width / cx_du)
    py = y + round(y_du * height / cy_du)
    # Arrive with a motion of its own, so that a control that reacts to the pointer sees it.
    sh("xdotool", "mousemove", "--sync", str(px - 1), str(py))
    time.sleep(0.2)
    sh("xdotool", "mousemove", "--sync", str(px), str(py))
    time.sleep(0.3)
    sh("xdotool", "click", "1")


def key(w, name):
    sh("xdotool", "windowfocus", "--sync", w)
    time.sleep(0.2)
    sh("xdotool", "key", name)


def shot(opts, name, w=None):
    """The screen, or the window w with a margin of 20 pixels."""
    os.makedirs(opts.shots, exist_ok=True)
    path = os.path.join(opts.shots, name + ".png")
    crop = []
    if w:
        x, y, width, height = geometry(w)
        crop = ["-crop", "%dx%d+%d+%d" % (width + 40, height + 40, max(x - 20, 0), max(y - 20, 0)), "+repage"]
    sh("import", "-window", "root", *crop, path)
    print("    screenshot", path)


def ended(proc, timeout):
    try:
        proc.wait(timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        return False


# The update dialog's buttons (template 102, 320 x 185 dialog units): their centres.
START_BUTTON = (151 + 22, 159 + 6)
RUN_BUTTON = (198 + 33, 159 + 6)
EXIT_BUTTON = (266 + 22, 159 + 6)
# The start dialog's links (template 158, 171 x 85).
LINK_1058 = (38 + 22, 62 + 4)
LINK_1061 = (90 + 21, 62 + 4)


def press_update(w, button):
    click(w, button[0], button[1], 320, 185)


# --- the update server's folder ---

class Table:
    def __init__(self, opts, folder):
        self.opts = opts
        self.folder = folder
        os.makedirs(folder, exist_ok=True)

    def publish(self, version, package=None, size=None, mode="", signature=None, statement=None):
        for name in ("version.txt", "filesize.txt", "table.zip", "table.zip.sig", statement_name(self.opts), "mode"):
            try:
                os.unlink(os.path.join(self.folder, name))
            except OSError:
                pass
        with open(os.path.join(self.folder, "version.txt"), "w") as f:
            f.write(version)
        if package is not None:
            with open(os.path.join(self.folder, "table.zip"), "wb") as f:
                f.write(package)
            with open(os.path.join(self.folder, "filesize.txt"), "w") as f:
                f.write(str(len(package) if size is None else size))
        if mode:
            with open(os.path.join(self.folder, "mode"), "w") as f:
                f.write(mode)
        for name, data in (("table.zip.sig", signature), (statement_name(self.opts), statement)):
            if data is not None:
                with open(os.path.join(self.folder, name), "wb") as f:
                    f.write(data)


def build_package(opts, work, loader, padding=0, pages=0):
    """An update package: eb_df/ with a new page (and `pages` more), the stand-in formdesk, and
    loader.exe."""
    tree = os.path.join(work, "update-tree")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(os.path.join(tree, "eb_df"))
    with open(os.path.join(tree, "eb_df", "updated.html"), "w") as f:
        f.write("<p>from the update</p>\n")
    for i in range(pages):
        with open(os.path.join(tree, "eb_df", "page%04d.html" % i), "wb") as f:
            f.write(os.urandom(4000))
    if padding:
        # Bytes that do not compress, so that a slow server takes a while to send the package.
        with open(os.path.join(tree, "eb_df", "padding.bin"), "wb") as f:
            f.write(os.urandom(padding))
    loader_path = os.path.join(work, "loader.exe")
    with open(loader_path, "wb") as f:
        f.write(loader)
    out = os.path.join(work, "table.zip")
    subprocess.run([opts.pack, out, "eb_df/=" + os.path.join(tree, "eb_df"), "formdesk.exe=" + opts.standin,
                    "loader.exe=" + loader_path], check=True, stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read()


class Servers:
    def __init__(self, work, table):
        self.state = os.path.join(work, "servers.json")
        self.table = table

    def __enter__(self):
        subprocess.run([sys.executable, SERVERS, "start", self.state, "--table", self.table], check=True)
        return self

    def log_tail(self, lines=8):
        """The last requests the servers saw."""
        try:
            with open(self.state) as f:
                folder = json.load(f)["folder"]
            with open(os.path.join(folder, "servers.log"), errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except (OSError, ValueError, KeyError):
            return ""

    def __exit__(self, *exc):
        subprocess.run([sys.executable, SERVERS, "stop", self.state], stdout=subprocess.DEVNULL)


# --- the cases ---

def expect_formdesk(kit, count, account_opening):
    """The stand-in writes "args: [-AC] cwd=FOLDER" (its arguments in brackets) per start."""
    # formdesk runs on after formwell has ended (under Wine it starts a moment later): wait for it.
    deadline = time.monotonic() + 15
    while len(kit.calls()) < count and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(0.3)
    calls = kit.calls()
    check(len(calls) == count, "formdesk started %d times, expected %d: %r" % (len(calls), count, calls))
    line = calls[-1]
    check(line.startswith("args:") and " cwd=" in line, "stand-in line: " + line)
    args, cwd = line[len("args:"):].split(" cwd=", 1)
    check(args.strip() == ("[-AC]" if account_opening else ""), "arguments: " + args)
    check(cwd.rstrip("\\/").lower().endswith("formwell"), "current folder: " + cwd)


def start_dialog(kit, opts, how, name=None):
    """Starts formwell and answers the start dialog with a key or a link; returns the process."""
    proc = kit.start()
    w = wait_window(proc, kit=kit)
    if name:
        shot(opts, name)
    if how in ("Return", "Escape"):
        key(w, how)
    else:
        click(w, how[0], how[1], 171, 85)
    return proc


def case_first_run_without_network(kit, opts, work):
    kit.reset()
    proc = start_dialog(kit, opts, "Return", "start-dialog")
    check(ended(proc, 30), "formwell did not end after the start dialog")
    check(kit.version() == "1.0.0.0", "installed version %r" % kit.version())
    check(kit.file("tm.zip") is not None, "tm.zip was not left in the program folder")
    expect_formdesk(kit, 1, account_opening=True)


def case_escape_and_link_1061_start_the_default_form(kit, opts, work):
    proc = start_dialog(kit, opts, "Escape")
    check(ended(proc, 30), "formwell did not end after Esc")
    expect_formdesk(kit, 2, account_opening=False)
    proc = start_dialog(kit, opts, LINK_1061)
    check(ended(proc, 30), "formwell did not end after link 1061")
    expect_formdesk(kit, 3, account_opening=False)
    proc = start_dialog(kit, opts, LINK_1058)
    check(ended(proc, 30), "formwell did not end after link 1058")
    expect_formdesk(kit, 4, account_opening=True)


def case_server_1000_reinstalls(kit, opts, work, table):
    kit.set_version("2.0.0.3")
    page = os.path.join(kit.folder, "eb_df", "index.html")
    with open(page, "w") as f:
        f.write("changed by hand")
    table.publish("1.0.0.0")
    proc = start_dialog(kit, opts, "Escape")
    check(ended(proc, 30), "formwell did not end")
    check(kit.version() == "1.0.0.0", "installed version %r" % kit.version())
    with open(page) as f:
        check(f.read() != "changed by hand", "the carried package was not unpacked again")
    expect_formdesk(kit, 5, account_opening=False)


def case_failed_updates_keep_everything(kit, opts, work, table, package):
    kit.set_version("1.0.0.0")
    old_zip = kit.file("tm.zip")
    first = True
    for what, kwargs in (("empty", dict(package=b"", size=0)),
                         ("truncated", dict(package=package, mode="truncated")),
                         ("404", dict(package=None)),
                         ("not a ZIP", dict(package=b"<html><body>maintenance</body></html>"))):
        print("    package:", what)
        table.publish("2.0.0.9", **kwargs)
        calls = len(kit.calls())
        proc = start_dialog(kit, opts, "Escape")
        w = wait_window(proc, UPDATE_TITLE)
        press_update(w, START_BUTTON)
        time.sleep(4)
        if first:
            shot(opts, "update-failed", w)
            first = False
        check(kit.version() == "1.0.0.0", "%s: version recorded: %r" % (what, kit.version()))
        check(kit.file("tm.zip") == old_zip, "%s: tm.zip changed" % what)
        check(kit.file("tm.zip.part") is None, "%s: tm.zip.part left behind" % what)
        check(kit.file("loader.exe") is None, "%s: something was unpacked" % what)
        if what == "empty":
            # 开始升级, disabled by the click while it held the focus, gets it back when enabled again:
            # Enter tries again (the package is fetched anew and the attempt fails as the first did).
            def fetched():
                return Servers(work, table.folder).log_tail(100000).count("table/table.zip ")
            before = fetched()
            key(w, "Return")
            deadline = time.monotonic() + 20
            while (fetched() == before or kit.file("tm.zip.part") is not None) and proc.poll() is None \
                    and time.monotonic() < deadline:
                time.sleep(0.2)
            check(proc.poll() is None and fetched() > before, "%s: Enter after the failure did not try again" % what)
        press_update(w, RUN_BUTTON)  # disabled after a failure: nothing happens
        time.sleep(1)
        check(proc.poll() is None, "%s: run software ended the dialog after a failure" % what)
        press_update(w, EXIT_BUTTON)
        started = time.monotonic()
        check(ended(proc, 10), "%s: exit did not end formwell" % what)
        took = time.monotonic() - started
        kit.exit_baseline = max(kit.exit_baseline, took)
        print("    exit with no download running: the process ended after %.2f s" % took)
        check(len(kit.calls()) == calls, "%s: formdesk started after exit" % what)


def case_exit_during_download(kit, opts, work, table, slow_package, mode):
    """Leaving the dialog while the server trickles ("slow") or has gone silent ("stall")."""
    table.publish("2.0.0.9", package=slow_package, mode=mode)
    old_zip = kit.file("tm.zip")
    proc = start_dialog(kit, opts, "Escape")
    w = wait_window(proc, UPDATE_TITLE)
    press_update(w, START_BUTTON)
    time.sleep(2.5)
    if mode == "slow":
        shot(opts, "update-updating", w)
    press_update(w, EXIT_BUTTON)
    started = time.monotonic()  # from the click
    while any(win == w for win, _ in windows()) and time.monotonic() - started < 5:
        time.sleep(0.05)
    gone = time.monotonic() - started
    check(ended(proc, 10), "formwell did not end after exit during the download")
    took = time.monotonic() - started
    print("    exit during the download: the dialog was gone after %.2f s, the process after %.2f s "
          "(%.2f s without a download)" % (gone, took, kit.exit_baseline))
    # Within a second, or (under Wine, whose processes take a while to end) no later than when
    # no download runs.
    limit = max(1.0, kit.exit_baseline + 0.5)
    check(gone < limit, "the dialog took %.2f s to go" % gone)
    if kit.wine:
        # Wine's WinINet does not interrupt a read when its handle is closed: the dialog waits up to
        # a second for its worker (a trickling read returns with its next bytes) and, when the server
        # is silent, ends all the same.
        limit += 1.0
    check(took < limit, "formwell took %.2f s to end" % took)
    check(kit.version() == "1.0.0.0", "version recorded: %r" % kit.version())
    check(kit.file("tm.zip") == old_zip, "tm.zip changed")
    time.sleep(0.5)
    # (A worker still stuck in Wine's WinINet when the program ends leaves its part file; the next
    # download starts a fresh one.)
    if not (kit.wine and mode == "stall"):
        check(kit.file("tm.zip.part") is None, "tm.zip.part left behind")


def wait_program_replaced(kit, loader):
    """Waits (15 s at most) for the self-replacement to have put the package's loader in the program's place."""
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        with open(kit.program, "rb") as f:
            if f.read() == loader:
                return
        time.sleep(0.3)


def case_exit_during_unpacking(kit, opts, work, table, many_package, loader):
    """Leaving while the package is unpacked waits for the installation: the next start finds the
    new version whole and recorded."""
    table.publish("2.0.0.9", package=many_package)
    proc = start_dialog(kit, opts, "Escape")
    w = wait_window(proc, UPDATE_TITLE)
    press_update(w, START_BUTTON)
    deadline = time.monotonic() + 30
    while not os.path.isdir(os.path.join(kit.folder, ".staging")) and time.monotonic() < deadline:
        time.sleep(0.01)
    press_update(w, EXIT_BUTTON)
    check(ended(proc, 60), "formwell did not end after the installation")
    check(kit.version() == "2.0.0.9", "version after leaving during the unpacking: %r" % kit.version())
    missing = [i for i in range(3000) if kit.file("eb_df/page%04d.html" % i) is None]
    check(not missing, "%d pages of the package are missing" % len(missing))
    # Back to the program and version the next case starts from, once the self-replacement is done.
    wait_program_replaced(kit, loader)
    shutil.copy2(kit.original, kit.program)
    os.unlink(os.path.join(kit.folder, "loader.exe"))  # or every later exit would install it again
    kit.set_version("1.0.0.0")


def case_update_runs_and_replaces_the_program(kit, opts, work, table, package, loader, unpacked="eb_df/updated.html"):
    table.publish("2.0.0.8", package=package)
    calls = len(kit.calls())
    proc = start_dialog(kit, opts, "Return")
    w = wait_window(proc, UPDATE_TITLE)
    shot(opts, "update-offered", w)
    press_update(w, START_BUTTON)
    deadline = time.monotonic() + 30
    while kit.version() != "2.0.0.8" and time.monotonic() < deadline:
        time.sleep(0.3)
    check(kit.version() == "2.0.0.8", "version after the update: %r" % kit.version())
    time.sleep(1.5)
    shot(opts, "update-updated", w)
    check(kit.file("tm.zip") == package, "tm.zip is not the new package")
    check(kit.file(unpacked) is not None, "the package was not unpacked")
    press_update(w, RUN_BUTTON)
    check(ended(proc, 10), "run software did not end formwell")
    expect_formdesk(kit, calls + 1, account_opening=True)
    wait_program_replaced(kit, loader)
    with open(kit.program, "rb") as f:
        check(f.read() == loader, "the program file was not replaced by the package's loader")


def sign(key, data):
    """The DER signature that `openssl dgst -sha256 -sign` makes, as the publisher does."""
    return subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=data, stdout=subprocess.PIPE,
                          check=True).stdout


def platform(opts, other=False):
    return "windows" if bool(opts.wine) != other else "linux"


def statement_name(opts):  # the statement that the program under test reads
    return "statement-%s.txt" % platform(opts)


def statement(key, version, data, work, for_platform):
    path = os.path.join(work, "stated.zip")
    with open(path, "wb") as f:
        f.write(data)
    return subprocess.run(["bash", SIGN_STATEMENT, key, for_platform, version, path], stdout=subprocess.PIPE,
                          check=True).stdout


def case_signed_updates(kit, opts, work, table, package, other_package):
    """A program with an update key takes only a package that the key's owner signed."""
    good = sign(opts.signing_key, package)
    stated = statement(opts.signing_key, "2.0.0.9", package, work, platform(opts))
    kit.set_version("1.0.0.0")
    old_zip = kit.file("tm.zip")
    for what, served, signature, said in (("unsigned", package, None, stated),
                                          ("signed by another key", package, sign(opts.foreign_key, package), stated),
                                          ("changed after signing", other_package, good, stated),
                                          ("cut signature file", package, good[:-7], stated),
                                          ("older signed package under the statement of 2.0.0.9", package, good,
                                           statement(opts.signing_key, "2.0.0.9", other_package, work,
                                                     platform(opts)))):
        print("    package:", what)
        table.publish("2.0.0.9", package=served, signature=signature, statement=said)
        proc = start_dialog(kit, opts, "Escape")
        w = wait_window(proc, UPDATE_TITLE)
        press_update(w, START_BUTTON)
        time.sleep(4)
        check(kit.version() == "1.0.0.0", "%s: version recorded: %r" % (what, kit.version()))
        check(kit.file("tm.zip") == old_zip, "%s: tm.zip changed" % what)
        check(kit.file("loader.exe") is None, "%s: something was unpacked" % what)
        press_update(w, EXIT_BUTTON)
        check(ended(proc, 10), "%s: exit did not end formwell" % what)
    # Replayed: the genuine 2.0.0.8 package, signature and statement under version.txt 2.0.0.9.
    print("    package: older signed package and its statement under a higher version.txt")
    table.publish("2.0.0.9", package=package, signature=good, statement=statement(opts.signing_key, "2.0.0.8",
                                                                                   package, work, platform(opts)))
    proc = start_dialog(kit, opts, "Escape")
    check(ended(proc, 30), "replayed: formwell offered the update")
    check(kit.version() == "1.0.0.0" and kit.file("loader.exe") is None, "replayed: something was installed")
    # The other platform's genuine statement (one key signs both kits) under the name this program reads.
    print("    package: signed by the key, its statement for the other platform")
    table.publish("2.0.0.9", package=package, signature=good, statement=statement(opts.signing_key, "2.0.0.9",
                                                                                   package, work, platform(opts, True)))
    proc = start_dialog(kit, opts, "Escape")
    check(ended(proc, 30), "other platform: formwell offered the update")
    check(kit.version() == "1.0.0.0" and kit.file("loader.exe") is None, "other platform: something was installed")
    print("    package: signed by the key")
    table.publish("2.0.0.8", package=package, signature=good,
                  statement=statement(opts.signing_key, "2.0.0.8", package, work, platform(opts)))
    proc = start_dialog(kit, opts, "Escape")
    w = wait_window(proc, UPDATE_TITLE)
    press_update(w, START_BUTTON)
    deadline = time.monotonic() + 30
    while kit.version() != "2.0.0.8" and time.monotonic() < deadline:
        time.sleep(0.3)
    check(kit.version() == "2.0.0.8", "signed package: version after the update: %r" % kit.version())
    check(kit.file("tm.zip") == package, "signed package: tm.zip is not the new package")
    press_update(w, EXIT_BUTTON)
    check(ended(proc, 10), "signed package: exit did not end formwell")


def pe_bits(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = int.from_bytes(data[60:64], "little")
    return 32 if data[offset + 24:offset + 26] == b"\x0b\x01" else 64


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--prefix")
    parser.add_argument("--only", help="run only the cases whose name holds this text")
    parser.add_argument("--signing-key", help="the private key whose public half the program carries: run the "
                        "signed-update cases only")
    parser.add_argument("--foreign-key", help="another private key, for a package signed by the wrong key")
    opts = parser.parse_args()
    for name in ("program", "standin", "pack", "shots", "wine", "prefix", "signing_key", "foreign_key"):
        if getattr(opts, name):
            setattr(opts, name, os.path.abspath(getattr(opts, name)))
    if opts.wine and pe_bits(opts.program) == 32 and subprocess.run(
            ["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
        print("skipped: this kernel cannot start 32-bit programs, so Wine cannot run 32-bit Windows programs here")
        return 77
    work = tempfile.mkdtemp(prefix="formwell-e2e-")
    kit = Kit(opts, work)
    table = Table(opts, os.path.join(work, "table"))
    with open(opts.standin, "rb") as f:
        loader = b"the next formwell\n" + f.read()
    package = build_package(opts, work, loader)
    slow_package = build_package(opts, work, loader, padding=400000)
    many_package = build_package(opts, work, loader, pages=3000)

    cases = [
        ("first run without network installs and starts formdesk -AC",
         lambda: case_first_run_without_network(kit, opts, work)),
        ("Esc and link 1061 start the default form, link 1058 the account-opening one",
         lambda: case_escape_and_link_1061_start_the_default_form(kit, opts, work)),
    ]
    served = [
        ("server 1.0.0.0 over 2.0.0.3 reinstalls the carried package",
         lambda: case_server_1000_reinstalls(kit, opts, work, table)),
        ("empty, truncated, 404 and non-ZIP packages fail and keep everything",
         lambda: case_failed_updates_keep_everything(kit, opts, work, table, package)),
        ("exit during a slow download ends at once",
         lambda: case_exit_during_download(kit, opts, work, table, slow_package, "slow")),
        ("exit during the unpacking waits for the installation",
         lambda: case_exit_during_unpacking(kit, opts, work, table, many_package, loader)),
        ("a newer version updates, runs formdesk and replaces the program",
         lambda: case_update_runs_and_replaces_the_program(kit, opts, work, table, package, loader)),
    ]
    # A server gone silent holds a read inside the Internet library until its time-out; only the
    # layer's abortAll ends it early.
    with open(os.path.join(HERE, "..", "..", "platform", "include", "platform", "internet.h")) as f:
        if "abortAll" in f.read():
            served.insert(-1, ("exit during a stalled download ends at once",
                               lambda: case_exit_during_download(kit, opts, work, table, slow_package, "stall")))
        else:
            print("skipped: exit during a stalled download (the Internet layer cannot abort a transfer yet)")
    if opts.signing_key:
        cases = cases[:1]
        served = [("only a package signed by the program's key updates",
                   lambda: case_signed_updates(kit, opts, work, table, package, slow_package))]
    failed = 0
    servers = None

    def run(name, fn):
        nonlocal failed
        if opts.only and opts.only not in name:
            return
        print("case:", name, flush=True)
        try:
            fn()
            print("  ok", flush=True)
        except Failure as e:
            failed += 1
            print("  FAILED:", e, flush=True)
            if servers:
                print("  the servers' last requests:\n" + servers.log_tail(), flush=True)
            shot(opts, "failure-%d" % failed)
        finally:
            for w, _ in windows():
                sh("xdotool", "windowkill", w)
            try:  # a worker stuck on a stalled server must not meet the next case
                kit.settle()
            except Failure as e:
                failed += 1
                print("  FAILED:", e, flush=True)

    try:
        for name, fn in cases:
            run(name, fn)
        with Servers(work, table.folder) as servers:
            for name, fn in served:
                run(name, fn)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d case(s) failed" % failed if failed else "all cases passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
