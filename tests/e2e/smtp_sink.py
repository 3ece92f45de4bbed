# A real SMTP server for the relay's namespace test: every mail's DATA, as
# the client sent it, goes into DIR/mail-N.eml. Run with Debian's python3.
import sys
import threading

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = "%s/mail-%d.eml" % (self.folder, self.count)
        with open(path + ".part", "wb") as f:
            f.write(envelope.original_content)
        # Renamed when whole: the test never reads half a mail.
        import os
        os.rename(path + ".part", path)
        return "250 OK queued"


host, port, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
controller = Controller(Sink(folder), hostname=host, port=port)
controller.start()
print("smtp sink on %s:%d" % (host, port), flush=True)
threading.Event().wait()
