# A small FTP server for the tests: serves one folder, read-only, to one user
# and to anonymous users, on 127.0.0.1.
# Usage: ftp_server.py FOLDER PORT USER PASSWORD
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    folder, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, folder, perm="elr")
    authorizer.add_anonymous(folder, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
