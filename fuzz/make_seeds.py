#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, one folder per target.

    fuzz/make_seeds.py OUT_DIR [TESTDATA_DIR]

Seeds come from three places: the legacy test archives (their entries' raw
compressed streams for the decoder targets, the archives themselves for the archive
targets), archives made here by Info-ZIP zip (traditional encryption with the
package password, folders, comments, data descriptors), and archives and streams
built byte by byte for the corners a producer never writes (names that climb out
of the destination, broken directories, end records inside comments). Each seed is
named after what it exercises. Nothing here is random: the same inputs give the
same corpus.

One file of some 500 lines on purpose: every archive seed is built from the same
record writers, and a seed's name leads here to the lines that made it.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

PACKAGE_PASSWORD = b"k3m8_q7rw_2x4"
LEGACY_PASSWORD = b"legacy"

DECODER_TARGETS = {1: "fuzz_unshrink", 2: "fuzz_unreduce", 3: "fuzz_unreduce", 4: "fuzz_unreduce",
                   5: "fuzz_unreduce", 6: "fuzz_explode", 8: "fuzz_inflate"}


def job_header(uncompressed_size, bit_flag=0, reduce_factor=1, block_selector=255, window_fill=0):
    """The 8-byte job header of fuzz/decoder_harness.h."""
    size = min(uncompressed_size, (1 << 18))
    return bytes([block_selector, bit_flag & 0xFF, size & 0xFF, (size >> 8) & 0xFF, (size >> 16) & 0xFF,
                  (reduce_factor - 1) & 3, window_fill, 0])


class Corpus:
    def __init__(self, root):
        self.root = root

    def add(self, target, name, data):
        folder = os.path.join(self.root, target)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


# ----------------------------------------------------------- ZIP records ----

def dos_stamp():
    return 0x5A8B_6000  # 2025-04-11 12:00:00, a fixed date keeps the corpus stable


def local_header(name, method, crc, csize, usize, flags=0, extra=b"", stamp=None):
    stamp = dos_stamp() if stamp is None else stamp
    return struct.pack("<IHHHIIIIHH", 0x04034B50, 20, flags, method, stamp, crc, csize, usize,
                       len(name), len(extra)) + name + extra


def central_header(name, method, crc, csize, usize, offset, flags=0, extra=b"", comment=b"",
                   external=0x20, stamp=None, disk=0):
    stamp = dos_stamp() if stamp is None else stamp
    return struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 20, 20, flags, method, stamp, crc, csize, usize,
                       len(name), len(extra), len(comment), disk, 0, external, offset) + name + extra + comment


def end_record(entries, cd_size, cd_offset, comment=b"", this_disk=0, cd_disk=0, entries_here=None):
    entries_here = entries if entries_here is None else entries_here
    return struct.pack("<IHHHHIIH", 0x06054B50, this_disk, cd_disk, entries_here, entries, cd_size, cd_offset,
                       len(comment)) + comment


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


class ZipCrypto:
    """Traditional PKWARE encryption (APPNOTE 6.1), to build encrypted entries by hand."""

    def __init__(self, password):
        self.keys = [0x12345678, 0x23456789, 0x34567890]
        for b in password:
            self._update(b)

    @staticmethod
    def _crc(crc, b):
        return zlib.crc32(bytes([b]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF

    def _update(self, b):
        k0, k1, k2 = self.keys
        k0 = self._crc(k0, b)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = self._crc(k2, k1 >> 24)
        self.keys = [k0, k1, k2]

    def _stream_byte(self):
        t = (self.keys[2] & 0xFFFF) | 2
        return ((t * (t ^ 1)) >> 8) & 0xFF

    def encrypt(self, plain):
        out = bytearray()
        for b in plain:
            out.append(b ^ self._stream_byte())
            self._update(b)
        return bytes(out)


def encrypted(data, password, check_byte):
    header = bytes([(i * 37 + 11) & 0xFF for i in range(11)]) + bytes([check_byte])
    return ZipCrypto(password).encrypt(header + data)


def build_zip(entries, comment=b"", lie_about_cd_offset=None, drop_central=False, data_descriptor=False):
    """entries: list of (name, method, payload, plain) with payload already compressed
    (and encrypted when the name is given as (name, password))."""
    body = bytearray()
    central = bytearray()
    for entry in entries:
        name, method, plain, password = entry["name"], entry["method"], entry["plain"], entry.get("password")
        crc = zlib.crc32(plain)
        if method == 8:
            payload = raw_deflate(plain, entry.get("level", 6), entry.get("strategy", zlib.Z_DEFAULT_STRATEGY))
        else:
            payload = plain
        flags = 0
        stamp = entry.get("stamp", dos_stamp())
        if data_descriptor:
            flags |= 8
        if password is not None:
            flags |= 1
            check = (stamp >> 8) & 0xFF if data_descriptor else crc >> 24
            payload = encrypted(payload, password, check)
        offset = entry.get("offset_override", len(body))
        if data_descriptor:
            body += local_header(name, method, 0, 0, 0, flags, stamp=stamp) + payload
            body += struct.pack("<IIII", 0x08074B50, crc, len(payload), len(plain))
        else:
            body += local_header(name, method, crc, len(payload), len(plain), flags, stamp=stamp) + payload
        central += central_header(name, method, crc, len(payload), len(plain), offset, flags,
                                  comment=entry.get("comment", b""), stamp=stamp,
                                  external=entry.get("external", 0x20))
    cd_offset = len(body) if lie_about_cd_offset is None else lie_about_cd_offset
    if drop_central:
        return bytes(body) + end_record(len(entries), len(central), cd_offset, comment)
    return bytes(body + central) + end_record(len(entries), len(central), cd_offset, comment)


def read_entries(archive):
    """(name, method, flags, raw data, uncompressed size) of each entry, from the central directory."""
    eocd = archive.rfind(b"PK\x05\x06")
    if eocd < 0:
        return []
    total, cd_size, cd_offset = struct.unpack_from("<HII", archive, eocd + 10)
    pos, out = cd_offset, []
    for _ in range(total):
        if archive[pos:pos + 4] != b"PK\x01\x02":
            break
        (flags, method, _, _, csize, usize, nlen, xlen, clen, _, _, _, offset) = struct.unpack_from(
            "<HHIIIIHHHHHII", archive, pos + 8)
        name = archive[pos + 46:pos + 46 + nlen]
        lnlen, lxlen = struct.unpack_from("<HH", archive, offset + 26)
        start = offset + 30 + lnlen + lxlen
        out.append((name, method, flags, archive[start:start + csize], usize))
        pos += 46 + nlen + xlen + clen
    return out


# ---------------------------------------------------------------- seeds ----

def sample_texts():
    prose = (b"The launcher refreshes the program package from the upgrade location and unpacks "
             b"the application and its database out of password-protected packages.\r\n") * 40
    return {
        "prose": prose,
        "zeros": bytes(70000),
        "one_byte": b"A",
        "binary_ramp": bytes((i * i + 7 * i) & 0xFF for i in range(50000)),
        "repeats": b"abcabcabcabcabc" * 3000 + b"xyz" * 2000,
    }


class BitWriter:
    """RFC 1951 3.1.1: data elements packed from the least significant bit; Huffman
    codes from their most significant bit."""

    def __init__(self):
        self.value, self.count = 0, 0

    def put(self, value, nbits):
        self.value |= value << self.count
        self.count += nbits

    def put_code(self, code, nbits):
        self.put(int(format(code, f"0{nbits}b")[::-1], 2), nbits)

    def bytes(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


def inflate_seeds(corpus):
    texts = sample_texts()
    for label, text in texts.items():
        for level, strategy, how in ((1, zlib.Z_DEFAULT_STRATEGY, "level1"), (9, zlib.Z_DEFAULT_STRATEGY, "level9"),
                                     (6, zlib.Z_FIXED, "fixed_huffman"), (6, zlib.Z_HUFFMAN_ONLY, "huffman_only"),
                                     (6, zlib.Z_RLE, "rle"), (0, zlib.Z_DEFAULT_STRATEGY, "stored_blocks")):
            stream = raw_deflate(text, level, strategy)
            if len(stream) > 40000:
                continue
            corpus.add("fuzz_inflate", f"{how}_{label}.bin", job_header(len(text)) + stream)
    # Hand-built corners of RFC 1951.
    corpus.add("fuzz_inflate", "empty_final_fixed_block.bin", job_header(0) + b"\x03\x00")
    corpus.add("fuzz_inflate", "empty_final_stored_block.bin", job_header(0) + b"\x01\x00\x00\xff\xff")
    corpus.add("fuzz_inflate", "match_258_at_distance_1.bin",
               job_header(259) + raw_deflate(b"q" * 259, 9, zlib.Z_RLE))
    corpus.add("fuzz_inflate", "exactly_two_windows.bin", job_header(65536) + raw_deflate(bytes(65536), 9))
    corpus.add("fuzz_inflate", "tiny_input_blocks_prose.bin",
               job_header(len(texts["prose"]), block_selector=0) + raw_deflate(texts["prose"], 9))
    corpus.add("fuzz_inflate", "block_type_3.bin", job_header(10) + b"\x07\x00\x00")
    corpus.add("fuzz_inflate", "stored_len_nlen_mismatch.bin", job_header(10) + b"\x01\x05\x00\x00\x00hello")
    # HLIT = 30 gives 287 literal/length codes, which RFC 1951 does not allow.
    corpus.add("fuzz_inflate", "dynamic_hlit_287.bin", job_header(10) + bytes([0x05 | (30 << 3), 0xE0, 0xFF, 0x07]))
    corpus.add("fuzz_inflate", "size_limit_cuts_output.bin", job_header(1000) + raw_deflate(texts["prose"], 6))
    # Fixed block: a match of length 3 at distance 1 before any literal, then end of block.
    bits = BitWriter()
    bits.put(1, 1), bits.put(1, 2)  # BFINAL, BTYPE = fixed
    bits.put_code(0b0000001, 7), bits.put_code(0b00000, 5), bits.put_code(0b0000000, 7)
    corpus.add("fuzz_inflate", "distance_before_first_byte.bin", job_header(3, window_fill=0x5A) + bits.bytes())


def decoder_seeds_from_archive(corpus, label, archive):
    for index, (name, method, flags, raw, usize) in enumerate(read_entries(archive)):
        target = DECODER_TARGETS.get(method)
        if target is None or target == "fuzz_inflate" and not raw:
            continue
        if flags & 1:
            continue  # encrypted: the plain archives of the same set hold the same streams
        factor = method - 1 if 2 <= method <= 5 else 1
        safe = "".join(c if c.isalnum() or c in "._-" else "_" for c in name.decode("latin-1"))
        corpus.add(target, f"{label}_{index}_{safe}.bin", job_header(usize, flags, factor) + raw)


def base64_seeds(corpus):
    import base64
    for label, text in {
        "empty": b"",
        "one_group": b"TWFu",
        "padding_two": b"TQ==",
        "padding_one": b"TWE=",
        "padding_first_group_then_more": b"TQ==TWFu",
        "ragged_tail_seven_chars": b"TWFuTWF",
        "outside_alphabet_in_first_group": b"T*Fu",
        "outside_alphabet_later": b"TWFu!!!!",
        "fill_in_first_slot": b"=WFu",
        "start_token_like": base64.b64encode(bytes(range(48))),
        "long_text": base64.b64encode(bytes((i * 7) & 0xFF for i in range(3000))),
        "whitespace_and_newlines": b"TWFu\r\nTWFu TWFu\t",
    }.items():
        corpus.add("fuzz_base64", label + ".txt", text)


def profile_seeds(corpus):
    for label, text in {
        "upgrade_plain": b"[DB]\r\nUpgrade=\\\\server\\share\\Kalvo3pack\r\n",
        "upgrade_quoted_with_blanks": b"[db]\r\n  UPGRADE  =  \"  /srv/upgrade/Kalvo3pack  \"  \r\n",
        "upgrade_empty_value": b"[DB]\nUpgrade=\n",
        "two_sections_and_comments": b"; comment\n[Other]\nUpgrade=no\n[DB]\nKey=1\nUpgrade=yes\n",
        "section_without_bracket": b"[DB\nUpgrade=x\n",
        "value_longer_than_buffer": b"[DB]\nUpgrade=" + b"x" * 3000 + b"\n",
        "binary_garbage": bytes((i * 131 + 17) & 0xFF for i in range(600)),
        "no_trailing_newline": b"[DB]\nUpgrade=last",
        "single_quote_pair": b"[DB]\nUpgrade='quoted'\n",
        "lone_quote": b"[DB]\nUpgrade=\"\n",
        "nul_bytes_inside": b"[DB]\nUp\x00grade=x\n[DB]\nUpgrade=y\x00z\n",
    }.items():
        # Two selector bytes (fuzz_profile.cpp): the launcher's 2048-byte buffer, section DB, key Upgrade.
        corpus.add("fuzz_profile", label + ".ini", b"\xff\x00" + text)
    corpus.add("fuzz_profile", "small_buffer_cuts_value.ini", b"\x05\x00[DB]\nUpgrade=abcdefgh\n")
    corpus.add("fuzz_profile", "names_from_content.ini", b"\xff\x80 d b \nup=grade\n[ D B ]\nup=grade=v\n")


def wild_match_seeds(corpus):
    for label, (pattern, subject) in {
        "star_crosses_backslash": (b"*.txt", b"sub\\deeper\\notes.txt"),
        "launcher_line_file_part": (b"kalvo3main", b"Kalvo3main"),
        "question_marks": (b"kalvo3.??", b"KALVO3.IB"),
        "set_and_range": (b"<a-c>x<!0-9>", b"bxq"),
        "star_then_set": (b"*<a-f>", b"facade"),
        "star_then_inverted_set": (b"*<^0-9>.ib", b"kalvo.ib"),
        "malformed_set_without_close": (b"<abc", b"a"),
        "range_high_to_low": (b"<z-a>", b"m"),
        "star_question_mix": (b"*?*?*", b"ab"),
        "many_stars_backtracking": (b"*a*a*a*a*a*a*a*b", b"a" * 60),
    }.items():
        corpus.add("fuzz_wild_match", label + ".bin", bytes([len(pattern)]) + pattern + subject)


def decrypt_seeds(corpus):
    for label, (password, block, data) in {
        "package_password_one_block": (PACKAGE_PASSWORD, 255, b"Kalvo3main data" * 20),
        "empty_password": (b"", 15, b"abc" * 100),
        "legacy_password_byte_blocks": (LEGACY_PASSWORD, 0, bytes(range(256))),
        "high_bytes_password": (bytes([0x8E, 0xFF, 0x00, 0x41]), 100, b"x" * 500),
    }.items():
        corpus.add("fuzz_zip_decrypt", label + ".bin", bytes([len(password)]) + password + bytes([block]) + data)


def text_cipher_seeds(corpus):
    key, iv = b"mild_sun_rise".ljust(32, b"\0"), b"529".ljust(16, b"\0")
    token_plain = b"[SECTION],DBpath=C:\\Shop\\KALVO3.IB,"
    for mode in range(5):
        for bits, label in ((128, "aes128"), (192, "aes192"), (256, "aes256"), (260, "invalid_size")):
            for data, shape in ((token_plain, "token"), (bytes(range(48)), "three_blocks"), (b"x" * 21, "ragged")):
                corpus.add("fuzz_text_cipher", f"mode{mode}_{label}_{shape}.bin",
                           bytes([mode, bits // 4, 128]) + key + iv + data)
    corpus.add("fuzz_text_cipher", "base64_token_text.bin", b"fo0eJl3lrtP0tA8ZK5v7V+oPZ9tRPqxvZLBpoJ2QfiQ=")


def hostile_archives():
    """Archives no producer writes, each aimed at one corner of the reader or driver."""
    plain = b"payload of a hostile entry\n" * 3
    stored = lambda name, **kw: dict(name=name, method=0, plain=plain, **kw)
    deflated = lambda name, **kw: dict(name=name, method=8, plain=plain, **kw)
    yield "dot_dot_slash_name.zip", build_zip([stored(b"../../escaped.txt")])
    yield "dot_dot_backslash_name.zip", build_zip([stored(b"..\\..\\escaped.txt")])
    yield "dot_dot_inside_folder.zip", build_zip([stored(b"sub/../../escaped.txt")])
    yield "absolute_slash_name.zip", build_zip([stored(b"/tmp/kalv-fuzz-absolute.txt")])
    yield "drive_letter_name.zip", build_zip([stored(b"C:\\kalv\\drive.txt"), stored(b"C:drive2.txt")])
    yield "folder_entries_only.zip", build_zip([dict(name=b"sub/", method=0, plain=b""),
                                                dict(name=b"sub/deeper/", method=0, plain=b"")])
    yield "dot_and_empty_components.zip", build_zip([stored(b"./a//b/./c.txt"), stored(b"."), stored(b"..")])
    yield "name_with_nul_and_high_bytes.zip", build_zip([stored(b"a\x00b\x8e\x99.txt")])
    yield "launcher_entry_encrypted.zip", build_zip([deflated(b"Kalvo3main", password=PACKAGE_PASSWORD),
                                                     stored(b"KALVO3.IB", password=PACKAGE_PASSWORD)])
    yield "launcher_entry_wrong_password.zip", build_zip([deflated(b"Kalvo3main", password=b"wrong")])
    yield "encrypted_with_data_descriptor.zip", build_zip(
        [deflated(b"Kalvo3main", password=PACKAGE_PASSWORD)], data_descriptor=True)
    yield "central_directory_missing_local_scan.zip", build_zip([stored(b"a.txt"), deflated(b"b.txt")],
                                                                drop_central=True)
    yield "central_offset_wrong_local_scan.zip", build_zip([stored(b"a.txt"), deflated(b"b.txt")],
                                                           lie_about_cd_offset=3)
    yield "duplicate_local_offsets.zip", build_zip([stored(b"a.txt"), stored(b"b.txt", offset_override=0)])
    yield "comment_holds_end_signature.zip", build_zip([stored(b"a.txt")],
                                                      comment=b"PK\x05\x06" + bytes(18) + b"tail")
    yield "entry_comment.zip", build_zip([stored(b"a.txt", comment=b"an entry comment")], comment=b"archive")
    yield "unknown_method_9.zip", build_zip([dict(name=b"a.txt", method=9, plain=plain)])
    yield "read_only_attributes.zip", build_zip([stored(b"ro.txt", external=0x21)])
    yield "bad_date_time.zip", build_zip([stored(b"a.txt", stamp=0x0000F800)])
    yield "zero_entries.zip", end_record(0, 0, 0)
    yield "end_record_only_claims_entries.zip", end_record(3, 46 * 3, 0)
    # The directory claims sizes the data does not have: truncated and oversized entries.
    good = build_zip([deflated(b"Kalvo3main")])
    yield "truncated_inside_entry_data.zip", good[:40] + good[good.rfind(b"PK\x01\x02"):]
    huge = bytearray(good)
    cd = huge.rfind(b"PK\x01\x02")
    struct.pack_into("<I", huge, cd + 20, 0x7FFFFFF0)  # compressed size
    struct.pack_into("<I", huge, cd + 24, 0xFFFFFFFF)  # uncompressed size
    yield "sizes_beyond_archive.zip", bytes(huge)
    split = bytearray(good)
    eocd = split.rfind(b"PK\x05\x06")
    struct.pack_into("<HH", split, eocd + 4, 1, 0)  # this disk 1: a split archive
    yield "claims_to_be_split.zip", bytes(split)


def zip64_field(*eights, disk=None):
    """APPNOTE 4.5.3: the ZIP64 extended information extra field with the values given."""
    data = b"".join(struct.pack("<Q", v) for v in eights) + (b"" if disk is None else struct.pack("<I", disk))
    return struct.pack("<HH", 0x0001, len(data)) + data


def zip64_archive(name, payload, crc, usize, flags=0, method=0, escape=("usize", "csize", "offset"),
                  central_extra=None, locator_offset=None, total_disks=1, records=True, entries=None,
                  descriptor=False, stamp=None):
    """One entry with its escaped central fields in a ZIP64 extra field, and the ZIP64
    end record and locator (APPNOTE 4.3.14, 4.3.15) unless `records` is false."""
    local_extra = zip64_field(0 if descriptor else usize, 0 if descriptor else len(payload))
    body = local_header(name, method, 0 if descriptor else crc, 0xFFFFFFFF, 0xFFFFFFFF, flags, local_extra,
                        stamp=stamp) + payload
    if descriptor:
        body += struct.pack("<IIQQ", 0x08074B50, crc, len(payload), usize)
    values = [v for key, v in (("usize", usize), ("csize", len(payload)), ("offset", 0)) if key in escape]
    extra = central_extra if central_extra is not None else zip64_field(
        *values, disk=0 if "disk" in escape else None)
    central = central_header(name, method, crc, 0xFFFFFFFF if "csize" in escape else len(payload),
                             0xFFFFFFFF if "usize" in escape else usize, 0xFFFFFFFF if "offset" in escape else 0,
                             flags, extra=extra, stamp=stamp, disk=0xFFFF if "disk" in escape else 0)
    cd_offset, count = len(body), 1 if entries is None else entries
    tail = b""
    if records:
        record_at = cd_offset + len(central)
        tail = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), cd_offset)
        tail += struct.pack("<IIQI", 0x07064B50, 0, record_at if locator_offset is None else locator_offset,
                            total_disks)
    return body + central + tail + end_record(0xFFFF, len(central), 0xFFFFFFFF)


def zip64_archives():
    """ZIP64 records and extra fields, sound and damaged."""
    plain = b"Kalvo3main under ZIP64 records\n" * 20
    crc = zlib.crc32(plain)
    sealed = encrypted(plain, PACKAGE_PASSWORD, crc >> 24)
    deflated = raw_deflate(plain)
    yield "zip64_sizes_and_offset_in_extra_field.zip", zip64_archive(b"Kalvo3main", sealed, crc, len(plain), flags=1)
    yield "zip64_deflated_with_disk_in_extra_field.zip", zip64_archive(
        b"Kalvo3main", deflated, crc, len(plain), method=8, escape=("usize", "csize", "offset", "disk"))
    yield "zip64_only_offset_escaped.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain), escape=("offset",))
    yield "zip64_only_uncompressed_size_escaped.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain),
                                                                    escape=("usize",))
    stamp = dos_stamp()
    yield "zip64_data_descriptor_encrypted.zip", zip64_archive(
        b"Kalvo3main", encrypted(deflated, PACKAGE_PASSWORD, (stamp >> 8) & 0xFF), crc, len(plain), flags=9,
        method=8, descriptor=True, stamp=stamp)
    yield "zip64_offset_escaped_without_locator.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain),
                                                                    records=False)
    yield "zip64_extra_field_cut_short.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain),
                                                           central_extra=zip64_field(len(plain)))
    yield "zip64_size_of_2_pow_63.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain), escape=("usize",),
                                                      central_extra=zip64_field(1 << 63))
    yield "zip64_offset_beyond_file.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain), escape=("offset",),
                                                        central_extra=zip64_field(1 << 40))
    yield "zip64_locator_points_beyond_file.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain),
                                                                locator_offset=1 << 62)
    yield "zip64_split_over_two_disks.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain), total_disks=2)
    yield "zip64_record_counts_2_pow_40_entries.zip", zip64_archive(b"Kalvo3main", plain, crc, len(plain),
                                                                    entries=1 << 40)
    # A self-extractor's stub in front, the offsets not adjusted (no zip -A): every
    # record lies that many bytes further on than recorded; the stub holds a stray
    # local header. Then the same with the directory cut short before the ZIP64 end record.
    stub = b"MZ" + bytes(range(256)) * 4 + local_header(b"stub-entry", 0, 0, 0, 0)
    sound = zip64_archive(b"Kalvo3main", sealed, crc, len(plain), flags=1)
    yield "zip64_behind_unadjusted_stub.zip", stub + sound
    record_at = sound.rfind(b"PK\x06\x06")
    yield "zip64_behind_unadjusted_stub_directory_cut_short.zip", stub + sound[:record_at - 10] + sound[record_at:]


def zip_tool_archives(work):
    """Packages made by Info-ZIP zip, as the installation makes them."""
    src = os.path.join(work, "src")
    os.makedirs(os.path.join(src, "folder", "deeper"))
    files = {"Kalvo3main": bytes((i * 31) & 0xFF for i in range(6000)),
             "KALVO3.IB": b"database page\0" * 400,
             "folder/readme.txt": b"a file in a folder\n" * 20,
             "folder/deeper/empty.txt": b""}
    for name, data in files.items():
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    runs = [
        ("package_kalvo3main_deflated_encrypted.zip", ["-q", "-P", PACKAGE_PASSWORD.decode(), "-X"], ["Kalvo3main"]),
        ("package_database_stored_encrypted.zip", ["-q", "-0", "-P", PACKAGE_PASSWORD.decode(), "-X"], ["KALVO3.IB"]),
        ("folders_recursive_plain.zip", ["-q", "-r", "-X"], ["folder", "Kalvo3main"]),
        ("archive_comment.zip", ["-q", "-X", "-z"], ["Kalvo3main"]),
        # -fz: ZIP64 extra fields, end record and locator, whatever the sizes.
        ("zip64_forced_deflated_encrypted.zip", ["-q", "-fz", "-P", PACKAGE_PASSWORD.decode(), "-X"],
         ["Kalvo3main", "KALVO3.IB"]),
    ]
    out = []
    for label, options, names in runs:
        target = os.path.join(work, label)
        stdin = b"an archive comment\n.\n" if "-z" in options else None
        subprocess.run(["zip", *options, target, *names], cwd=src, input=stdin, check=True,
                       stdout=subprocess.DEVNULL)
        with open(target, "rb") as f:
            out.append((label, f.read()))
    # Written to a pipe, zip cannot seek back: sizes and CRC go into data descriptors.
    piped = subprocess.run(["zip", "-q", "-P", PACKAGE_PASSWORD.decode(), "-", "Kalvo3main"], cwd=src,
                           check=True, stdout=subprocess.PIPE).stdout
    out.append(("streamed_with_data_descriptors.zip", piped))
    # From stdin into a file with -fz and -P: a ZIP64 data descriptor (24 bytes).
    target = os.path.join(work, "zip64_streamed_data_descriptor.zip")
    with open(os.path.join(src, "Kalvo3main"), "rb") as f:
        subprocess.run(["zip", "-q", "-fz", "-P", PACKAGE_PASSWORD.decode(), target, "-"], input=f.read(),
                       check=True, stdout=subprocess.DEVNULL)
    with open(target, "rb") as f:
        out.append(("zip64_streamed_data_descriptor.zip", f.read()))
    return out


def find_testdata(explicit):
    # The shared test data lies outside the repository, as shared/testdata beside the
    # checkout; scripts/testdata.sh exports KALV_TESTDATA for a clone made elsewhere.
    here = os.path.dirname(os.path.abspath(__file__))
    candidates = [explicit, os.environ.get("KALV_TESTDATA"),
                  os.path.join(here, "..", "..", "shared", "testdata")]
    for c in candidates:
        if c and os.path.isdir(os.path.join(c, "legacy")):
            return c
    return None


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    shutil.rmtree(out_dir, ignore_errors=True)
    corpus = Corpus(out_dir)
    archive_targets = ("fuzz_zip_directory", "fuzz_zip_extract")

    inflate_seeds(corpus)
    base64_seeds(corpus)
    profile_seeds(corpus)
    wild_match_seeds(corpus)
    for label, data in list(hostile_archives()) + list(zip64_archives()):
        for t in archive_targets:
            corpus.add(t, label, data)
    with tempfile.TemporaryDirectory() as work:
        for label, data in zip_tool_archives(work):
            for t in archive_targets:
                corpus.add(t, label, data)
            decoder_seeds_from_archive(corpus, label.rsplit(".", 1)[0], data)

    testdata = find_testdata(sys.argv[2] if len(sys.argv) > 2 else None)
    if testdata is None:
        print("make_seeds: legacy test archives not found; their seeds are left out", file=sys.stderr)
    else:
        legacy = os.path.join(testdata, "legacy")
        for name in sorted(os.listdir(legacy)):
            if not name.lower().endswith(".zip"):
                continue
            with open(os.path.join(legacy, name), "rb") as f:
                data = f.read()
            label = "legacy_" + name.rsplit(".", 1)[0]
            decoder_seeds_from_archive(corpus, label, data)
            if len(data) <= 48 * 1024:
                for t in archive_targets:
                    corpus.add(t, label + ".zip", data)
    decrypt_seeds(corpus)
    text_cipher_seeds(corpus)
    for target in sorted(os.listdir(out_dir)):
        print(f"make_seeds: {target}: {len(os.listdir(os.path.join(out_dir, target)))} seeds")


if __name__ == "__main__":
    main()
