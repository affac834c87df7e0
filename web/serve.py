#!/usr/bin/env python3
"""Serves a folder (the AOBench page's build folder) on 127.0.0.1 with the
headers that make the page cross-origin isolated, which its worker threads
need (SharedArrayBuffer), and the MIME types WebAssembly streaming expects.

    python3 web/serve.py [FOLDER] [PORT]

FOLDER defaults to the current folder, PORT to 8000; port 0 picks a free one.
The first line printed is the page's URL.
"""

import functools
import http.server
import sys


class IsolatedHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
        ".mjs": "text/javascript",
        ".html": "text/html",
        ".css": "text/css",
        ".bmp": "image/bmp",
        ".png": "image/png",
    }

    def end_headers(self):
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        sys.stderr.write("serve.py: %s\n" % (format % args))


def main(argv):
    if len(argv) > 3 or any(a in ("-h", "--help") for a in argv[1:]):
        print(__doc__.strip())
        return 0 if len(argv) <= 3 else 2
    folder = argv[1] if len(argv) > 1 else "."
    try:
        port = int(argv[2]) if len(argv) > 2 else 8000
    except ValueError:
        print(f"serve.py: not a port: {argv[2]}", file=sys.stderr)
        return 2
    handler = functools.partial(IsolatedHandler, directory=folder)
    with http.server.ThreadingHTTPServer(("127.0.0.1", port), handler) as server:
        print(f"Serving {folder} at http://127.0.0.1:{server.server_address[1]}/", flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
