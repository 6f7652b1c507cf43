"""What the HTTP fakes share: a quiet HTTP/1.1 request handler, and a threading server on an ephemeral
port of 127.0.0.1 that tells the test its port with "PORT <n>" on the first line of stdout."""
import argparse
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class QuietHandler(BaseHTTPRequestHandler):
    """Keep-alive connections, no access log on stderr."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def send_all(self, status, headers, data):
        """The status line, `headers` (name and value pairs) in their order, Content-Length, `data`."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if data:
            self.wfile.write(data)


def lifetime():
    """The --lifetime argument: seconds until the fake stops by itself (default 120)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--lifetime", type=float, default=120.0)
    return parser.parse_args().lifetime


class LoopbackServer(ThreadingHTTPServer):
    """A client that hangs up (as one that abandons an answer does) is no error worth a traceback."""

    def handle_error(self, request, client_address):
        if isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError)):
            return
        super().handle_error(request, client_address)


def loopback_server(handler):
    server = LoopbackServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    return server


def announce(server):
    print("PORT %d" % server.server_address[1], flush=True)
