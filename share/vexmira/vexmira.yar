/*
    TCompress ARC archive headers, found by the tests Vexmira's locator uses:
    the signature "SPIS" 0x1A, the identifier's first letter 'L', 'N' or 'R'
    (so "CUS" archives are passed over, as the locator does), no 'G' at byte
    56 and no 'P' at byte 57 (the first name's 11th and 12th characters).

    Near the end of a file a missing byte 56 or 57 rejects nothing, as in the
    locator: a position with 6 to 57 bytes left can match. `yara -s` prints
    the offset of every candidate, which are the offsets `vexmira --all`
    lists.
*/

rule tcompress_arc_archive
{
    meta:
        description = "TCompress ARC archive header (multi-file container)"
        tool = "vexmira --all --in-place FILE lists each one"

    strings:
        // Bytes 0-5, 6-55, 56, 57; or the file ends before byte 57 or 56.
        $header = /SPIS\x1A[LNR](.{50}[^G]([^P]|$)|.{0,50}$)/s

    condition:
        $header
}
