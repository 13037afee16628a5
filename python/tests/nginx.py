"""A real HTTP server for the tests: Debian's nginx on a free port of 127.0.0.1, and its access log."""

from __future__ import annotations

import collections
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
from typing import Dict, List, Optional, Tuple

NGINX = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)

# One line per request: method, status, Range header, body bytes sent, and the
# path last (it may hold spaces).
_CONFIG = """
daemon off;
master_process off;
worker_processes 1;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log warn;
events {{ worker_connections 256; }}
http {{
    log_format qem '$request_method $status "$http_range" $body_bytes_sent $uri';
    access_log {tmp}/access.log qem;
    client_body_temp_path {tmp}/body;
    proxy_temp_path {tmp}/proxy;
    fastcgi_temp_path {tmp}/fastcgi;
    uwsgi_temp_path {tmp}/uwsgi;
    scgi_temp_path {tmp}/scgi;
    types {{ application/octet-stream epub fb2 zip mobi azw3; }}
    server {{
        listen 127.0.0.1:{port};
        root {root};
        autoindex on;
    }}
}}
"""


def _unescape(logged: str) -> str:
    # nginx writes each byte of a path above 0x7E (and a few others) as \xHH.
    raw = re.sub(r"\\x([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), logged)
    return raw.encode("latin-1").decode("utf-8", "surrogateescape")


def _free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return int(s.getsockname()[1])


class Nginx:
    """nginx serving ``root`` until :meth:`stop`, as the current user, all its files in a temp dir.

    One process (no master, no workers to switch user), so it runs as
    whoever runs the tests; its config, pid and logs never leave ``self.tmp``.
    """

    def __init__(self, root: str) -> None:
        if NGINX is None:
            raise RuntimeError("nginx is not installed")
        self.tmp = tempfile.mkdtemp(prefix="qem-nginx-")
        self.proc: Optional["subprocess.Popen[bytes]"] = None
        for _ in range(5):  # the port may be taken between choosing and binding
            self.port = _free_port()
            conf = os.path.join(self.tmp, "nginx.conf")
            with open(conf, "w") as f:
                f.write(_CONFIG.format(tmp=self.tmp, port=self.port, root=os.path.abspath(root)))
            self.proc = subprocess.Popen(
                [NGINX, "-p", self.tmp, "-c", conf, "-e", os.path.join(self.tmp, "error.log")],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            )
            if self._wait_listening():
                return
            self.proc.kill()
            self.proc.wait()
        log = self.error_log()
        self.stop()
        raise RuntimeError(f"nginx did not start: {log}")

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.port}/"

    def _wait_listening(self) -> bool:
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            assert self.proc is not None
            if self.proc.poll() is not None:
                return False
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    return True
            except OSError:
                time.sleep(0.02)
        return False

    def error_log(self) -> str:
        try:
            with open(os.path.join(self.tmp, "error.log")) as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def requests(self) -> List[Tuple[str, str, int, str, int]]:
        """(method, path, status, range, bytes sent) of every request so far, in order."""
        out = []
        try:
            with open(os.path.join(self.tmp, "access.log")) as f:
                for line in f:
                    method, status, rng, sent, path = line.rstrip("\n").split(" ", 4)
                    out.append((method, _unescape(path), int(status), rng.strip('"'), int(sent)))
        except FileNotFoundError:
            pass
        return out

    def per_path(self) -> Dict[str, Tuple[int, int]]:
        """Requests and bytes sent per path (directory listings included)."""
        counts: Dict[str, List[int]] = collections.defaultdict(lambda: [0, 0])
        for _, path, _, _, sent in self.requests():
            counts[path][0] += 1
            counts[path][1] += sent
        return {p: (c[0], c[1]) for p, c in counts.items()}

    def clear_log(self) -> None:
        open(os.path.join(self.tmp, "access.log"), "w").close()

    def stop(self) -> None:
        if self.proc is not None and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)
