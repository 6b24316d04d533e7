"""binwalk plugin: TCompress ARC archives end where Vexmira says they plausibly
end, so `binwalk --dd` carves each archive alone instead of everything up to
the end of the file.

The archive has no trailer and no total size: only walking its entries finds
the end, and trailing data (padding, a signature table, another archive) reads
as more entries. `vexmira --json --in-place --all FILE` does that walk and
reports `plausible_end` for every position its locator accepts, and for
every header the reader accepts that the locator passes over (a "CUS" one, or
a 'G' or 'P' at bytes 56 and 57), marked so; this plugin runs it once per file
and sets each result's size from it. A header vexmira does not list keeps
binwalk's default and says so.

Install: copy to $XDG_CONFIG_HOME/binwalk/plugins/ (or ~/.config/...). The
tool is $VEXMIRA, else `vexmira` on PATH.
"""

import json
import os
import shutil
import subprocess

import binwalk.core.common
import binwalk.core.plugin


class VexmiraPlugin(binwalk.core.plugin.Plugin):
    MODULES = ["Signature"]
    DESCRIPTION = "tcompress arc archive"

    def init(self):
        self.tool = os.environ.get("VEXMIRA") or shutil.which("vexmira")
        self.ends = {}  # path -> {offset: (plausible end or None, why the locator passes it over or None)}

    def scan(self, result):
        if not result.valid or not result.description.lower().startswith(self.DESCRIPTION):
            return
        end, passed_over = self._ends(result.file.path).get(result.offset, (None, None))
        if passed_over:
            result.description += ", passed over by the locator: %s" % passed_over
        if end is None or end <= result.offset:
            result.description += ", end unknown"
        else:
            result.size = end - result.offset
            result.description += ", plausible end: 0x%X" % end

    def _ends(self, path):
        if path not in self.ends:
            self.ends[path] = self._walk(path)
        return self.ends[path]

    def _walk(self, path):
        if not self.tool:
            binwalk.core.common.warning("vexmira plugin: no vexmira on PATH and VEXMIRA unset")
            return {}
        # Exit status 1 (nothing located) and 2 (a candidate that does not
        # read) still leave one JSON object per candidate on stdout.
        run = subprocess.run([self.tool, "--json", "--all", "--quiet", "--jobs", "1", "--", path],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
        ends = {}
        for line in run.stdout.splitlines():
            try:
                listing = json.loads(line)
            except ValueError:
                continue
            if isinstance(listing.get("offset"), int):
                ends[listing["offset"]] = (listing.get("plausible_end"), listing.get("passed_over"))
        if run.returncode not in (0, 1, 2) or not ends and run.returncode != 1:
            binwalk.core.common.warning("vexmira plugin: %s exited %d on %s" % (self.tool, run.returncode, path))
        return ends
