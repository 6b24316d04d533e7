#!/usr/bin/env python3
"""Serves the page from its own folder on this machine only, with the two
headers that make it cross-origin isolated, so that a second worker can read
a large file ahead while the first one searches. `python3 -m http.server`
serves the page too, without them: it then reads every slice itself.

    python3 serve.py [PORT]        (8000 by default; 0: any free port)
"""

import functools
import http.server
import pathlib
import sys

ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
}


class IsolatedHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".wasm": "application/wasm",
                      ".js": "text/javascript"}

    def end_headers(self) -> None:
        for name, value in ISOLATION_HEADERS.items():
            self.send_header(name, value)
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


def main(argv: list[str]) -> int:
    if len(argv) > 2 or (len(argv) == 2 and not argv[1].isdigit()):
        print("usage: serve.py [PORT]", file=sys.stderr)
        return 64
    port = int(argv[1]) if len(argv) == 2 else 8000
    folder = pathlib.Path(__file__).resolve().parent
    handler = functools.partial(IsolatedHandler, directory=str(folder))
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    except OSError as error:
        print(f"serve.py: cannot serve on 127.0.0.1:{port}: {error.strerror}", file=sys.stderr)
        return 1
    with server:
        print(f"Serving {folder} at http://127.0.0.1:{server.server_address[1]}/ (Ctrl-C ends it)", flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
