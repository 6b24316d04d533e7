"""open(..., hashes=True), read_stored() and entries_frame(..., hashes=True)
beside `vexmira --hash --json --in-place`: the same digests, entropies and
reasons, and the stored bytes those digests are of."""
import hashlib
import json
import math
import os
import subprocess
import sys

import pytest

import vexmira

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "conformance"))
import corpus  # noqa: E402

VEXMIRA = os.environ["VEXMIRA"]
DATA = bytes(range(256)) * 3 + b"stored as it is"
# Its last entry's data runs past the end of the file: listed, never read.
CUT = (corpus.STUB + corpus.archive_header() + corpus.entry(b"WHOLE.BIN", len(DATA), len(DATA), 0, DATA)
       + corpus.entry(b"CUT.BIN", 900, 900, 0, b"x" * 40))


def hashed(name, cwd):
    run = subprocess.run([VEXMIRA, "--hash", "--json", "--in-place", "--quiet", name], cwd=cwd, capture_output=True,
                         check=False)
    return json.loads(run.stdout)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("hashes")
    names = []
    sample = os.environ.get("VEXMIRA_SAMPLE")
    if sample:
        names = [name for name in corpus.build(sample, str(folder), utf8_names_only=True)
                 if name in ("setup.exe", "SAMPLE.ARC", "tail.exe", "joined.exe", "MANY.ARC")]
    (folder / "cut.exe").write_bytes(CUT)
    return folder, names + ["cut.exe"]


def test_hashes_are_the_tools(files, monkeypatch):
    folder, names = files
    monkeypatch.chdir(folder)
    reasons = set()
    for name in names:
        expected = hashed(name, folder)
        with vexmira.open(name, hashes=True) as opened:
            assert opened.input_sha256 == expected["input_sha256"] == hashlib.sha256((folder / name).read_bytes()).hexdigest()
            entries = list(opened)
            assert json.loads(opened.to_json()) == expected, name
        assert len(entries) == len(expected["entries"]) > 0, name
        for got, want in zip(entries, expected["entries"]):
            assert (got.sha256, got.entropy, got.data_error) == (want["sha256"], want["entropy"], want["data_error"]), \
                (name, want["name"])
            assert {key: value for key, value in got.to_dict().items() if key != "name_bytes"} == want
            if want["data_error"]:
                reasons.add(want["data_error"])
    assert reasons == {"Its stored data runs past the end of the file"}
    with vexmira.open("cut.exe") as opened:
        plain = list(opened)
        assert opened.input_sha256 is None
    assert [(e.sha256, e.entropy, e.data_error) for e in plain] == [(None, None, None)] * 2
    assert "sha256" not in plain[0].to_dict()


def test_read_stored_gives_the_bytes_the_digest_is_of(files, monkeypatch):
    folder, names = files
    monkeypatch.chdir(folder)
    with open("cut.exe", "rb") as data, vexmira.open(data, hashes=True) as opened:  # a file object too
        whole, cut = opened
        assert opened.read_stored(whole) == DATA
        counts = [DATA.count(value) for value in set(DATA)]
        bits = -sum(count / len(DATA) * math.log2(count / len(DATA)) for count in counts)
        assert whole.entropy == round(bits, 2) == 7.99 and whole.sha256 == hashlib.sha256(DATA).hexdigest()
        with pytest.raises(ValueError, match="'CUT.BIN': Its stored data runs past the end of the file"):
            opened.read_stored(cut)
        assert opened.read_stored(whole, max_size=len(DATA)) == DATA  # the limit itself is allowed
        with pytest.raises(ValueError, match=f"stores {len(DATA)} bytes, more than max_size \\({len(DATA) - 1}\\)"):
            opened.read_stored(whole, max_size=len(DATA) - 1)
    with pytest.raises(ValueError, match="closed"):
        opened.read_stored(whole)
    for name in names:
        with vexmira.open(name, hashes=True) as opened:
            for entry in opened:
                if entry.data_error is None:
                    assert hashlib.sha256(opened.read_stored(entry)).hexdigest() == entry.sha256, (name, entry)


def test_the_frame_with_hashes_has_the_tools_digests(files):
    import pandas

    pytest.importorskip("dask")
    import vexmira.dask

    folder, names = files
    frame = vexmira.dask.entries_frame([folder / name for name in names], hashes=True, entries_per_partition=700)
    assert frame.npartitions == (4 if "MANY.ARC" in names else 1)  # its 2,000 entries span three
    got = frame.compute().reset_index(drop=True)
    want = [entry for name in names for entry in hashed(str(folder / name), folder)["entries"]]
    assert list(got["sha256"].astype(object).where(got["sha256"].notna(), None)) == [e["sha256"] for e in want]
    assert list(got["entropy"].astype(object).where(got["entropy"].notna(), None)) == [e["entropy"] for e in want]
    assert got["entropy"].dtype == "Float64" and got["sha256"].isna().sum() == 1
    assert got["sha256"][got["sha256"].isna()].iloc[0] is pandas.NA
