#!/usr/bin/env python3
"""tools/publish.sh's output served by nginx with --site on 127.0.0.1:8080/:8443: its headers, then formwell_e2e's update."""
import os, shutil, signal, ssl, subprocess, sys, tempfile, time, urllib.request, zipfile
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import formwell_e2e as e2e  # noqa: E402

CONF = """daemon off; pid {0}/pid; events {{}} http {{ access_log off; client_body_temp_path {0}/1; proxy_temp_path {0}/2;
fastcgi_temp_path {0}/3; uwsgi_temp_path {0}/4; scgi_temp_path {0}/5; {1} }}"""


def fetch(url):  # asking for gzip, which nginx must not apply
    try:
        with urllib.request.urlopen(urllib.request.Request(url, headers={"Accept-Encoding": "gzip"}), timeout=10,
                                    context=ssl._create_unverified_context()) as r:
            return r.status, r.headers, r.read()
    except OSError as e:  # an HTTP error status, or not listening yet
        return getattr(e, "code", 0), None, b""


def main(opts, work):
    table, ng = work + "/www/table", work  # nginx's prefix: its configuration, log and temporary folders
    subprocess.run(["bash", opts.publish, opts.build, "2.0.0.8", table], check=True, env=dict(os.environ, PACKAGE_FORMDESK=opts.standin))
    files = {n: open(os.path.join(table, n), "rb").read() for n in ("version.txt", "filesize.txt", "table.zip")}
    site = open(opts.site).read()
    for old, new in (("listen 8080;", "listen 127.0.0.1:8080;"), ("listen 443", "listen 127.0.0.1:8443"), ("listen [::]", "#"),
                     ("/srv/formwell/", work + "/www/"), ("/etc/ssl/formwell/update-server", ng + "/s")):
        site = site.replace(old, new)
    open(ng + "/nginx.conf", "w").write(CONF.format(ng, site))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                    ng + "/s.key", "-out", ng + "/s.crt"], check=True, stderr=subprocess.DEVNULL)
    subprocess.run(["chmod", "-R", "a+rX", work], check=True)  # nginx's workers read as nobody
    kit = e2e.Kit(opts, work + "/kit")
    e2e.case_first_run_without_network(kit, opts, work)  # installs 1.0.0.0 while no server answers
    nginx = subprocess.Popen(["nginx", "-p", ng, "-c", ng + "/nginx.conf", "-e", ng + "/log"])
    try:
        while fetch("http://127.0.0.1:8080/")[0] != 404 or fetch("https://127.0.0.1:8443/")[0] != 404:
            if nginx.poll() is not None:  # its log is there only once it has begun
                e2e.check(False, "nginx ended: " + (open(ng + "/log").read() if os.path.exists(ng + "/log") else "no log"))
            time.sleep(0.1)
        for url in ("http://127.0.0.1:8080/table/", "https://127.0.0.1:8443/ccs/table/"):
            for name, kind in (("version.txt", "text/plain"), ("filesize.txt", "text/plain"), ("table.zip", "application/zip")):
                status, headers, body = fetch(url + name)
                e2e.check(status == 200 and body == files[name] and headers["Content-Type"].startswith(kind) and headers["ETag"]
                          and headers["Cache-Control"] == "no-cache, must-revalidate", "%s%s: %s %s" % (url, name, status, headers))
        # Nothing else in the folder, and nothing through a link, not even under a served name.
        os.makedirs(table + "/sub")
        for name in ("sub/version.txt", "table.zip~"):
            shutil.copy(table + "/version.txt", table + "/" + name)
        os.symlink("/etc/passwd", table + "/statement.txt")
        os.symlink("/etc/passwd", table + "/passwd")
        subprocess.run(["chmod", "-R", "a+rX", table], check=True)
        for url in ("http://127.0.0.1:8080/table/", "https://127.0.0.1:8443/ccs/table/"):
            for name in ("sub/version.txt", "table.zip~", "statement.txt", "passwd", "", ".", "sub/"):
                e2e.check(fetch(url + name)[0] == 404, "%s%s: %s" % (url, name, fetch(url + name)[0]))
        os.unlink(os.path.join(kit.folder, "eb_df", "index.html"))  # only the update's unpacking brings it back
        published = type("Published", (), {"publish": lambda self, version, **_: None})()
        e2e.case_update_runs_and_replaces_the_program(kit, opts, work, published, files["table.zip"], zipfile.ZipFile(
            table + "/table.zip").read("loader.exe"), unpacked="eb_df/index.html")
    finally:
        nginx.send_signal(signal.SIGQUIT)  # its workers end with it
        nginx.wait()


if __name__ == "__main__":
    parser = e2e.argparse.ArgumentParser()
    for name in ("program", "standin", "pack", "shots", "site", "publish", "build", "wine", "prefix"):
        parser.add_argument("--" + name, type=os.path.abspath)
    opts = parser.parse_args()
    if opts.wine and e2e.pe_bits(opts.program) == 32 and subprocess.run(["/usr/lib/wine/wine", "--version"]).returncode:
        sys.exit(77)  # this kernel cannot start 32-bit programs
    with tempfile.TemporaryDirectory(prefix="formwell-nginx-") as work:
        try:
            main(opts, work)
        except e2e.Failure as e:
            sys.exit("FAILED: %s" % e)
    print("nginx update: ok")
