#!/usr/bin/python3
"""A real HTTP/1.1 server on 127.0.0.1 for Orvex's tests and benchmarks (standard library only).

Virtual hosts: a request for host H (the Host header without its port) is served from
ROOT/H/<path>, falling back to ROOT/default/<path>; "/" means index.html. Special paths on any
host:

  /_redirect?to=URL[&code=301|302|307]   redirect (302 unless code says otherwise)
  /_status/NNN                           answers status NNN with a short text body
  /_chain/N                              redirects to /_chain/N-1; /_chain/0 answers "end of chain"
  /_loop                                 redirects to itself forever
  /_big?bytes=N                          N bytes of text, lines of 80 characters and LF
  /_endless                              sends lines forever (no length, connection closes)
  /_slow?ms=N&path=P                     waits N ms, then serves P
  /_headers?H=V&...&body=P               serves P with the extra response headers H: V
  /_crlf?path=P                          serves P with every LF turned into CR LF
  /tbr?q=...                             PageRank answer: ROOT/H/ranks.json maps q to the text
  /_headers?Content-Type=V&body=P        (as above) V replaces the Content-Type of P's answer

Answers that do not arrive whole, written by hand on the socket, which is then closed:

  /_cut/headers                          "HTTP/1.1 200 OK" and half a header line, no end of headers
  /_cut/body?path=P                      P's Content-Length, then only the first half of P
  /_cut/chunked?path=P                   P chunked: its first half as one chunk, no last chunk

A file "P.fault" beside the path P (P itself need not exist) turns P's answer into a fault: a
status number (the answer has that status), "close" (the connection closes without an answer),
"reset" (the connection is reset, RST instead of FIN, without an answer), or "headers", "body"
or "chunked" (the cuts above, with P's content where there is one). A fault followed by " once"
("500 once") answers only the first request for P on that host; later ones get P's ordinary
answer.

Every request is appended to the --log file as one JSON line (method, host, path, time, conn,
addr: the server address that took the connection). A faulty answer's line also holds "fault"
and, for a hand-written one, "sent": the exact bytes that go out; it is written when the answer
is ready, just before it is sent.
Options: --root DIR --port N --https-port N --cert PEM --key PEM --silent-port N
--alias-address ADDR --ready-file PATH --delay-ms N --log PATH. Port 0 picks a free port;
--alias-address serves HTTP on a second loopback address as well (127.0.0.2, say), on the same
port when it is free there. The ready file receives {"http": p, "https": p, "silent": p,
"alias": p} (null for a server not started) once everything listens.
"""

import argparse
import http.server
import itertools
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

CONTENT_TYPES = {".html": "text/html", ".htm": "text/html", ".txt": "text/plain"}

_log_lock = threading.Lock()
_once_lock = threading.Lock()
_once_used = set()  # (host, path) of faults meant once that were answered
_conn_ids = itertools.count(1)
ARGS = None


def write_log(entry):
    if not ARGS.log:
        return
    line = json.dumps(entry, separators=(",", ":")) + "\n"
    with _log_lock:
        with open(ARGS.log, "a", encoding="utf-8") as f:
            f.write(line)
            f.flush()


def host_name(header):
    host = (header or "").strip().lower()
    if host.startswith("["):
        end = host.find("]")
        return host[: end + 1] if end >= 0 else host
    return host.split(":", 1)[0]


def safe_join(base, rel):
    """ROOT/base/rel when it stays inside ROOT/base, else None."""
    top = os.path.realpath(os.path.join(ARGS.root, base))
    full = os.path.realpath(os.path.join(top, rel.lstrip("/")))
    if full != top and not full.startswith(top + os.sep):
        return None
    return full


def find_file(host, path):
    rel = urllib.parse.unquote(path)
    if rel.endswith("/") or rel == "":
        rel += "index.html"
    for base in (host, "default"):
        if not base or base in (".", ".."):
            continue
        full = safe_join(base, rel)
        if full and os.path.isfile(full):
            return full
    return None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvexFake/1.0"

    def version_string(self):
        return self.server_version
    timeout = 60
    disable_nagle_algorithm = True  # headers and body are separate writes: no 40 ms stalls

    def setup(self):
        super().setup()
        self.conn_id = next(_conn_ids)

    def log_message(self, format, *args):  # noqa: A002 - quiet
        pass

    def do_GET(self):
        self.handle_any(head=False)

    def do_HEAD(self):
        self.handle_any(head=True)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.handle_any(head=False)

    # --- answers -------------------------------------------------------------------------

    def handle_any(self, head):
        self.head = head
        host = host_name(self.headers.get("Host"))
        entry = {"method": self.command, "host": host, "path": self.path, "time": time.time(),
                 "conn": self.conn_id, "addr": self.connection.getsockname()[0]}
        if isinstance(self.connection, ssl.SSLSocket):
            entry["resumed"] = self.connection.session_reused
        target = self.path
        if "://" in target.split("?", 1)[0]:  # absolute form (a proxy passed it on as it was)
            parts = urllib.parse.urlsplit(target)
            target = parts.path or "/"
            if parts.query:
                target += "?" + parts.query
        fault = self.find_fault(host, target)
        if fault is None:
            write_log(entry)
        if ARGS.delay_ms > 0:
            time.sleep(ARGS.delay_ms / 1000.0)
        try:
            if fault is not None:
                self.send_fault(host, target, fault, entry)
            else:
                self.dispatch(host, target, {})
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    # --- faults --------------------------------------------------------------------------

    def find_fault(self, host, target):
        """The fault to answer `target` with: "headers", "body", "chunked", "close", "reset", a
        status number as text, or None for an ordinary answer."""
        parts = urllib.parse.urlsplit(target)
        path = parts.path or "/"
        if path.startswith("/_cut/"):
            return path[len("/_cut/"):]
        sidecar = find_file(host, path + ".fault") if not path.endswith("/") else None
        if sidecar is None:
            return None
        with open(sidecar, "r", encoding="utf-8") as f:
            fault = f.read().strip()
        if fault.endswith(" once"):
            with _once_lock:
                if (host, path) in _once_used:
                    return None
                _once_used.add((host, path))
            fault = fault[: -len(" once")].strip()
        return fault

    def send_fault(self, host, target, fault, entry):
        parts = urllib.parse.urlsplit(target)
        query = urllib.parse.parse_qs(parts.query, keep_blank_values=True)
        if parts.path.startswith("/_cut/"):
            source = (query.get("path") or ["/"])[0]
        else:
            source = parts.path
        full = find_file(host, source)
        body = b"<html><body>a page cut off</body></html>\n"
        if full is not None:
            with open(full, "rb") as f:
                body = f.read()
        entry = dict(entry, fault=fault)
        if fault.isdigit():
            write_log(entry)
            self.send_body(int(fault), ("Status %s\n" % fault).encode(), "text/plain", {})
            return
        if fault == "reset":
            write_log(dict(entry, sent=""))
            self.close_connection = True
            # A linger time of zero makes the close send RST; the reader's file holds the socket
            # open until it is closed too.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.rfile.close()
            self.connection.close()
            return
        if fault == "headers":
            raw = b"HTTP/1.1 200 OK\r\nContent-Ty"
        elif fault == "body":
            raw = (b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % len(body)
                   + body[: len(body) // 2])
        elif fault == "chunked":
            half = body[: len(body) // 2]
            raw = (b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
                   + b"%x\r\n" % len(half) + half + b"\r\n")
        else:  # "close" and anything unknown: no answer at all
            raw = b""
        # Logged before the bytes go out, so a client that sees the connection close finds its line.
        entry["sent"] = raw.decode("latin-1")
        write_log(entry)
        self.close_connection = True
        if raw:
            self.wfile.write(raw)
            self.wfile.flush()
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def dispatch(self, host, target, extra_headers, crlf=False):
        parts = urllib.parse.urlsplit(target)
        path = parts.path or "/"
        query = urllib.parse.parse_qs(parts.query, keep_blank_values=True)

        def arg(name, default=None):
            values = query.get(name)
            return values[0] if values else default

        if path == "/_redirect":
            code = int(arg("code", "302"))
            self.send_body(code, b"Redirected\n", "text/plain", {"Location": arg("to", "/")})
        elif path.startswith("/_status/"):
            try:
                code = int(path[len("/_status/"):])
            except ValueError:
                code = 400
            self.send_body(code, ("Status %d\n" % code).encode(), "text/plain", extra_headers)
        elif path.startswith("/_chain/"):
            n = int(path[len("/_chain/"):] or "0")
            if n <= 0:
                self.send_body(200, b"end of chain\n", "text/plain", extra_headers)
            else:
                self.send_body(302, b"Redirected\n", "text/plain", {"Location": "/_chain/%d" % (n - 1)})
        elif path == "/_loop":
            self.send_body(302, b"Redirected\n", "text/plain", {"Location": "/_loop"})
        elif path == "/_big":
            self.send_big(int(arg("bytes", "0")))
        elif path == "/_endless":
            self.send_endless()
        elif path == "/_slow":
            time.sleep(int(arg("ms", "0")) / 1000.0)
            self.dispatch(host, arg("path", "/"), extra_headers, crlf)
        elif path == "/_headers":
            headers = dict(extra_headers)
            for name, values in query.items():
                if name != "body":
                    headers[name] = values[0]
            self.dispatch(host, arg("body", "/"), headers, crlf)
        elif path == "/_crlf":
            self.dispatch(host, arg("path", "/"), extra_headers, True)
        elif path == "/tbr":
            self.send_rank(host, arg("q", ""), extra_headers)
        else:
            self.send_file(host, path, extra_headers, crlf)

    def send_body(self, code, body, content_type, extra_headers):
        self.send_response(code)
        for name, value in extra_headers.items():
            if name.lower() == "content-type":
                content_type = value  # one Content-Type, the one asked for
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra_headers.items():
            if name.lower() != "content-type":
                self.send_header(name, value)
        self.end_headers()
        if not self.head:
            self.wfile.write(body)
        self.wfile.flush()

    def send_file(self, host, path, extra_headers, crlf):
        full = find_file(host, path)
        if full is None:
            self.send_body(404, b"Not found\n", "text/plain", extra_headers)
            return
        with open(full, "rb") as f:
            body = f.read()
        if crlf:
            body = body.replace(b"\n", b"\r\n")
        ext = os.path.splitext(full)[1].lower()
        self.send_body(200, body, CONTENT_TYPES.get(ext, "application/octet-stream"), extra_headers)

    def send_rank(self, host, q, extra_headers):
        for base in (host, "default"):
            full = safe_join(base, "ranks.json") if base else None
            if full and os.path.isfile(full):
                with open(full, "r", encoding="utf-8") as f:
                    ranks = json.load(f)
                if q in ranks:
                    self.send_body(200, ranks[q].encode("utf-8"), "text/plain", extra_headers)
                    return
                break
        self.send_body(404, b"Not found\n", "text/plain", extra_headers)

    def send_big(self, total):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(total))
        self.end_headers()
        if self.head:
            return
        line = b"x" * 80 + b"\n"
        block = line * 800
        left = total
        while left > 0:
            chunk = block[:left]
            self.wfile.write(chunk)
            left -= len(chunk)
        self.wfile.flush()

    def send_endless(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.head:
            return
        block = b"".join(b"line %08d " % i + b"y" * 66 + b"\n" for i in range(100))
        while True:
            self.wfile.write(block)
            self.wfile.flush()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128
    tls_context = None

    def finish_request(self, request, client_address):
        # The TLS handshake happens in the connection's own thread, so a client that never
        # completes it cannot hold up the others.
        if self.tls_context is not None:
            try:
                request.settimeout(30)
                request = self.tls_context.wrap_socket(request, server_side=True)
                request.settimeout(None)
            except (ssl.SSLError, OSError):
                try:
                    request.close()
                except OSError:
                    pass
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if isinstance(exc, (BrokenPipeError, ConnectionResetError, ssl.SSLError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def silent_server(port):
    """Accepts connections and never answers; keeps them open until the process ends."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", port))
    sock.listen(64)
    held = []

    def loop():
        while True:
            try:
                conn, _ = sock.accept()
                held.append(conn)
            except OSError:
                return

    threading.Thread(target=loop, daemon=True).start()
    return sock.getsockname()[1]


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--https-port", type=int, default=None)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--silent-port", type=int, default=None)
    parser.add_argument("--alias-address")
    parser.add_argument("--ready-file")
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--log")
    ARGS = parser.parse_args()
    ARGS.root = os.path.abspath(ARGS.root)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))

    servers = []
    http_server = Server(("127.0.0.1", ARGS.port), Handler)
    servers.append(http_server)
    https_port = None
    if ARGS.cert and ARGS.key:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(ARGS.cert, ARGS.key)
        https_server = Server(("127.0.0.1", ARGS.https_port or 0), Handler)
        https_server.tls_context = context
        servers.append(https_server)
        https_port = https_server.server_address[1]
    silent_port = silent_server(ARGS.silent_port) if ARGS.silent_port is not None else None
    alias_port = None
    if ARGS.alias_address:
        try:
            alias_server = Server((ARGS.alias_address, http_server.server_address[1]), Handler)
        except OSError:  # the port is taken on that address: any other will do
            alias_server = Server((ARGS.alias_address, 0), Handler)
        servers.append(alias_server)
        alias_port = alias_server.server_address[1]

    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                         daemon=True).start()

    if ARGS.ready_file:
        ready = {"http": http_server.server_address[1], "https": https_port, "silent": silent_port,
                 "alias": alias_port}
        temp = ARGS.ready_file + ".tmp"
        with open(temp, "w", encoding="utf-8") as f:
            json.dump(ready, f)
        os.replace(temp, ARGS.ready_file)

    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
