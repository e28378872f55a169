#!/usr/bin/env python3
"""A local package server for the web client's tests (Python 3 standard library only).

    package_server.py --root DIR --port-file FILE [--tls CERT KEY] [--log FILE] [--no-etag]

Binds 127.0.0.1 on a free port, writes the port to FILE (via FILE.tmp and a rename) once it
listens, and ends cleanly on SIGTERM or SIGINT.

GET/HEAD /<name> serves DIR/<name> with Last-Modified (the file's mtime), a strong ETag (from
size and mtime in ns; none with --no-etag), Content-Length and Accept-Ranges: bytes. Honours
If-None-Match and If-Modified-Since (304), Range: bytes=N- (or N-M) with If-Range (206 when the
validator matches, else 200 with the whole file), 416 for a range past the end, 404 for a
missing file. A name with "..", a link or anything but a regular file under DIR is a 404.

Faults, each in front of a normal path <rest>:
    /redirect/<n>/<rest>   302 to /redirect/<n-1>/<rest>, ..., finally to /<rest>
    /to-http/<port>/<rest> 302 to the absolute URL http://127.0.0.1:<port>/<rest>
    /hang/<rest>           reads the request and never answers (the socket stays open)
    /cut/<bytes>/<rest>    answers as /<rest>, closes the connection after <bytes> of body
    /stall/<bytes>/<rest>  answers as /<rest>, sends <bytes> of body, then nothing more while
                           the connection stays open
    /oversize/<rest>       answers as /<rest>, but its Content-Length claims 1 GiB + 1 (the
                           body sent is the file's; the connection closes after it)
    /skew/<bytes>/<rest>   answers as /<rest>, but a 206 starts <bytes> after the byte asked
                           for (its Content-Range says so): no continuation of the client's bytes

--log FILE: one JSON object per line and request, written when the request ends, with the keys
method, path, status (null when no answer was sent), If-Modified-Since, If-None-Match, Range,
If-Range (the request's headers, null when absent), bytes_in (request line and headers as
received) and bytes_out (status line, headers and body as sent).
"""

import argparse
import email.utils
import http.server
import json
import os
import select
import signal
import socket
import ssl
import stat
import sys
import threading
import urllib.parse

LOGGED_HEADERS = ("If-Modified-Since", "If-None-Match", "Range", "If-Range")
BLOCK = 64 * 1024


class Counting:
    """A file-like wrapper that counts the bytes passing through it."""

    def __init__(self, inner):
        self.inner = inner
        self.count = 0

    def readline(self, *args):
        line = self.inner.readline(*args)
        self.count += len(line)
        return line

    def read(self, *args):
        data = self.inner.read(*args)
        self.count += len(data)
        return data

    def write(self, data):
        written = self.inner.write(data)
        self.count += len(data)
        return written

    def flush(self):
        return self.inner.flush()

    def close(self):
        return self.inner.close()

    @property
    def closed(self):
        return self.inner.closed


class Stop(Exception):
    """The connection ends here (a fault path or a client that went away)."""


def open_served(root, name):
    """DIR/<name> as (fd, stat), or None: no '..', no link anywhere on the way, regular only."""
    parts = name.split("/")
    if not name or any(p in ("", ".", "..") or "\0" in p for p in parts):
        return None
    flags = os.O_RDONLY | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_CLOEXEC", 0)
    dir_flags = flags | getattr(os, "O_DIRECTORY", 0)
    fd = os.open(root, dir_flags)
    try:
        for part in parts[:-1]:
            nxt = os.open(part, dir_flags, dir_fd=fd)
            os.close(fd)
            fd = nxt
        try:
            file_fd = os.open(parts[-1], flags | getattr(os, "O_NONBLOCK", 0), dir_fd=fd)
        except OSError:
            return None
    except OSError:
        return None
    finally:
        os.close(fd)
    st = os.fstat(file_fd)
    if not stat.S_ISREG(st.st_mode):
        os.close(file_fd)
        return None
    return file_fd, st


def parse_http_date(value):
    try:
        parsed = email.utils.parsedate_to_datetime(value)
    except (TypeError, ValueError, IndexError):
        return None
    if parsed is None or parsed.tzinfo is None:
        return None
    return int(parsed.timestamp())


def etag_list_matches(header, etag):
    if etag is None:
        return False
    if header.strip() == "*":
        return True
    for tag in header.split(","):
        tag = tag.strip()
        if tag.startswith("W/"):  # weak comparison (RFC 9110 8.8.3.2)
            tag = tag[2:]
        if tag == etag:
            return True
    return False


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KalvTestServer/1"
    timeout = 300  # an idle keep-alive connection does not hold a thread forever

    def setup(self):
        super().setup()
        self.rfile = Counting(self.rfile)
        self.wfile = Counting(self.wfile)

    def handle(self):
        try:
            super().handle()
        except (Stop, OSError, ssl.SSLError):
            pass  # a client that refused our certificate or went away

    def handle_one_request(self):
        self.rfile.count = 0
        self.wfile.count = 0
        self.status = None
        self.logged = False
        try:
            super().handle_one_request()
        except Stop:
            self.close_connection = True
        finally:
            if getattr(self, "command", None) and not self.logged and self.rfile.count:
                self.write_log()

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # quiet: the JSON log is the record
        pass

    def send_response(self, code, message=None):
        self.status = code
        super().send_response(code, message)

    def write_log(self):
        self.logged = True
        if self.server.log_file is None:
            return
        entry = {"method": self.command, "path": self.path, "status": self.status}
        for name in LOGGED_HEADERS:
            entry[name] = self.headers.get(name) if self.headers else None
        entry["bytes_in"] = self.rfile.count
        entry["bytes_out"] = self.wfile.count
        with self.server.log_lock:
            self.server.log_file.write(json.dumps(entry) + "\n")
            self.server.log_file.flush()

    def do_GET(self):
        self.serve(send_body=True)
        self.write_log()

    def do_HEAD(self):
        self.serve(send_body=False)
        self.write_log()

    def hold_open(self):
        """Keep the connection open until the client leaves or the server stops."""
        self.wfile.flush()
        sock = self.connection
        while not self.server.stopping.is_set():
            readable, _, _ = select.select([sock], [], [], 0.25)
            if readable:
                try:
                    if not sock.recv(4096):
                        break
                except (OSError, ssl.SSLError):
                    break
        raise Stop()

    def answer(self, code, headers=(), body=b"", send_body=True):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if code != 304:  # a 304's Content-Length would have to be the 200's (RFC 9110 8.6)
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body and body:
            self.wfile.write(body)

    def serve(self, send_body):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        fault = None
        while True:
            parts = path.lstrip("/").split("/", 2)
            if parts[0] == "redirect" and len(parts) == 3 and parts[1].isdigit():
                left = int(parts[1]) - 1
                target = "/redirect/%d/%s" % (left, parts[2]) if left > 0 else "/" + parts[2]
                self.answer(302, [("Location", urllib.parse.quote(target))], send_body=send_body)
                return
            if parts[0] == "to-http" and len(parts) == 3 and parts[1].isdigit():
                target = "http://127.0.0.1:%s/%s" % (parts[1], urllib.parse.quote(parts[2]))
                self.answer(302, [("Location", target)], send_body=send_body)
                return
            if parts[0] == "oversize" and len(parts) == 2:
                fault = ("oversize", 0)
                path = "/" + parts[1]
                continue
            if parts[0] == "hang":
                self.hold_open()
            if parts[0] in ("cut", "stall", "skew") and len(parts) == 3 and parts[1].isdigit():
                fault = (parts[0], int(parts[1]))
                path = "/" + parts[2]
                continue
            break
        self.serve_file(path.lstrip("/"), send_body, fault)

    def serve_file(self, name, send_body, fault):
        opened = open_served(self.server.root, name)
        if opened is None:
            self.answer(404, [("Content-Type", "text/plain")], b"not found\n", send_body)
            return
        fd, st = opened
        with os.fdopen(fd, "rb") as f:
            self.send_file(f, st, send_body, fault)

    def send_file(self, f, st, send_body, fault):
        size = st.st_size
        last_modified = email.utils.formatdate(st.st_mtime, usegmt=True)
        etag = None if self.server.no_etag else '"%x-%x"' % (size, st.st_mtime_ns)
        validators = [("Last-Modified", last_modified), ("Accept-Ranges", "bytes")]
        if etag:
            validators.append(("ETag", etag))

        # RFC 9110 13.2.2: If-None-Match first; If-Modified-Since only without it.
        inm = self.headers.get("If-None-Match")
        ims = self.headers.get("If-Modified-Since")
        if inm is not None:
            if etag_list_matches(inm, etag):
                self.answer(304, validators, send_body=False)
                return
        elif ims is not None:
            since = parse_http_date(ims)
            if since is not None and int(st.st_mtime) <= since:
                self.answer(304, validators, send_body=False)
                return

        first, last = 0, size - 1
        status = 200
        wanted = self.headers.get("Range")
        if wanted is not None and self.range_applies(etag, last_modified):
            spec = wanted.strip()
            if spec.startswith("bytes=") and "," not in spec:
                lo, _, hi = spec[len("bytes="):].partition("-")
                if lo.strip().isdigit() and (hi.strip() == "" or hi.strip().isdigit()):
                    lo = int(lo)
                    if lo >= size:
                        self.answer(416, validators + [("Content-Range", "bytes */%d" % size)],
                                    send_body=send_body)
                        return
                    first = lo
                    last = min(int(hi), size - 1) if hi.strip() else size - 1
                    if fault and fault[0] == "skew":
                        first = min(first + fault[1], last)
                    if last >= first:
                        status = 206

        length = last - first + 1 if size else 0
        self.send_response(status)
        for name, value in validators:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length if not fault or fault[0] != "oversize" else (1 << 30) + 1))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        if fault and fault[0] in ("cut", "oversize"):
            self.send_header("Connection", "close")
        self.end_headers()
        if not send_body:
            return
        limit = length if fault is None or fault[0] in ("skew", "oversize") else min(length, fault[1])
        f.seek(first)
        sent = 0
        while sent < limit:
            block = f.read(min(BLOCK, limit - sent))
            if not block:
                break
            self.wfile.write(block)
            sent += len(block)
        if fault is None or fault[0] == "skew":
            return
        if fault[0] in ("cut", "oversize"):
            self.wfile.flush()
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            raise Stop()
        self.hold_open()

    def range_applies(self, etag, last_modified):
        if_range = self.headers.get("If-Range")
        if if_range is None:
            return True
        if_range = if_range.strip()
        if if_range.startswith('"') or if_range.startswith("W/"):
            return etag is not None and if_range == etag  # strong comparison only
        return if_range == last_modified


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, args):
        super().__init__(("127.0.0.1", 0), Handler)
        self.root = os.path.abspath(args.root)
        self.no_etag = args.no_etag
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()
        self.log_file = open(args.log, "a", encoding="utf-8") if args.log else None
        self.tls = None
        if args.tls:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(args.tls[0], args.tls[1])

    def finish_request(self, request, client_address):
        # The TLS handshake runs on the connection's own thread, so that a client that
        # never completes it cannot hold up accepting others.
        if self.tls is not None:
            request.settimeout(30)
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (OSError, ssl.SSLError):
                return
            request.settimeout(None)
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--log")
    parser.add_argument("--no-etag", action="store_true")
    args = parser.parse_args()

    server = Server(args)

    def stop(signum, frame):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    tmp = args.port_file + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(tmp, args.port_file)

    try:
        server.serve_forever(poll_interval=0.25)
    finally:
        server.stopping.set()
        server.server_close()
        if server.log_file:
            server.log_file.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
