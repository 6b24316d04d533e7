"""binwalk plugin: TCompress ARC archives end where Vexmira says they plausibly
end, so `binwalk --dd` carves each archive alone instead of everything up to
the end of the file.

The archive has no trailer and no total size: only walking its entries finds
the end, and trailing data (padding, a signature table, another archive) reads
as more entries. `vexmira --json --in-place --all FILE` does that walk and
reports `plausible_end` for every position its locator accepts, and for
every header the reader accepts that the locator passes over (a "CUS" one, or
a 'G' or 'P' at bytes 56 and 57), marked so, in offset order; this plugin runs it once per file, reads its output as it comes, only
as far as the result binwalk asks about, and never longer than
$VEXMIRA_TIMEOUT seconds (default 60) per file; it keeps only each listing's
head and end, never its entries. A run of listings alike comes folded into
one with "also_at": each one's end is the first one's moved on as far. A
header vexmira does not list, one whose walk joins an earlier candidate's (so
its end is not reported), or one past the time limit keeps binwalk's default
and says so.

Install: copy to $XDG_CONFIG_HOME/binwalk/plugins/ (or ~/.config/...). The
tool is $VEXMIRA, else `vexmira` on PATH.
"""

import json
import os
import select
import shutil
import subprocess
import time

import binwalk.core.common
import binwalk.core.plugin

# Each JSON listing is one line; its entries lie between these two marks,
# which a string value cannot hold (its quotes are escaped).
_ENTRIES_OPEN = b',"entries":['
_ENTRIES_CLOSE = b'],"error":'


class _Listings(object):
    """The tool's listings of one file, read as they come, until a deadline."""

    def __init__(self, tool, path, seconds):
        self.path = path
        self.ends = {}  # offset -> (plausible end or None, why the locator passes it over or None)
        self.runs = []  # folded runs: (first offset, count, every, the first's ends)
        self.last = -1  # the highest offset read so far
        self.finished = False
        self.deadline = time.monotonic() + seconds
        self.pending = b""
        self.process = subprocess.Popen(
            [tool, "--json", "--all", "--quiet", "--jobs", "1", "--", path],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def end_at(self, offset):
        while not self.finished and self.last < offset:
            listing = self._next_listing()
            if listing is None:
                break
            at = listing.get("offset")
            if isinstance(at, int) and at >= 0:
                self.ends[at] = (listing.get("plausible_end"), listing.get("passed_over"))
                self.last = max(self.last, at)
                # A folded run: each candidate's listing is the first one's
                # moved on, so the run is passed at once.
                also = listing.get("also_at")
                if isinstance(also, dict) and isinstance(also.get("count"), int) and isinstance(also.get("every"), int) \
                        and also["every"] > 0:
                    self.last = max(self.last, at + also["count"] * also["every"])
                    self.runs.append((at, also["count"], also["every"], self.ends[at]))
        if offset in self.ends:
            return self.ends[offset]
        for first, count, every, (end, passed_over) in self.runs:
            k, rest = divmod(offset - first, every)
            if rest == 0 and 1 <= k <= count:
                return (end + k * every if isinstance(end, int) else None, passed_over)
        return (None, None)

    def close(self):
        if self.finished:
            return
        self.finished = True
        if self.process.poll() is None:
            self.process.kill()
        self.process.stdout.close()
        status = self.process.wait()
        if status not in (0, 1, 2, -9) or status == 2 and not self.ends:
            binwalk.core.common.warning("vexmira plugin: vexmira exited %d on %s" % (status, self.path))

    def _read(self):
        """The next bytes of the output, or None at its end or the deadline."""
        left = self.deadline - time.monotonic()
        if left > 0:
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if ready:
                return os.read(self.process.stdout.fileno(), 1 << 16) or None
        binwalk.core.common.warning("vexmira plugin: no answer within the time limit on %s" % self.path)
        return None

    def _next_listing(self):
        """The next listing without its entries, or None."""
        head, tail, state = [], [], "head"
        data, self.pending = self.pending, b""
        while True:
            if not data:
                data = self._read()
                if data is None:
                    self.close()
                    return None
            if state == "head":
                head.append(data)
                joined = b"".join(head)
                at = joined.find(_ENTRIES_OPEN)
                if at < 0:
                    head, data = [joined], b""
                    continue
                head, data, state = [joined[:at]], joined[at + len(_ENTRIES_OPEN):], "entries"
                carry = b""
            if state == "entries":
                # Keep only enough to find the closing mark across reads.
                window = carry + data
                at = window.find(_ENTRIES_CLOSE)
                if at < 0:
                    carry, data = window[-len(_ENTRIES_CLOSE):], b""
                    continue
                data, state = window[at + len(_ENTRIES_CLOSE):], "tail"
            tail.append(data)
            joined = b"".join(tail)
            at = joined.find(b"\n")
            if at < 0:
                tail, data = [joined], b""
                continue
            self.pending = joined[at + 1:]
            text = head[0] + b',"entries":[],"error":' + joined[:at]
            try:
                return json.loads(text.decode("utf-8"))
            except ValueError:
                return {}


class VexmiraPlugin(binwalk.core.plugin.Plugin):
    MODULES = ["Signature"]
    DESCRIPTION = "tcompress arc archive"

    def init(self):
        self.tool = os.environ.get("VEXMIRA") or shutil.which("vexmira")
        self.seconds = float(os.environ.get("VEXMIRA_TIMEOUT") or 60)
        self.listings = None  # of the file being scanned
        if not self.tool:
            binwalk.core.common.warning("vexmira plugin: no vexmira on PATH and VEXMIRA unset")

    def scan(self, result):
        if not result.valid or not result.description.lower().startswith(self.DESCRIPTION):
            return
        end, passed_over = self._listings(result.file.path).end_at(result.offset) if self.tool else (None, None)
        if passed_over:
            result.description += ", passed over by the locator: %s" % passed_over
        if end is None or end <= result.offset:
            result.description += ", end unknown"
        else:
            result.size = end - result.offset
            result.description += ", plausible end: 0x%X" % end

    def post_scan(self):
        if self.listings is not None:
            self.listings.close()
            self.listings = None

    def _listings(self, path):
        if self.listings is None or self.listings.path != path:
            self.post_scan()
            self.listings = _Listings(self.tool, path, self.seconds)
        return self.listings
