#!/usr/bin/python3
# An FTP server for the tests and benchmarks, on 127.0.0.1 only (and [::1] with --ipv6): pyftpdlib serving one folder
# to anonymous users and to one user with a password, with switches for the refusals a test
# needs (REST refused, active-mode data connections refused). A known fault of
# pyftpdlib's active mode is mended here (see ActiveDataConnector); --stock leaves it.
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, FTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--root", required=True)
parser.add_argument("--user", default="")         # name:password
parser.add_argument("--no-rest", action="store_true")
parser.add_argument("--no-active", action="store_true")
parser.add_argument("--stock", action="store_true")
parser.add_argument("--ipv6", action="store_true")  # also on [::1], same port
args = parser.parse_args()

authorizer = DummyAuthorizer()
authorizer.add_anonymous(args.root)
if args.user:
    name, password = args.user.split(":", 1)
    authorizer.add_user(name, password, args.root, perm="elr")


class ActiveDataConnector(ActiveDTP):
    # pyftpdlib 1.5.7 keeps the descriptor number of an active data connection after it hands
    # the socket on; when the session ends it takes that number out of its event loop again,
    # by then often another client's new connection, which then hangs (pyftpdlib pull request
    # 657). Forgetting the number once it is handed on is that request's mend.
    def del_channel(self, map=None):
        ActiveDTP.del_channel(self, map)
        self._fileno = None


class Handler(FTPHandler):
    active_dtp = ActiveDataConnector

    def ftp_REST(self, line):
        if args.no_rest:
            self.respond("502 Command not implemented.")
            return
        return FTPHandler.ftp_REST(self, line)

    def ftp_PORT(self, line):
        if args.no_active:
            self.respond("425 Can't connect to specified address.")
            return
        return FTPHandler.ftp_PORT(self, line)

    def ftp_EPRT(self, line):
        if args.no_active:
            self.respond("425 Can't connect to specified address.")
            return
        return FTPHandler.ftp_EPRT(self, line)


if args.stock:
    Handler.active_dtp = ActiveDTP
Handler.authorizer = authorizer
Handler.banner = "quillmoor test server ready."
Handler.auth_failed_timeout = 0.1  # a refused log-on is answered at once
logging.basicConfig(level=logging.WARNING)
server = FTPServer(("127.0.0.1", args.port), Handler)
if args.ipv6:
    # A second listener in the same event loop, so one serve_forever answers both.
    server6 = FTPServer(("::1", args.port), Handler)
server.serve_forever()
