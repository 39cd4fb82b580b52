#!/usr/bin/python3
"""A local HTTPS server for the network tests (self-signed certificate, 127.0.0.1).

usage: https_server.py start PORT DIR   generate the certificate in DIR, serve in the background
       https_server.py stop DIR          end the server started with DIR

Routes:
  GET  /api/ruziruded.php           the welcome-number answer: status and body set by /control/answer
  GET  /control/answer?status=N&body=B   set that answer (B percent-encoded)
  GET  /control/log                 the requests seen since /control/reset, one per line:
                                    METHOD RAW-TARGET | USER-AGENT | BODY (hex)
  GET  /control/reset               forget the log and restore the answer "0"
  GET  /redirect                    302 to /api/ruziruded.php
  POST /status/N                    answers status N
  anything else                     200 with the raw request target as body
The request target is taken from the request line as it arrived (spaces included).
"""
import http.client
import http.server
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

state = {"status": 200, "body": b"0", "log": []}
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def parse_request(self):
        line = str(self.raw_requestline, "iso-8859-1").rstrip("\r\n")
        self.requestline = line
        try:
            self.command, rest = line.split(" ", 1)
            self.path, self.request_version = rest.rsplit(" ", 1)
        except ValueError:
            self.send_error(400)
            return False
        self.headers = http.client.parse_headers(self.rfile, _class=self.MessageClass)
        self.close_connection = True
        return True

    def answer(self, status, body, extra=()):
        self.send_response(status)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def record(self, body=b""):
        with lock:
            state["log"].append("%s %s | %s | %s" % (self.command, self.path,
                                                     self.headers.get("User-Agent", ""), body.hex()))

    def do_GET(self):
        route = urllib.parse.urlsplit(self.path)
        if route.path == "/control/answer":
            query = urllib.parse.parse_qs(route.query, keep_blank_values=True)
            with lock:
                state["status"] = int(query.get("status", ["200"])[0])
                state["body"] = urllib.parse.unquote_to_bytes(query.get("body", [""])[0])
            return self.answer(200, b"ok")
        if route.path == "/control/log":
            with lock:
                text = "".join(line + "\n" for line in state["log"])
            return self.answer(200, text.encode("utf-8", "surrogateescape"))
        if route.path == "/control/reset":
            with lock:
                state.update(status=200, body=b"0", log=[])
            return self.answer(200, b"ok")
        self.record()
        if route.path == "/api/ruziruded.php":
            with lock:
                status, body = state["status"], state["body"]
            return self.answer(status, body)
        if route.path == "/redirect":
            return self.answer(302, b"", [("Location", "/api/ruziruded.php")])
        return self.answer(200, self.path.encode("iso-8859-1"))

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length > 0 else b""
        self.record(body)
        parts = self.path.split("/")
        status = int(parts[2]) if len(parts) > 2 and parts[1] == "status" and parts[2].isdigit() else 200
        self.answer(status, b"posted")


def serve(port, folder):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


def start(port, folder):
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    if not os.path.exists(os.path.join(folder, "cert.pem")):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                        "-subj", "/CN=127.0.0.1", "-keyout", os.path.join(folder, "key.pem"),
                        "-out", os.path.join(folder, "cert.pem")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    log = open(os.path.join(folder, "server.log"), "wb")
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", str(port), folder],
                             stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(folder, "server.pid"), "w") as f:
        f.write(str(child.pid))
    for _ in range(100):
        if child.poll() is not None:
            sys.exit("the server ended at once; see %s" % os.path.join(folder, "server.log"))
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    sys.exit("the server does not accept connections on port %d" % port)


def stop(folder):
    pid_file = os.path.join(folder, "server.pid")
    if not os.path.exists(pid_file):
        return
    with open(pid_file) as f:
        pid = int(f.read().strip() or "0")
    os.remove(pid_file)
    if pid > 0:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


if __name__ == "__main__":
    if sys.argv[1] == "start":
        start(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "serve":
        serve(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "stop":
        stop(sys.argv[2])
