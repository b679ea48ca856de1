#!/usr/bin/python3
"""A static file server whose answers can be made to fail, for transfer tests.

Usage: fault_server.py ROOT PORT_FILE LOG_FILE RULES_FILE

Serves ROOT on 127.0.0.1 on a port the system picks, and writes that port to
PORT_FILE once it listens. Every request is appended to LOG_FILE as
"<method> <path> <range header or ->". RULES_FILE (JSON, read at each request,
may be missing) maps a request path (as sent, before decoding) to a fault:
  {"status": 404}                          answer with that status
  {"status": 503, "headers": {"Retry-After": "120"}}   ... and those headers
  {"cut": N}                               announce the whole file, send N bytes, close
  {"stall": N}                             send N bytes, then nothing until the client leaves
  {"slow": N, "interval": S}               send N bytes every S seconds
  {"pad": N}                               the file followed by N more bytes, all announced
  {"endless": N, "interval": S}            chunked, N bytes every S seconds (default 0) for ever
Paths without a rule are served from ROOT with Content-Length and Last-Modified.
"""
import email.utils
import json
import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT, PORT_FILE, LOG_FILE, RULES_FILE = sys.argv[1:5]
log_lock = threading.Lock()


def rules():
    try:
        with open(RULES_FILE, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        with log_lock, open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write("%s %s %s\n" % (self.command, self.path, self.headers.get("Range", "-")))
        rule = rules().get(self.path, {})
        if "status" in rule:
            body = b"fault"
            self.send_response(rule["status"])
            for name, value in rule.get("headers", {}).items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        local = os.path.join(ROOT, urllib.parse.unquote(self.path).lstrip("/"))
        try:
            with open(local, "rb") as f:
                data = f.read()
            modified = os.stat(local).st_mtime
        except OSError:
            self.send_error(404)
            return
        if "endless" in rule:
            self.send_endless(rule["endless"], rule.get("interval", 0))
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(data) + rule.get("pad", 0)))
        self.send_header("Last-Modified", email.utils.formatdate(modified, usegmt=True))
        self.end_headers()
        try:
            if "cut" in rule:
                self.wfile.write(data[: rule["cut"]])
                self.wfile.flush()
                self.close_connection = True
            elif "stall" in rule:
                self.wfile.write(data[: rule["stall"]])
                self.wfile.flush()
                self.connection.settimeout(0.1)
                deadline = time.monotonic() + 120
                while time.monotonic() < deadline:
                    try:
                        if not self.connection.recv(1):
                            break
                    except TimeoutError:
                        continue
            elif "slow" in rule:
                step = rule["slow"]
                for start in range(0, len(data), step):
                    self.wfile.write(data[start : start + step])
                    self.wfile.flush()
                    time.sleep(rule.get("interval", 0.1))
            elif "pad" in rule:
                self.wfile.write(data)
                block = b"\0" * 65536
                left = rule["pad"]
                while left > 0:
                    self.wfile.write(block[: min(left, len(block))])
                    left -= len(block)
            else:
                self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def send_endless(self, size, interval):
        self.protocol_version = "HTTP/1.1"
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        chunk = b"%x\r\n" % size + b"z" * size + b"\r\n"
        try:
            while True:
                self.wfile.write(chunk)
                if interval:
                    self.wfile.flush()
                    time.sleep(interval)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    tmp = PORT_FILE + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(tmp, PORT_FILE)
    server.serve_forever()


if __name__ == "__main__":
    main()
