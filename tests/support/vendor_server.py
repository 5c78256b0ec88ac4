#!/usr/bin/env python3
"""A small HTTPS server on loopback that stands in for the vendor's download server.

    vendor_server.py --root DIR --cert CERT --key KEY [--port 0] [--silent]

Prints "PORT <n>" on its first line of output once it listens, then serves files from
DIR (read from disk at every request, so tests may change them while it runs).
Paths beginning with one of these prefixes behave specially:

    /status/<code>/<path>        answers with that status code and a short body
    /nolength/<path>             the file without Content-Length (connection closes at the end)
    /stall/<n>/<path>            headers with the full Content-Length, the first n bytes,
                                 then nothing more until the client goes away (or 60 s)
    /hang/<anything>             accepts the connection and never answers (60 s at most)
    /slow/<bytesPerSecond>/<path> the file, sent at that rate
    /redirect/<n>/<path>         n redirects (302) in a row, the last one to /<path>
    /__requests                  a JSON array of every path requested so far, in order
                                 (requests of /__requests itself are not listed)

A missing file answers 404. With --silent the server accepts connections and never
answers at all, not even the TLS handshake. The server ends when its standard input
closes (so it goes away with the test process that started it).
"""
import argparse
import json
import os
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

requests_seen = []
requests_lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VendorTest/1"
    disable_nagle_algorithm = True   # headers and body go out in separate writes

    def log_message(self, fmt, *args):
        pass

    def read_file(self, path):
        root = os.path.realpath(self.server.root)
        full = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def send_body(self, status, body, content_type="application/octet-stream", length=True):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/__requests":
            with requests_lock:
                body = json.dumps(requests_seen).encode()
            return self.send_body(200, body, "application/json")
        with requests_lock:
            requests_seen.append(self.path)

        parts = path.split("/")
        try:
            if path.startswith("/status/"):
                return self.send_body(int(parts[2]), b"status %s\n" % parts[2].encode(), "text/plain")
            if path.startswith("/redirect/"):
                n = int(parts[2])
                rest = "/".join(parts[3:])
                target = "/redirect/%d/%s" % (n - 1, rest) if n > 1 else "/" + rest
                self.send_response(302)
                self.send_header("Location", target)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if path.startswith("/hang/"):
                self.close_connection = True
                self.wait_for_client(60)
                return
            if path.startswith("/nolength/"):
                data = self.read_file("/".join(parts[2:]))
                if data is None:
                    return self.send_body(404, b"not found\n", "text/plain")
                return self.send_body(200, data, length=False)
            if path.startswith("/stall/"):
                n = int(parts[2])
                data = self.read_file("/".join(parts[3:]))
                if data is None:
                    return self.send_body(404, b"not found\n", "text/plain")
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data[:n])
                self.wfile.flush()
                self.close_connection = True
                self.wait_for_client(60)
                return
            if path.startswith("/slow/"):
                rate = max(1, int(parts[2]))
                data = self.read_file("/".join(parts[3:]))
                if data is None:
                    return self.send_body(404, b"not found\n", "text/plain")
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                chunk = max(1, rate // 20)
                for i in range(0, len(data), chunk):
                    self.wfile.write(data[i:i + chunk])
                    self.wfile.flush()
                    time.sleep(chunk / rate)
                return
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, ValueError, IndexError):
            self.close_connection = True
            return

        data = self.read_file(path)
        if data is None:
            return self.send_body(404, b"not found\n", "text/plain")
        ctype = "application/json" if path.endswith(".json") else "image/svg+xml" if path.endswith(".svg") else "application/octet-stream"
        self.send_body(200, data, ctype)

    def wait_for_client(self, seconds):
        """Blocks until the client closes its side or the time is up."""
        end = time.time() + seconds
        sock = self.connection
        sock.settimeout(0.2)
        while time.time() < end:
            try:
                if sock.recv(1) == b"":
                    return
            except (socket.timeout, ssl.SSLWantReadError):
                continue
            except (OSError, ssl.SSLError):
                return


class Server(ThreadingHTTPServer):
    """Accepts plain connections and does the TLS handshake on each connection's own
    thread, so a client that connects and never completes its handshake cannot hold
    up the others."""
    daemon_threads = True
    allow_reuse_address = True
    context = None

    def finish_request(self, request, client_address):
        request.settimeout(15)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            return
        try:
            tls.settimeout(70)   # longer than /stall/ and /hang/ wait, so those end on their own
            self.RequestHandlerClass(tls, client_address, self)
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--silent", action="store_true", help="accept connections but never answer (no TLS handshake)")
    args = parser.parse_args()

    if args.silent:
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", args.port))
        listener.listen(64)
        print("PORT %d" % listener.getsockname()[1], flush=True)
        held = []

        def accept_loop():
            while True:
                try:
                    conn, _ = listener.accept()
                    held.append(conn)
                except OSError:
                    return
        threading.Thread(target=accept_loop, daemon=True).start()
    else:
        httpd = Server(("127.0.0.1", args.port), Handler)
        httpd.root = args.root
        httpd.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        httpd.context.load_cert_chain(args.cert, args.key)
        print("PORT %d" % httpd.server_address[1], flush=True)
        threading.Thread(target=httpd.serve_forever, daemon=True).start()

    # Ends with its parent: standard input closes when the test process goes away.
    try:
        sys.stdin.read()
    except Exception:
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
