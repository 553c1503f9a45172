#!/usr/bin/env python3
"""The update servers and the proxy that the network tests talk to, all on 127.0.0.1.

    servers.py start STATE [--root FOLDER] [--table FOLDER]   make a temporary folder, a self-signed certificate (openssl) and a
                             tinyproxy configuration in it; start the update servers and tinyproxy
                             in the background; wait until they listen; note it all in STATE
    servers.py stop STATE    stop them and remove the folder
    servers.py serve DIR [--root FOLDER] [--table FOLDER]   run the update servers in the foreground

Update servers: HTTP on 8080, HTTPS on 8443 (certificate for "formwell-test", issued by
itself), and on 8090 a port that accepts connections and never says a word. Paths:

    /table/version.txt, /ccs/table/version.txt   the version texts below
    /files/NAME                                  a file of --root (for the benchmark)
    a first folder of late/, hang/, empty/, missing/, endless/ or nul/ before any of these
    answers after 2.5 s, never, with an empty body, with a 404 page, with a body without end,
    or with a NUL inside the version text;
    short/ and reset/ declare the whole length but send only the first 4 bytes, then close the
    connection cleanly or reset it; trickle/ sends a header line every 0.4 s for 2 s before
    the answer; tohttp/ redirects to the HTTP server's /table/version.txt.

With --table FOLDER, /table/NAME and /ccs/table/NAME come from FOLDER/NAME when that file exists
(version.txt, filesize.txt, table.zip: an update server folder as tools/publish.sh writes it),
read afresh on every request so a test can change them between runs. FOLDER/mode, when present,
changes how table.zip is sent: "truncated" announces the whole length and sends half of it,
"slow" sends it at about 16 KiB a second, "stall" sends 16 KiB and then nothing.

tinyproxy listens on 8888 and wants Basic authentication (formwell / s3cret).
"""
import http.server
import json
import os
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time

HTTP_PORT, HTTPS_PORT, SILENT_PORT, PROXY_PORT = 8080, 8443, 8090, 8888
PROXY_USER, PROXY_PASSWORD = "formwell", "s3cret"
VERSIONS = {"/table/version.txt": b"2.0.0.7\n", "/ccs/table/version.txt": b"3.1.0.2"}
MODES = ("late", "hang", "empty", "missing", "endless", "nul", "short", "reset", "trickle", "tohttp")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    root = None
    table = None

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.server.server_address[1], fmt % args))

    def do_GET(self):
        path = self.path
        mode = ""
        first = path.split("/")[1] if path.count("/") > 1 else ""
        if first in MODES:
            mode, path = first, path[len(first) + 1:]
        if mode == "tohttp":
            self.send_response(302)
            self.send_header("Location", "http://127.0.0.1:%d/table/version.txt" % HTTP_PORT)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path.startswith("/files/") and self.root:
            return self.send_file(os.path.join(self.root, os.path.basename(path)))
        if self.table and not mode and self.send_table(path):
            return
        body = VERSIONS.get(path)
        if mode == "missing" or body is None:
            return self.answer(404, b"<html><body><h1>404 Not Found</h1></body></html>\n", "text/html")
        if mode == "late":
            time.sleep(2.5)
        elif mode == "hang":
            while True:
                time.sleep(60)
        elif mode == "empty":
            body = b""
        elif mode == "nul":
            body = body.rstrip(b"\n") + b"\0trailing bytes"
        elif mode in ("short", "reset"):
            return self.cut(body, mode == "reset")
        elif mode == "trickle":
            self.send_response(200)
            for i in range(5):
                self.send_header("X-Waiting", str(i))
                self.flush_headers()
                time.sleep(0.4)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        elif mode == "endless":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            chunk = b"9" * 16384
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                return
        self.answer(200, body, "text/plain")

    def cut(self, body, reset):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[:4])
        self.wfile.flush()
        if reset:
            time.sleep(0.2)
            # Linger 0: close() sends a reset instead of the usual end of stream.
            raw = self.connection
            if isinstance(raw, ssl.SSLSocket):
                raw = socket.socket(fileno=raw.detach())
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            raw.close()
        self.close_connection = True

    def answer(self, code, body, kind):
        self.send_response(code)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_file(self, name):
        try:
            f = open(name, "rb")
        except OSError:
            return self.answer(404, b"no such file\n", "text/plain")
        with f:
            size = os.fstat(f.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.wfile.flush()
            try:
                if isinstance(self.connection, ssl.SSLSocket):
                    shutil.copyfileobj(f, self.wfile, 1 << 20)
                else:
                    self.connection.sendfile(f)
            except OSError:
                pass


    def send_table(self, path):
        """A file of the --table folder under /table/ or /ccs/table/; False when there is none."""
        for base in ("/table/", "/ccs/table/"):
            if path.startswith(base) and "/" not in path[len(base):]:
                name = os.path.join(self.table, path[len(base):])
                break
        else:
            return False
        if not os.path.isfile(name):
            return False
        with open(name, "rb") as f:
            body = f.read()
        behaviour = ""
        if name.endswith("table.zip") and os.path.isfile(os.path.join(self.table, "mode")):
            with open(os.path.join(self.table, "mode")) as f:
                behaviour = f.read().strip()
        if not behaviour:
            self.answer(200, body, "application/octet-stream")
            return True
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            if behaviour == "truncated":
                self.wfile.write(body[:len(body) // 2])
            elif behaviour == "slow":
                for i in range(0, len(body), 1024):
                    self.wfile.write(body[i:i + 1024])
                    self.wfile.flush()
                    time.sleep(1 / 16)
            elif behaviour == "stall":
                self.wfile.write(body[:16384])
                self.wfile.flush()
                time.sleep(600)
        except OSError:
            pass
        return True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


class TlsServer(Server):
    """Completes the TLS handshake in the connection's own thread, so that a client that stalls
    in it holds up nobody else."""

    def __init__(self, address, handler, context):
        self.context = context
        super().__init__(address, handler)

    def process_request_thread(self, request, client_address):
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            self.shutdown_request(request)
            return
        super().process_request_thread(request, client_address)


def silent(port):
    """Accepts connections and keeps them open without reading or writing a byte."""
    listener = socket.create_server(("127.0.0.1", port), backlog=64)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)


def serve(folder, root, table=None):
    Handler.root = root
    Handler.table = table
    plain = Server(("127.0.0.1", HTTP_PORT), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    secure = TlsServer(("127.0.0.1", HTTPS_PORT), Handler, context)
    for target in (plain.serve_forever, secure.serve_forever, lambda: silent(SILENT_PORT)):
        threading.Thread(target=target, daemon=True).start()
    signal.sigwait([signal.SIGTERM, signal.SIGINT])


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def start(state, root=None, table=None):
    stop(state, quiet=True)
    for port in (HTTP_PORT, HTTPS_PORT, SILENT_PORT, PROXY_PORT):
        if listening(port):
            sys.exit("servers.py: port %d on 127.0.0.1 is already taken" % port)
    folder = tempfile.mkdtemp(prefix="formwell-net-")
    os.chmod(folder, 0o755)  # tinyproxy drops to "nobody" and must read its configuration
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=formwell-test", "-keyout", os.path.join(folder, "key.pem"),
                    "-out", os.path.join(folder, "cert.pem")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    conf = os.path.join(folder, "tinyproxy.conf")
    with open(conf, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\nAllow 127.0.0.1\n"
                "BasicAuth %s %s\nLogLevel Info\nDisableViaHeader Yes\n"
                % (PROXY_PORT, PROXY_USER, PROXY_PASSWORD))
        if os.getuid() == 0:
            f.write("User nobody\nGroup nogroup\n")
    pids = []
    with open(os.path.join(folder, "servers.log"), "w") as log:
        serve_args = [sys.executable, os.path.abspath(__file__), "serve", folder]
        if root:
            serve_args += ["--root", os.path.abspath(root)]
        if table:
            serve_args += ["--table", os.path.abspath(table)]
        pids.append(subprocess.Popen(serve_args,
                                     stdout=log, stderr=log, start_new_session=True).pid)
    with open(os.path.join(folder, "tinyproxy.log"), "w") as log:
        pids.append(subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=log, stderr=log,
                                     start_new_session=True).pid)
    with open(state, "w") as f:
        json.dump({"folder": folder, "pids": pids}, f)
    deadline = time.monotonic() + 15
    while not all(listening(p) for p in (HTTP_PORT, HTTPS_PORT, SILENT_PORT, PROXY_PORT)):
        if time.monotonic() > deadline:
            stop(state, quiet=True)
            sys.exit("servers.py: the servers did not come up; see the logs in " + folder)
        time.sleep(0.1)


def stop(state, quiet=False):
    try:
        with open(state) as f:
            info = json.load(f)
    except (OSError, ValueError):
        if not quiet:
            print("servers.py: nothing to stop")
        return
    # Gone means the ports are free again: the next test (or nginx in its place) binds them at once.
    for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, 5)):
        for pid in info["pids"]:
            try:
                os.killpg(pid, sig)
            except OSError:
                pass
        deadline = time.monotonic() + wait
        while any(listening(p) for p in (HTTP_PORT, HTTPS_PORT, SILENT_PORT, PROXY_PORT)) and time.monotonic() < deadline:
            time.sleep(0.05)
        if not any(listening(p) for p in (HTTP_PORT, HTTPS_PORT, SILENT_PORT, PROXY_PORT)):
            break
    shutil.rmtree(info["folder"], ignore_errors=True)
    os.unlink(state)


def options(args):
    """--root FOLDER and --table FOLDER, in any order."""
    found = {"--root": None, "--table": None}
    if len(args) % 2 or any(a not in found for a in args[::2]):
        sys.exit(__doc__)
    for name, value in zip(args[::2], args[1::2]):
        found[name] = value
    return found["--root"], found["--table"]


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "start":
        start(sys.argv[2], *options(sys.argv[3:]))
    elif len(sys.argv) >= 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
    elif len(sys.argv) >= 3 and sys.argv[1] == "serve":
        signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGTERM, signal.SIGINT])
        serve(sys.argv[2], *options(sys.argv[3:]))
    else:
        sys.exit(__doc__)
