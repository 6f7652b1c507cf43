#!/usr/bin/python3
"""A plain FTP server for upload tests: one user, one throw-away root folder, 127.0.0.1 only.

Prints "PORT <n>" once it listens. Every command line a client sends is written to standard error
as "COMMAND <line>" (the argument of PASS as "****"), so a test can tell which commands arrived. Stops by itself when its standard input closes (the test that
started it has ended) or after --lifetime seconds, whichever comes first.

Usage: ftp_server.py --root DIR --user NAME --password-file FILE [--readonly SUBDIR]... [--refuse-chmod]
"""

import argparse
import logging
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    # The password comes from a file so it shows in no command line, as in the code under test.
    parser.add_argument("--password-file", required=True)
    parser.add_argument("--readonly", action="append", default=[],
                        help="a folder under the root where uploads are refused")
    parser.add_argument("--refuse-chmod", action="store_true",
                        help="answer SITE CHMOD with 550, as servers that do not let users change modes do")
    parser.add_argument("--lifetime", type=float, default=300.0)
    args = parser.parse_args()

    with open(args.password_file, "rb") as f:
        password = f.read().decode("utf-8")

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    # "M" is the permission to change a file's mode.
    authorizer.add_user(args.user, password, args.root, perm="elradfmwT" if args.refuse_chmod else "elradfmwMT")
    for sub in args.readonly:
        path = os.path.join(args.root, sub)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(args.user, path, perm="elr", recursive=True)

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            shown = "PASS ****" if cmd == "PASS" else line
            sys.stderr.write("COMMAND %s\n" % shown)
            sys.stderr.flush()
            return super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.passive_ports = None
    # Wrong passwords answer at once instead of after pyftpdlib's usual 3 s delay.
    Handler.auth_failed_timeout = 0
    Handler.use_encoding = "utf8"

    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 32
    port = server.socket.getsockname()[1]
    print("PORT %d" % port, flush=True)

    deadline = time.monotonic() + args.lifetime

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    while time.monotonic() < deadline:
        server.serve_forever(timeout=0.5, blocking=False)
    os._exit(0)


if __name__ == "__main__":
    main()
