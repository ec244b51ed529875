#!/usr/bin/env python3
"""A small scriptable HTTP/HTTPS server for the tests.

Usage: scripted_server.py ROUTES_JSON REQUEST_LOG [--tls CERT KEY]
Prints the port it listens on (127.0.0.1, chosen by the system) as its first line. ROUTES_JSON
is read again for every request, so a test can change the answers while the server runs. It maps
a path (query left out) to an answer:
  status, headers, body                  the reply (defaults 200, none, empty)
  interim                                the statuses of interim responses sent before it
  body_file                              the body from a file; "{pk}" is replaced by the
                                         request's valdori-pk header
  body_size                              a body of this many bytes
  hang                                   never answer
  close_mid_body                         announce the body, send half of it and close
  basic                                  "user:password": 401 unless Basic credentials match
  hmac_secret                            401 unless the request carries a valid HMAC-Auth
                                         signature under this secret and a valdori-pk header
Other paths get 404. Every request is appended to REQUEST_LOG as one JSON line: method, path,
headers, body and whether its checks passed.
"""
import base64
import hashlib
import hmac
import http.server
import json
import ssl
import sys
import threading
import time


def valid_signature(secret, value, body):
    if not value or not value.startswith("HMAC-Auth "):
        return False
    stamp, _, mac = value[len("HMAC-Auth "):].partition(":")
    try:
        key = base64.urlsafe_b64decode(secret + "=" * (-len(secret) % 4))
        if abs(time.time() - int(stamp)) > 300:
            return False
    except ValueError:
        return False
    expected = hmac.new(key, stamp.encode() + hashlib.sha256(body).digest(), hashlib.sha256).hexdigest()
    return hmac.compare_digest(expected, mac)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    lock = threading.Lock()

    def log_message(self, *args):
        pass

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        with open(self.server.routes_file) as f:
            routes = json.load(f)
        route = routes.get(self.path.split("?")[0])
        accepted = True
        if route is None:
            route = {"status": 404, "body": "no such path"}
        elif "basic" in route:
            expected = "Basic " + base64.b64encode(route["basic"].encode()).decode()
            accepted = self.headers.get("Authorization") == expected
        elif "hmac_secret" in route:
            accepted = bool(self.headers.get("valdori-pk")) and valid_signature(
                route["hmac_secret"], self.headers.get("Authorization"), body)
        with Handler.lock, open(self.server.request_log, "a") as log:
            log.write(json.dumps({"method": self.command, "path": self.path, "headers": list(self.headers.items()),
                                  "body": body.decode("utf-8", "replace"), "accepted": accepted}) + "\n")
        if not accepted:
            route = {"status": 401, "body": "unauthorized"}
        if route.get("hang"):
            time.sleep(3600)
            return
        if "body_file" in route:
            name = route["body_file"].replace("{pk}", self.headers.get("valdori-pk", ""))
            try:
                with open(name, "rb") as f:
                    payload = f.read()
            except OSError:
                route, payload = {"status": 404}, b""
        elif "body_size" in route:
            payload = b"x" * route["body_size"]
        else:
            payload = route.get("body", "").encode("utf-8", "surrogateescape")
        try:
            self.reply(route, payload)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True  # a client may give up before the reply, on interim responses say

    def reply(self, route, payload):
        for status in route.get("interim", []):
            self.send_response_only(status)
            self.end_headers()
        self.send_response(route.get("status", 200))
        for name, value in route.get("headers", {}).items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(payload)))
        self.send_header("Connection", "close")
        self.end_headers()
        if route.get("close_mid_body"):
            self.wfile.write(payload[: len(payload) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        self.wfile.write(payload)

    do_GET = answer
    do_PUT = answer


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.routes_file, server.request_log = sys.argv[1], sys.argv[2]
    if len(sys.argv) == 6 and sys.argv[3] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[4], sys.argv[5])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
