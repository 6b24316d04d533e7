"""scan() beside `vexmira --json --in-place --all` on the conformance corpus:
one Archive per line the tool prints, each the tool's object, iterating the
entries that line holds and no more."""
import json
import os
import subprocess
import sys

import pytest

import vexmira

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "conformance"))
import corpus  # noqa: E402

VEXMIRA = os.environ["VEXMIRA"]


@pytest.fixture(scope="module")
def corpus_files(tmp_path_factory):
    sample = os.environ.get("VEXMIRA_SAMPLE")
    if not sample:
        pytest.skip("VEXMIRA_SAMPLE (the sample builder) is not set")
    folder = str(tmp_path_factory.mktemp("corpus"))
    return folder, corpus.build(sample, folder, utf8_names_only=False)


def entry_count(line):
    return sum(1 + entry.get("also_at", {}).get("count", 0) for entry in line["entries"])


def test_scan_gives_every_line_of_the_tools_all(corpus_files, monkeypatch):
    folder, names = corpus_files
    monkeypatch.chdir(folder)  # the names as the tool is given them
    for name in names:
        run = subprocess.run([VEXMIRA, "--json", "--in-place", "--all", name], capture_output=True, check=False)
        lines = [line for line in run.stdout.decode("utf-8").splitlines()
                 if json.loads(line)["offset"] is not None]  # no archive: scan() gives none
        scanned = vexmira.scan(name)
        assert [a.to_json() for a in scanned] == lines, name
        for archive, line in zip(scanned, lines):
            expected = json.loads(line)
            for key in ("offset", "located", "passed_over", "messages", "compress_id", "error", "plausible_end",
                        "archive_end", "truncated", "trailing_bytes"):
                assert getattr(archive, key) == expected[key], (name, expected["offset"], key)
            assert len(list(archive)) == entry_count(expected), (name, expected["offset"])


def test_scan_of_no_archive_is_empty_and_a_refused_header_is_that_listings_error(corpus_files, monkeypatch):
    folder, _ = corpus_files
    monkeypatch.chdir(folder)
    with open("plain.bin", "wb") as out:
        out.write(corpus.STUB)
    assert vexmira.scan("plain.bin") == []
    [refused] = vexmira.scan("refused.exe")
    assert refused.error and refused.error == json.loads(refused.to_json())["error"]
    assert list(refused) == []
    with pytest.raises(vexmira.OpenError):
        vexmira.scan("missing.exe")
