"""json_part's resume tokens: bound to the bytes they resume from, and checked
field by field, so that a token made for other content, or forged with its
checksum made anew, raises ValueError, and none that is taken lists an entry
twice or gives a listing outside the schema."""
import json
import os
import struct

import jsonschema
import pytest

import vexmira
from test_file_objects import STUB, archive

SCHEMA = os.environ["VEXMIRA_SCHEMA"]
# Good entries, then a suspect one (a control byte in its name) and one after it.
ENTRIES = [(b"ONE.TXT", 10, 10, 0), (b"TWO.TXT", 20, 20, 0), (b"THREE.TXT", 30, 12, 4), (b"BAD\x01", 5, 5, 0),
           (b"FOUR.TXT", 8, 8, 0)]
ORIGINAL = archive(ENTRIES)
FIRST_ENTRY = 21  # just past the archive header


def pieces(path, token=None, name=None):
    """The pieces from `token` on, one entry each, and the token before each."""
    got = []
    while True:
        piece, following = vexmira.json_part(path, token, limit=1, name=name)
        got.append((token, piece))
        if following is None:
            return got
        token = following
        assert len(got) < 50, "a listing of a few entries never ends"


def fnv1a(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return value


def resealed(body, name):
    """A token whose checksum was made anew, as anyone can."""
    return body + struct.pack("<Q", fnv1a(body + b"\0" + name))


def forgeries(token, size):
    """Every 8 bytes of the token's fields set to telling values, and every byte changed."""
    body = token[:-8]
    made = set()
    for at in range(4, len(body)):
        if at + 8 <= len(body):
            (value,) = struct.unpack_from("<q", body, at)
            for forged in (value - 25, value - 1, value + 1, value + 25, -100, -1, 0, 1, 21, 25, size - 1, size,
                           size + 1, 2**63 - 1):
                made.add(body[:at] + struct.pack("<Q", forged & 0xFFFFFFFFFFFFFFFF) + body[at + 8:])
        for byte in (0, 1, 2, 4, 7, 0x80, 0xFF, body[at] ^ 1):
            made.add(body[:at] + bytes([byte]) + body[at + 1:])
    made.discard(body)
    return sorted(made)


def test_a_token_is_refused_on_other_bytes_under_the_same_name_and_size(tmp_path):
    path = tmp_path / "a.ARC"
    path.write_bytes(ORIGINAL)
    _, token = vexmira.json_part(str(path), limit=1)  # after the first entry
    assert token is not None

    def changed(offset, new):
        return ORIGINAL[:offset] + new + ORIGINAL[offset + len(new):]

    others = {
        "archive header": changed(13, b"\x01"),  # an opaque word
        "entry's sizes": changed(FIRST_ENTRY + 8, struct.pack("<i", 11)),
        "entry's name": changed(FIRST_ENTRY + 25, b"UNO"),
    }
    other = tmp_path / "b.ARC"
    for what, data in others.items():
        assert len(data) == len(ORIGINAL)
        path.write_bytes(data)
        with pytest.raises(ValueError, match="other content"):
            vexmira.json_part(str(path), token, limit=1)
        other.write_bytes(data)  # another file listed under the first one's name
        with pytest.raises(ValueError, match="other content"):
            vexmira.json_part(str(other), token, limit=1, name=str(path))
        with open(other, "rb") as f:
            with pytest.raises(ValueError, match="other content"):
                vexmira.json_part(f, token, limit=1, name=str(path))
    # Only those bytes are compared: stored data may differ, as the README says.
    path.write_bytes(changed(FIRST_ENTRY + 25 + 7, b"\x00" * 10))
    assert b'"name":"TWO.TXT"' in vexmira.json_part(str(path), token, limit=1)[0]


@pytest.mark.parametrize("name, data, after", [
    ("a.ARC", ORIGINAL, 2),  # none suspect yet
    ("a.ARC", ORIGINAL, 4),  # after the suspect entry
    ("setup.exe", STUB + ORIGINAL + bytes(60), 1),  # located, far from the start
], ids=["direct", "after a suspect entry", "located"])
def test_no_forged_token_lists_an_entry_twice_or_outside_the_schema(tmp_path, name, data, after):
    with open(SCHEMA, encoding="utf-8") as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    path = tmp_path / name
    path.write_bytes(data)
    genuine = pieces(str(path))
    head = b"".join(piece for _, piece in genuine[:after])
    token = genuine[after][0]
    taken = 0
    for forged in forgeries(token, len(data)):
        try:
            rest = pieces(str(path), resealed(forged, os.fsencode(str(path))))
        except ValueError:
            continue
        taken += 1
        listing = json.loads(head + b"".join(piece for _, piece in rest))
        validator.validate(listing)
        offsets = [entry["header_offset"] for entry in listing["entries"]]
        assert offsets == sorted(set(offsets)), (forged.hex(), offsets)
    # All but a few: those a real listing could have made (another count of
    # entries that fits between the headers, the path's encoding).
    assert taken <= 3, taken
