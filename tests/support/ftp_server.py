# A small FTP server for the tests: serves one folder to one user and to
# anonymous users, on 127.0.0.1. Read-only, unless MODE is "upload" (the user
# may write and make folders; every command is logged) or "slow-upload" (the
# same, taking uploads at 64 KB a second, so that a test can stop it mid-file).
# Usage: ftp_server.py FOLDER PORT USER PASSWORD [MODE]
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    folder, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    mode = sys.argv[5] if len(sys.argv) > 5 else "read"
    uploads = mode in ("upload", "slow-upload")
    logging.basicConfig(level=logging.INFO if uploads else logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, folder, perm="elradfmw" if uploads else "elr")
    authorizer.add_anonymous(folder, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0.1   # tests of wrong passwords need no brake
    if mode == "slow-upload":
        dtp = ThrottledDTPHandler
        dtp.read_limit = 64 * 1024
        handler.dtp_handler = dtp
    server = FTPServer(("127.0.0.1", port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
