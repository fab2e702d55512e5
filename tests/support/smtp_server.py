# A small SMTP server for the tests (aiosmtpd) on 127.0.0.1: saves each message
# as N.eml in FOLDER, with its envelope (sender, recipients) in N.env. A
# recipient whose address begins with "refused" is answered 550.
# Usage: smtp_server.py FOLDER PORT
import asyncio
import os
import sys

from aiosmtpd.controller import Controller


class Saver:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".env", "w") as f:
            f.write(envelope.mail_from + "\n" + "\n".join(envelope.rcpt_tos) + "\n")
        # Written under a temporary name, so a reader never sees half a message.
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted"


def main():
    folder, port = sys.argv[1], int(sys.argv[2])
    controller = Controller(Saver(folder), hostname="127.0.0.1", port=port)
    controller.start()
    try:
        asyncio.get_event_loop().run_forever()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
