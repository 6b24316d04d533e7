# binwalk signatures for TCompress ARC archives: every header the reader
# accepts ("SPIS" 0x1A, archive type 1, a known compression identifier), with
# its identifier. `binwalk -m tcompress.sig FILE` uses these alone; add
# `-m` for each other signature file wanted, or `-B -m tcompress.sig` to keep
# binwalk's own. With vexmira.py installed as a plugin, each archive is carved
# to where it plausibly ends.
0	string	SPIS\x1A	TCompress ARC archive,
>12	ubyte	!1	{invalid}
>5	string	!NON
>>5	string	!RLE
>>>5	string	!LZH
>>>>5	string	!CUS
>>>>>5	string	!LH5	{invalid}
>5	string	x	compression: %.3s,
>12	ubyte	x	type: %d (multi-file)
