#!/usr/bin/env python3
"""formwell's 32-bit build as every 64-bit Windows 10 and 11 runs it: in a 64-bit Wine prefix (WOW64),
as root (the machine folder under Program Files (x86), the version under WOW6432Node) and as an
unprivileged Unix user who cannot write the machine folder or key. Reuses formwell_e2e's kit, windows,
servers and update cases; run it under xvfb-run -a, as root.

    wow64_e2e.py --program FORMWELL --standin FORMDESK --pack FORMWELL-PACK --shots DIR --wine WINE-RUN.SH
                 --probe KEY-DENY-PROBE [--user formwelltest] [--only TEXT]
"""
import errno
import glob
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import formwell_e2e as e2e  # noqa: E402

check = e2e.check
MACHINE_KEY, USER_KEY = r"HKEY_LOCAL_MACHINE\software\orvanta\formwell", r"HKEY_CURRENT_USER\software\orvanta\formwell"
ROOT_ENV = {n: os.environ.get(n) for n in ("WINE_RUN_AS", "TMPDIR", "HOME", "XAUTHORITY", "LOCPATH")}
SAVED = b'{"users":[{"name":"\xe5\xbc\xa0\xe4\xb8\x89"}]}'  # what the old build saved, in the VirtualStore


class Kit64(e2e.Kit):
    """formwell in a 64-bit prefix, run by root or (user=...) by an unprivileged user under a profile name."""

    def __init__(self, opts, work, prefix, user=None, name="root", lc=None):
        super().__init__(type("Opts", (), dict(vars(opts), prefix=prefix)), work)
        self.user, self.name = user, name
        local = os.path.join(prefix, "drive_c", "users", name, "AppData", "Local")
        self.machine = os.path.join(prefix, "drive_c", "Program Files (x86)", "Common Files", "Formwell")
        self.virtual = os.path.join(local, "VirtualStore", "Program Files (x86)", "Common Files", "Formwell")
        self.folder, self.key = (os.path.join(local, "Formwell"), USER_KEY) if user else (self.machine, MACHINE_KEY)
        tmp = os.path.join(os.path.dirname(prefix), "tmp")  # Debian's Wine keeps its server folder in TMPDIR
        self.vars = dict(WINE_PREFIX_ARCH="win64", USER=name, TMPDIR=tmp, WINE_LC_ALL=lc or "zh_CN.UTF-8")
        if lc:  # the test's own compiled locale, so that Wine reads USER as UTF-8 and names the profile by it
            self.vars.update(LOCPATH=os.path.join(os.path.dirname(work), "locales"))
        if user:
            self.vars.update(WINE_RUN_AS=user, HOME=os.path.dirname(prefix),
                             XAUTHORITY=os.path.join(tmp, "Xauthority"))

    def use(self):
        """Makes this kit's user, profile and key the ones that formwell_e2e's helpers run with."""
        for name, value in ROOT_ENV.items():
            os.environ.pop(name, None)
            if value is not None:
                os.environ[name] = value
        os.environ.update(self.vars)
        e2e.KEY = self.key
        return self

    def run_wine(self, *args):  # reg: the 32-bit one, which sees what formwell sees; reg64: the 64-bit view
        bits = {"reg": "syswow64", "reg64": "system32"}.get(args[0])
        if bits:
            args = (os.path.join(self.opts.prefix, "drive_c", "windows", bits, "reg.exe"),) + args[1:]
        return super().run_wine(*args)

    def reset(self):
        super().reset()
        if self.user:  # the program where the customer saved it: a folder of their own
            subprocess.run(["chown", "-R", self.user, self.home], check=True)

    def settle(self, timeout=60):
        try:
            subprocess.run([self.wine, self.opts.prefix, "--server", "-w"], timeout=timeout)
        except subprocess.TimeoutExpired:
            raise e2e.Failure("what the case started still ran %d s after it" % timeout)

    def query(self, *args):
        return self.run_wine(*args).stdout


def olds(kit):
    return glob.glob(os.path.join(kit.home, "formwell*.old-*"))


def later_start_cleans_up(kit, version):
    proc = e2e.start_dialog(kit.use(), kit.opts, "Escape")
    check(e2e.ended(proc, 30), "the replaced program did not end after Esc")
    check(kit.version() == version, "version after a later start: %r" % kit.version())
    check(not olds(kit), "left beside the program after a later start: %r" % olds(kit))


def case_machine(kit, work, table):
    table.publish("1.0.0.0")  # the carried version: install what the program carries
    e2e.case_first_run_without_network(kit.use(), kit.opts, work)
    out = kit.query("reg64", "query", r"HKLM\Software\WOW6432Node\orvanta\formwell", "/v", "currentversion")
    check("1.0.0.0" in out, "the version is not under WOW6432Node in the 64-bit view: %r" % out)


def case_update(kit, work, table, package, loader, version="2.0.0.8"):
    kit.use()
    e2e.case_update_runs_and_replaces_the_program(kit, kit.opts, work, table, package, loader)
    later_start_cleans_up(kit, version)


def case_update_beside_a_second_process(kit, work, table, package, loader):
    """The update and its self-replacement while another formwell runs from the same program file."""
    table.publish("2.0.0.9", package=package)
    other = kit.use().start()
    first = e2e.wait_window(other, kit=kit)
    proc = kit.start()
    deadline = time.monotonic() + 30
    while not [w for w, _ in e2e.windows() if w != first] and time.monotonic() < deadline:
        time.sleep(0.2)
    mine = [w for w, _ in e2e.windows() if w != first]
    check(mine, "the second formwell showed no window")
    e2e.key(mine[0], "Return")
    w = e2e.wait_window(proc, e2e.UPDATE_TITLE)
    e2e.press_update(w, e2e.START_BUTTON)
    deadline = time.monotonic() + 30
    while kit.version() != "2.0.0.9" and time.monotonic() < deadline:
        time.sleep(0.3)
    check(kit.version() == "2.0.0.9", "version after the update: %r" % kit.version())
    e2e.press_update(w, e2e.RUN_BUTTON)
    check(e2e.ended(proc, 10), "run software did not end formwell")
    e2e.wait_program_replaced(kit, loader)
    with open(kit.program, "rb") as f:
        check(f.read() == loader, "with another formwell running from it, the program file was not replaced")
    e2e.key(first, "Escape")
    check(e2e.ended(other, 30), "the other formwell did not end after Esc")
    kit.settle()
    later_start_cleans_up(kit, "2.0.0.9")


def case_per_user(kit, work, table, newer=None):
    """Installs per user; carries the saved applications from the VirtualStore, never over a newer one."""
    table.publish("1.0.0.0")
    kit.use().reset()
    shutil.rmtree(os.path.dirname(kit.folder), ignore_errors=True)
    os.makedirs(kit.virtual)
    for name, data in (("json.sav", SAVED), ("json_ac.sav", SAVED + b" "), ("install.pending", b""),
                       ("tm.zip", b"PK\x03\x04 a stale half package")):
        with open(os.path.join(kit.virtual, name), "wb") as f:
            f.write(data)
    os.utime(os.path.join(kit.virtual, "json.sav"), (time.time() - 86400,) * 2)
    if newer:
        os.makedirs(kit.folder)
        with open(os.path.join(kit.folder, "json.sav"), "wb") as f:
            f.write(newer)
    subprocess.run(["chown", "-R", kit.user, os.path.dirname(os.path.dirname(kit.folder))], check=True)
    proc = e2e.start_dialog(kit, kit.opts, "Return")
    check(e2e.ended(proc, 30), "formwell did not end after the start dialog (exit code %s): %s"
          % (proc.returncode, kit.errors()))
    check(kit.version() == "1.0.0.0", "version under HKCU: %r (formwell exit code %s)" % (kit.version(), proc.returncode))
    check(kit.file("tm.zip") not in (None, b"PK\x03\x04 a stale half package"), "no package in the per-user folder")
    check(kit.file("json.sav") == (newer or SAVED), "json.sav in the per-user folder: %r" % kit.file("json.sav"))
    check(kit.file("json_ac.sav") == SAVED + b" ", "json_ac.sav was not carried from the VirtualStore")
    check(not os.path.exists(os.path.join(kit.machine, "tm.zip")), "something was installed in the machine folder")
    check("currentversion" not in kit.query("reg", "query", MACHINE_KEY).lower(), "a version was recorded in HKLM")
    e2e.expect_formdesk(kit, 1, account_opening=True)
    if not kit.name.isascii():  # formdesk runs in the ASCII short form of the Formwell folder under the profile
        cwd = kit.calls()[-1].split(" cwd=", 1)[1]
        unix = kit.query("winepath", "-u", cwd).strip()
        check(cwd.isascii() and os.path.realpath(unix) == os.path.realpath(kit.folder),
              "formdesk ran in %r (%r), not in %r" % (cwd, unix, kit.folder))


def case_key_denied(kit, work, table, probe):
    """The machine folder is writable, the machine key is not: Wine keeps its rules while its server runs."""
    os.chown(os.path.dirname(kit.machine), pwd.getpwnam(kit.user).pw_uid, -1)
    kit.use()
    try:
        subprocess.run([kit.wine, kit.opts.prefix, probe], stdout=subprocess.DEVNULL)  # now on this display
        kit.settle()
        subprocess.run([kit.wine, kit.opts.prefix, "--server", "-p"], check=True)
        out = subprocess.run([kit.wine, kit.opts.prefix, probe], stdout=subprocess.PIPE, text=True).stdout.strip()
        print("    key_deny_probe:", out)
        check("write-open: 5 " in out, "Wine let this user open the denied key for writing: " + out)
        case_per_user(kit, work, table)
    finally:
        subprocess.run([kit.wine, kit.opts.prefix, "--server", "-k"])
        os.chown(os.path.dirname(kit.machine), 0, -1)


def case_proxy_views(kit, work, table, servers):
    """Proxy values in the 64-bit view only, value by value, the port from the 32-bit view before the 64-bit one."""
    table.publish("1.0.0.0")
    kit.use().reset()
    key64 = r"HKLM\Software\orvanta\formwell"
    for name, value in (("PROXY_TYPE", "3"), ("PROXY_HOST", "127.0.0.1"), ("PROXY_PORT", "1"),
                        ("PROXY_USER", "formwell"), ("PROXY_PWD", "s3cret")):
        kit.query("reg64", "add", key64, "/v", name, "/d", value, "/f")
    kit.query("reg", "add", MACHINE_KEY, "/v", "PROXY_PORT", "/d", "8888", "/f")
    log = os.path.join(servers.folder(), "tinyproxy.log")
    before = open(log, errors="replace").read().count("version.txt")
    try:
        proc = e2e.start_dialog(kit, kit.opts, "Escape")
        check(e2e.ended(proc, 30), "formwell did not end after Esc")
        check(open(log, errors="replace").read().count("version.txt") > before,
              "the version request did not go through the proxy named in the 64-bit view")
    finally:
        kit.query("reg64", "delete", key64, "/f")
        kit.query("reg", "delete", MACHINE_KEY, "/v", "PROXY_PORT", "/f")


class Servers(e2e.Servers):
    def folder(self):
        with open(self.state) as f:
            return e2e.json.load(f)["folder"]


def user_prefix(opts, work, template):
    """A copy of the fresh prefix that the user owns, with Common Files owned by root."""
    subprocess.run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", opts.user],
                   stderr=subprocess.DEVNULL)
    home = os.path.join(work, "user")
    os.makedirs(os.path.join(home, "tmp"))
    subprocess.run(["cp", "-a", template, os.path.join(home, "prefix")], check=True)
    if os.environ.get("XAUTHORITY"):
        shutil.copy(os.environ["XAUTHORITY"], os.path.join(home, "tmp", "Xauthority"))
    subprocess.run(["chown", "-R", opts.user, home], check=True)
    os.chmod(home, 0o755)
    os.chmod(os.path.join(home, "tmp"), 0o700)
    common = os.path.join(home, "prefix", "drive_c", "Program Files (x86)", "Common Files")
    os.chown(common, 0, 0)
    os.chmod(common, 0o755)
    return os.path.join(home, "prefix")


def main():
    parser = e2e.argparse.ArgumentParser()
    for name in ("program", "standin", "pack", "shots", "wine", "probe"):
        parser.add_argument("--" + name, type=os.path.abspath, required=True)
    parser.add_argument("--user", default="formwelltest")
    parser.add_argument("--only", default="")
    opts = parser.parse_args()
    try:  # the 32-bit loader as wine-run.sh finds it: one that is missing or fails is a failure
        subprocess.run([os.environ.get("WINE32_LOADER", "/usr/lib/wine/wine"), "--version"], capture_output=True,
                       check=True)
    except OSError as e:
        if e.errno != errno.ENOEXEC:
            raise
        print("skipped: this kernel cannot start 32-bit programs")
        return 77
    if os.getuid() != 0:
        print("skipped: making the unprivileged user takes root")
        return 77
    work = tempfile.mkdtemp(prefix="formwell-wow64-")
    os.chmod(work, 0o755)
    started = time.monotonic()
    template = os.path.join(work, "prefix")
    os.mkdir(os.path.join(work, "tmp"))
    os.environ.update(WINE_PREFIX_ARCH="win64", TMPDIR=os.path.join(work, "tmp"))  # gone with the test's folder
    os.mkdir(os.path.join(work, "locales"))
    for lc in ("zh_CN", "en_US"):  # in the test's folder: other tests need zh_CN.UTF-8 missing from the system
        subprocess.run(["localedef", "-i", lc, "-f", "UTF-8", os.path.join(work, "locales", lc + ".UTF-8")],
                       check=True)
    subprocess.run([opts.wine, template, "--prepare", "32"], check=True)
    print("the 64-bit prefix was made in %.1f s" % (time.monotonic() - started))
    uprefix = user_prefix(opts, work, template)
    machine = Kit64(opts, os.path.join(work, "machine"), template)
    user, zoe, maria = (Kit64(opts, os.path.join(work, n), uprefix, opts.user, n, lc) for n, lc in
                        ((opts.user, None), ("Zoë", "zh_CN.UTF-8"), ("Мария", "en_US.UTF-8")))
    table = e2e.Table(opts, os.path.join(work, "table"))
    real = open(opts.program, "rb").read()
    loaders = [real + b"\0the next formwell %d" % i for i in range(2)]  # real programs, told apart by their tail
    packages = [e2e.build_package(opts, work, loader) for loader in loaders]
    cases = [
        ("machine: first run installs under Program Files (x86), the version under WOW6432Node",
         lambda: case_machine(machine, work, table)),
        ("per user: no right to Common Files installs under LOCALAPPDATA, the version under HKCU, "
         "and carries json.sav from the VirtualStore", lambda: case_per_user(user, work, table)),
        ("per user: a profile name outside code page 936 (Zoë), a newer json.sav is kept",
         lambda: case_per_user(zoe, work, table, newer=SAVED + b" newer")),
        ("per user: a profile name outside code page 1252 (Мария)", lambda: case_per_user(maria, work, table)),
        ("per user: Common Files writable but the HKLM key denied",
         lambda: case_key_denied(user, work, table, opts.probe)),
        ("machine: proxy values in the 64-bit view reach the proxy", lambda: case_proxy_views(machine, work, table, servers)),
        ("machine: an update replaces the running program, the old one goes at a later start",
         lambda: case_update(machine, work, table, packages[0], loaders[0])),
        ("machine: the update replaces the program while a second formwell runs from it",
         lambda: case_update_beside_a_second_process(machine, work, table, packages[1], loaders[1])),
        ("per user: an update replaces the user's program",
         lambda: (case_per_user(user, work, table), case_update(user, work, table, packages[0],
                                                                                    loaders[0]))),
    ]
    failed = 0
    servers = None

    def run(name, fn, kit):
        nonlocal failed
        if opts.only not in name:
            return
        print("case:", name, flush=True)
        began = time.monotonic()
        try:
            fn()
            print("  ok (%.1f s)" % (time.monotonic() - began), flush=True)
        except e2e.Failure as e:
            failed += 1
            print("  FAILED (%.1f s): %s" % (time.monotonic() - began, e), flush=True)
            e2e.shot(opts, "wow64-failure-%d" % failed)
        finally:
            for w, _ in e2e.windows():
                e2e.sh("xdotool", "windowkill", w)
            kit.use().settle()

    try:
        # Other test runs on this machine take the same fixed ports for a while.
        deadline = time.monotonic() + 400
        while any(e2e.sh("ss", "-Htln", "sport = :%d" % p).stdout.strip() for p in (8080, 8443, 8090, 8888)):
            check(time.monotonic() < deadline, "the update servers' ports stayed taken")
            time.sleep(1)
        with Servers(work, table.folder) as servers:
            for name, fn in cases:
                run(name, fn, machine if name.startswith("machine") else user)
    finally:
        for kit in (machine, user):
            kit.use().query("--server", "-k")
            kit.query("--server", "-w")
        left = [p for p, state in (line.split() for line in e2e.sh("ps", "-u", opts.user, "-o", "pid=,stat=")
                                   .stdout.splitlines()) if not state.startswith("Z")]  # zombies have ended
        for pid in left:  # only this test starts programs as this user
            os.kill(int(pid), 9)
        if left:
            print("FAILED: processes of %s were left: %s" % (opts.user, " ".join(left)))
            failed += 1
        shutil.rmtree(work, ignore_errors=True)
    print("%d case(s) failed" % failed if failed else "all cases passed", "in %.0f s" % (time.monotonic() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
