# Pages with titles for the page-title tests, on 127.0.0.1:PORT. Each request
# is logged to standard error ("GET /path"), so a test can count fetches.
#   /titled.html   Content-Length, a title with entities and markup characters
#   /stream.html   HTTP/1.0 without Content-Length, closed at the end
#   /upper.html    "<TITLE lang=en>" in capitals
#   /far.html      the title only after the first 8000 bytes
#   /empty.html    an empty page
#   /never...      never answers
#   /page/<n>      a titled page per number ("Page <n>")
# Usage: page_server.py PORT
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGES = {
    "/titled.html": b"<html><head><title>Caf&eacute; &amp; Bar &#8211; &lt;Menu&gt; &quot;A&quot;</title>",
    "/upper.html": b"<HTML><HEAD><TITLE lang=en>\n  Loud\n  Title </TITLE></HEAD></HTML>",
    "/far.html": b"<html><head>" + b"<!-- filler -->" * 600 + b"<title>Too far</title>",
    "/empty.html": b"",
}


class Pages(BaseHTTPRequestHandler):
    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        sys.stderr.write("GET %s\n" % self.path)
        sys.stderr.flush()
        if self.path.startswith("/never"):
            time.sleep(60)
            return
        if self.path == "/stream.html":
            # HTTP/1.0 and no length: the end of the page is the end of the connection.
            self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n")
            self.wfile.write(b"<html><head><title>Streamed page</title></head></html>")
            return
        if self.path.startswith("/page/"):
            body = ("<title>Page %s</title>" % self.path[6:]).encode()
        elif self.path in PAGES:
            body = PAGES[self.path]
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    ThreadingHTTPServer.daemon_threads = True
    server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Pages)
    server.serve_forever()


if __name__ == "__main__":
    main()
