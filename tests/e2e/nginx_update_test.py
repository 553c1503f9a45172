#!/usr/bin/env python3
"""An update served by Debian's nginx with the kit's site file, as a bank serves it: tools/publish.sh
publishes this build as 2.0.0.8 (its package with the stand-in formdesk), nginx serves the folder on
127.0.0.1:8080 (HTTP) and 127.0.0.1:8443 (HTTPS) from a prefix of its own, and formwell, installed
first without a server, takes the update, starts formdesk and is replaced by the published loader.exe.
The headers that caches and the program rely on are checked on both servers. Run under xvfb-run.

    nginx_update_test.py --site SITE.conf --publish PUBLISH.SH --build BUILD-DIR <formwell_e2e.py's options>
"""
import os
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import formwell_e2e as e2e  # noqa: E402

NGINX_CONF = """daemon off;
worker_processes 1;
pid {w}/nginx.pid;
error_log {w}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log {w}/access.log;
  client_body_temp_path {w}/tmp/body; proxy_temp_path {w}/tmp/proxy; fastcgi_temp_path {w}/tmp/fastcgi;
  uwsgi_temp_path {w}/tmp/uwsgi; scgi_temp_path {w}/tmp/scgi;
  include {w}/site.conf;
}}
"""


class Nginx:
    """nginx in the foreground with its own prefix; the site file's addresses, folder and certificate
    swapped for 127.0.0.1, the test's folder and a certificate made here."""

    def __init__(self, work, site, www):
        self.work = work
        os.makedirs(os.path.join(work, "tmp"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-keyout", work + "/server.key", "-out", work + "/server.crt"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(site) as f:
            text = f.read()
        for old, new in (("listen 8080;", "listen 127.0.0.1:8080;"), ("listen 443 ssl;", "listen 127.0.0.1:8443 ssl;"),
                         ("/srv/formwell/", www + "/"), ("/etc/ssl/formwell/update-server.", work + "/server.")):
            e2e.check(old in text, "the site file has no '%s'" % old)
            text = text.replace(old, new)
        text = "\n".join(line for line in text.splitlines() if "listen [::]" not in line)
        with open(os.path.join(work, "site.conf"), "w") as f:
            f.write(text)
        with open(os.path.join(work, "nginx.conf"), "w") as f:
            f.write(NGINX_CONF.format(w=work))

    def __enter__(self):
        w = self.work
        self.proc = subprocess.Popen(["nginx", "-p", w, "-c", w + "/nginx.conf", "-e", w + "/error.log"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 20
        while not all(listening(port) for port in (8080, 8443)):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise e2e.Failure("nginx did not start: " + self.log())
            time.sleep(0.1)
        return self

    def log(self):
        try:
            with open(os.path.join(self.work, "error.log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)  # a graceful stop: the master ends its workers
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()

    def __exit__(self, *exc):
        self.stop()


def listening(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def fetch(url, method="GET"):
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    request = urllib.request.Request(url, method=method, headers={"Accept-Encoding": "gzip"})
    try:
        with urllib.request.urlopen(request, context=context, timeout=10) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, b""


class Published:
    """The folder tools/publish.sh filled: formwell_e2e.py's cases publish into it as they do into
    the stand-in's; here it already holds what they ask for."""

    def __init__(self, folder):
        self.folder = folder

    def publish(self, version, package=None, **_):
        e2e.check(read(self.folder, "version.txt") == version.encode(), "published version is not " + version)
        e2e.check(package is None or read(self.folder, "table.zip") == package, "published table.zip differs")


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def check_headers(table):
    """What the program and the caches between it and nginx rely on, on both servers."""
    for base in ("http://127.0.0.1:8080/table/", "https://127.0.0.1:8443/ccs/table/"):
        for name, kind in (("version.txt", "text/plain"), ("filesize.txt", "text/plain"), ("table.zip", "application/zip")):
            status, headers, body = fetch(base + name)
            e2e.check(status == 200, "%s%s: status %s" % (base, name, status))
            e2e.check(body == read(table, name), "%s%s: not the published bytes (%s)" % (base, name,
                                                                                        headers.get("Content-Encoding")))
            e2e.check((headers.get("Content-Type") or "").startswith(kind), "%s%s: Content-Type %s" % (
                base, name, headers.get("Content-Type")))
            cache = headers.get("Cache-Control") or ""
            e2e.check("no-cache" in cache and "must-revalidate" in cache, "%s%s: Cache-Control '%s'" % (base, name, cache))
            e2e.check(headers.get("ETag"), "%s%s: no ETag to revalidate with" % (base, name))
        for name, method in (("version.txt", "POST"), (".version.txt.new", "GET"), ("", "GET")):
            status = fetch(base + name, method)[0]
            e2e.check(status in (403, 404, 405), "%s %s%s answered %s" % (method, base, name, status))


def main():
    parser = e2e.argparse.ArgumentParser()
    for name in ("--program", "--standin", "--pack", "--shots", "--site", "--publish", "--build"):
        parser.add_argument(name, required=True)
    parser.add_argument("--wine")
    parser.add_argument("--prefix")
    opts = parser.parse_args()
    for name in ("program", "standin", "pack", "shots", "wine", "prefix", "site", "publish", "build"):
        if getattr(opts, name):
            setattr(opts, name, os.path.abspath(getattr(opts, name)))
    if subprocess.run(["sh", "-c", "command -v nginx"], stdout=subprocess.DEVNULL).returncode:
        print("skipped: nginx is not installed (run scripts/setup.sh)")
        return 77
    if opts.wine and e2e.pe_bits(opts.program) == 32 and subprocess.run(
            ["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
        print("skipped: this kernel cannot start 32-bit programs")
        return 77
    work = tempfile.mkdtemp(prefix="formwell-nginx-")
    try:
        table = os.path.join(work, "www", "table")
        subprocess.run(["bash", opts.publish, opts.build, "2.0.0.8", table], check=True,
                       env=dict(os.environ, PACKAGE_FORMDESK=opts.standin))
        package = read(table, "table.zip")
        with zipfile.ZipFile(os.path.join(table, "table.zip")) as z:
            loader = z.read("loader.exe")
        kit = e2e.Kit(opts, os.path.join(work, "kit"))
        print("case: first run without a server installs the carried package", flush=True)
        e2e.case_first_run_without_network(kit, opts, work)
        # Started as root, nginx's workers read as nobody.
        subprocess.run(["chmod", "-R", "a+rX", work], check=True)
        with Nginx(os.path.join(work, "nginx"), opts.site, os.path.join(work, "www")) as nginx:
            try:
                print("case: nginx serves the published files with the headers they need", flush=True)
                check_headers(table)
                print("case: the published update arrives through nginx", flush=True)
                # A page that only the update's unpacking brings back.
                os.unlink(os.path.join(kit.folder, "eb_df", "index.html"))
                e2e.case_update_runs_and_replaces_the_program(kit, opts, work, Published(table), package, loader,
                                                              unpacked="eb_df/index.html")
            except e2e.Failure:
                print("nginx's log:\n" + nginx.log())
                raise
            finally:
                for w, _ in e2e.windows():
                    e2e.sh("xdotool", "windowkill", w)
    except e2e.Failure as e:
        print("FAILED:", e, flush=True)
        e2e.shot(opts, "nginx-failure")
        return 1
    finally:
        e2e.shutil.rmtree(work, ignore_errors=True)
    print("nginx update: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
