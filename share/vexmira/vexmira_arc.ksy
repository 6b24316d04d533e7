# TCompress ARC archives (multi-file containers, extension ".ARC") for Kaitai
# Struct, as Vexmira reads them: an archive header, then entries (entry
# header, name, stored data) laid end to end to the end of the file. There is
# no directory or trailer, and nothing here decompresses.
#
# This describes an archive at offset 0 of its own file (an .ARC, or the bytes
# `vexmira --carve` wrote); in an installer or other carrier, find the offset
# with `vexmira --all` first. It describes whole archives: where Vexmira ends a
# walk quietly (an entry cut short by the end of the file, a negative name
# length or stored size, a header size that does not match the entry's full
# size), the parser here stops with an error instead. Vexmira examines
# nothing in a file shorter than 46 bytes (a header and one entry header),
# where this reads a header without entries.
#
# Sizes: a size is its signed 32-bit low word plus its extension word times
# 2^31 (not 2^32). In the generated JavaScript the sum is a double, exact up
# to 2^53: sizes past that (extension words above 2^22) lose precision there,
# where Vexmira keeps them exact in 64 bits. The product is written as
# `* 2147483648` on purpose: `<< 31` overflows 32-bit shifts in JavaScript.
meta:
  id: vexmira_arc
  title: TCompress ARC archive, as read by Vexmira
  file-extension: arc
  license: MIT
  endian: le
  encoding: ISO-8859-1
doc: |
  A multi-file archive: names, sizes, method and lock state of each entry
  come from the headers alone. Names are 8-bit text, read as Latin-1 as
  Vexmira's JSON reads them.
seq:
  - id: header
    type: archive_header
  - id: entries
    type: entry
    repeat: eos
types:
  archive_header:
    seq:
      - id: signature
        contents: ["SPIS", 0x1a]
      - id: compress_id
        type: str
        size: 3
        doc: NON, RLE, LZH, CUS or LH5; Vexmira refuses any other.
      - id: size_low
        type: s4
      - id: archive_type
        type: u1
        valid: 1
        doc: 1 is multi-file, the only type Vexmira accepts.
      - id: long13
        type: u4
        doc: Opaque.
      - id: flags
        type: u4
        doc: Bit 7 - an extension word follows, so the first entry starts at 25, not 21.
      - id: size_extension
        type: s4
        if: has_extension
    instances:
      has_extension:
        value: (flags & 0x80) != 0
      size_value:
        value: 'size_low + (has_extension ? size_extension : 0) * 2147483648'
        doc: Not used by the reader.
  entry:
    seq:
      - id: name_length
        type: s2
        valid:
          min: 0
      - id: long2
        type: u4
        doc: Opaque, shown by Vexmira as long2.
      - id: word6
        type: u2
        doc: Opaque, shown by Vexmira as word6.
      - id: full_size_low
        type: s4
      - id: compressed_size_low
        type: s4
      - id: method
        type: u1
        enum: method
      - id: long17
        type: u4
        doc: Opaque, shown by Vexmira as long17.
      - id: flags
        type: u4
        doc: |
          Bit 7 - two extension words follow, so the header has 33 bytes, not
          25. Bits 0 to 6 - the entry is locked when any is set.
      - id: full_size_extension
        type: s4
        if: has_extension
      - id: compressed_size_extension
        type: s4
        if: has_extension
        # The words are there exactly when the full size needs them (without
        # them it cannot exceed 2^31 - 1): Vexmira ends the walk at an entry
        # that carries them for a smaller size.
        valid:
          expr: 'full_size_low + full_size_extension * 2147483648 > 2147483647'
      - id: name
        type: str
        size: name_length
      - id: data
        size: compressed_size
        doc: The stored bytes, as they are; Vexmira never reads them.
    instances:
      has_extension:
        value: (flags & 0x80) != 0
      full_size:
        value: 'full_size_low + (has_extension ? full_size_extension : 0) * 2147483648'
      compressed_size:
        value: 'compressed_size_low + (has_extension ? compressed_size_extension : 0) * 2147483648'
      locked:
        value: (flags & 0x7f) != 0
      header_size:
        value: 'has_extension ? 33 : 25'
enums:
  method:
    0: non
    1: rle
    2: lzh
    3: cus
    4: lh5
