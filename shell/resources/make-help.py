#!/usr/bin/env python3
"""Compiles Moss Lane's help source text into a Windows 3.1 help file.

    make-help.py SOURCE.txt OUTPUT.hlp

The source markup is described at the top of help/MossLane.help.txt.
The output is an internal file system holding |SYSTEM (title, contents
topic, browse buttons), |FONT, |TOPIC (one text record per paragraph, in
LZ77 blocks, no phrase compression), |CONTEXT (jump targets by hash),
|TTLBTREE (topic titles for the search dialog) and, when topics name
keywords, the keyword index |KWBTREE, |KWDATA and |KWMAP."""

import os
import re
import struct
import sys

ANSI = "cp1252"

# --- Source text ----------------------------------------------------------------


class SourceError(Exception):
    pass


class Topic:
    def __init__(self, title, context, line):
        self.title, self.context, self.line = title, context, line
        self.blocks = []     # (kind, runs): kind "para", "heading" or "item"
        self.keywords = []   # index entries that lead to this topic


INLINE = re.compile(r"\*\*(?P<bold>.+?)\*\*|\[(?P<label>[^\]]+)\]\((?P<target>[A-Za-z0-9_.]+)\)")
CONTEXT_ID = re.compile(r"^[A-Za-z0-9_.]+$")


def parse_runs(text, line):
    """Splits a paragraph into ("text", s), ("bold", s) and ("link", s, target) runs."""
    runs, pos = [], 0
    for m in INLINE.finditer(text):
        if m.start() > pos:
            runs.append(("text", text[pos:m.start()]))
        if m.group("bold") is not None:
            runs.append(("bold", m.group("bold")))
        else:
            runs.append(("link", m.group("label"), m.group("target"), line))
        pos = m.end()
    if pos < len(text):
        runs.append(("text", text[pos:]))
    for run in runs:
        if run[0] == "text" and ("**" in run[1] or "](" in run[1]):
            raise SourceError(f"line {line}: unbalanced markup in {run[1]!r}")
    return runs


def parse_source(source):
    """Returns (title, topics). Raises SourceError with the line number."""
    title, topics = None, []
    pending, pending_kind, pending_line = [], None, 0

    def flush():
        nonlocal pending, pending_kind
        if pending:
            text = " ".join(part.strip() for part in pending)
            topics[-1].blocks.append((pending_kind, parse_runs(text, pending_line)))
        pending, pending_kind = [], None

    for number, raw in enumerate(source.splitlines(), 1):
        line = raw.rstrip()
        if line.startswith("%"):
            continue
        if not line:
            flush()
            continue
        if not topics:
            m = re.match(r"^Title:\s*(.+)$", line)
            if m and title is None:
                title = m.group(1).strip()
                continue
            if not line.startswith("= "):
                raise SourceError(f"line {number}: text before the first topic")
        if line.startswith("= "):
            flush()
            m = re.match(r"^= (.+?)\s*\{([^}]*)\}$", line)
            if not m:
                raise SourceError(f"line {number}: a topic line needs a title and a {{context-id}}")
            if not CONTEXT_ID.match(m.group(2)):
                raise SourceError(f"line {number}: context id {m.group(2)!r} may hold only letters, digits, _ and .")
            topics.append(Topic(m.group(1), m.group(2), number))
        elif line.startswith("Keywords:"):
            flush()
            words = [w.strip() for w in line[len("Keywords:"):].split(";")]
            if not all(words):
                raise SourceError(f"line {number}: an empty keyword")
            topics[-1].keywords += words
        elif line.startswith("== "):
            flush()
            topics[-1].blocks.append(("heading", parse_runs(line[3:].strip(), number)))
        elif line.startswith("* "):
            flush()
            pending, pending_kind, pending_line = [line[2:]], "item", number
        elif raw[:1].isspace() and pending_kind == "item":
            pending.append(line)
        else:
            if pending_kind == "item":
                flush()
            if not pending:
                pending_kind, pending_line = "para", number
            pending.append(line)
    flush()

    if title is None:
        raise SourceError("no 'Title:' line")
    if not topics:
        raise SourceError("no topics")
    contexts = {}
    for t in topics:
        key = t.context.lower()     # the viewer's hash ignores case
        if key in contexts:
            raise SourceError(f"line {t.line}: context id {t.context!r} used twice")
        contexts[key] = t
        if not t.blocks:
            raise SourceError(f"line {t.line}: topic {t.title!r} has no text")
    for t in topics:
        for _, runs in t.blocks:
            for run in runs:
                if run[0] == "link" and run[2].lower() not in contexts:
                    raise SourceError(f"line {run[3]}: jump to unknown topic {run[2]!r}")
    texts = [title] + [t.title for t in topics] + [k for t in topics for k in t.keywords]
    for text in texts + [r[1] for t in topics for _, rs in t.blocks for r in rs]:
        try:
            text.encode(ANSI)
        except UnicodeEncodeError as e:
            raise SourceError(f"{text[:40]!r}: character {text[e.start]!r} has no place in the ANSI code page")
    return title, topics


# --- Encodings the viewer reads ------------------------------------------------------

# The viewer finds topics by a hash of their context id over this table.
HASH_TABLE = bytes([
    0x00, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0xF0, 0x0B, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0x0C, 0xFF,
    0x0A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0D,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x80, 0x81, 0x82, 0x83, 0x0B, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
])
assert len(HASH_TABLE) == 256


def context_hash(name):
    """Signed 32-bit hash of a context id; table entries count as signed bytes."""
    h = 0
    for byte in name.encode(ANSI):
        t = HASH_TABLE[byte]
        h = (h * 43 + (t - 256 if t >= 128 else t)) & 0xFFFFFFFF
    return h - (1 << 32) if h >= 1 << 31 else h


def cushort(v):
    """Compressed unsigned short: one byte below 128, else two."""
    assert 0 <= v < 0x8000
    return bytes([v * 2]) if v < 128 else struct.pack("<H", v * 2 + 1)


def csshort(v):
    """Compressed signed short: one byte for -64..63, else two."""
    assert -16384 <= v < 16384
    return bytes([(v + 64) * 2]) if -64 <= v < 64 else struct.pack("<H", (v + 16384) * 2 + 1)


def culong(v):
    """Compressed unsigned long: two bytes below 32768, else four."""
    assert 0 <= v < 0x80000000
    return struct.pack("<H", v * 2) if v < 0x8000 else struct.pack("<I", v * 2 + 1)


def stringz(text):
    return text.encode(ANSI) + b"\0"


# --- Fonts -------------------------------------------------------------------------------

FACES = ["Arial"]
FAM_SWISS = 3
# (bold, half points, colour) per descriptor, in the order the records use them.
FONT_BODY, FONT_TITLE, FONT_BOLD, FONT_HEADING = range(4)
FONTS = [
    (False, 20, (0, 0, 0)),
    (True, 28, (0x00, 0x60, 0x00)),
    (True, 20, (0, 0, 0)),
    (True, 22, (0x00, 0x60, 0x00)),
]
FACE_LEN = 20


def font_file():
    faces = b"".join(f.encode(ANSI).ljust(FACE_LEN, b"\0") for f in FACES)
    descriptors = b"".join(
        struct.pack("<BBBH3B3B", 1 if bold else 0, half_points, FAM_SWISS, 0, *rgb, 255, 255, 255)
        for bold, half_points, rgb in FONTS)
    header = struct.pack("<HHHH", len(FACES), len(FONTS), 8, 8 + len(faces))
    return header + faces + descriptors


# --- Topic records -----------------------------------------------------------------------------

TL_TOPICHDR, TL_DISPLAY = 0x02, 0x20
LINK_HEADER = 21           # BlockSize, DataLen2, PrevBlock, NextBlock, DataLen1, RecordType
TOPIC_BLOCK = 4096
BLOCK_HEADER = 12
BLOCK_SPACE = TOPIC_BLOCK - BLOCK_HEADER
# Each block holds LZ77 data that expands into a buffer of this size; positions
# in |TOPIC count in these buffers. Compressed blocks are what every viewer
# reads, so they are used even though the text is small.
DECOMPRESS_SIZE = 0x4000
# The zeros that pad a block expand too: leave them room in the buffer.
BLOCK_TEXT_LIMIT = DECOMPRESS_SIZE - 8 * BLOCK_SPACE // 9

# Paragraph layouts: (spacing above, spacing below, left indent, first-line indent).
LAYOUTS = {
    "title": (0, 8, 0, 0),
    "heading": (10, 4, 0, 0),
    "para": (4, 6, 0, 0),
    "item": (0, 4, 22, -10),
}


def paragraph_info(layout):
    above, below, left, first = LAYOUTS[layout]
    bits, fields = 0, b""
    for bit, value in ((0x0002, above), (0x0004, below), (0x0010, left), (0x0040, first)):
        if value:
            bits |= bit
            fields += csshort(value)
    return struct.pack("<BBHH", 0, 0x80, 0, bits) + fields


class TextRecord:
    """One paragraph: LinkData1 holds layout and formatting commands, LinkData2
    the strings printed between them (one string before every command)."""

    def __init__(self, layout, font):
        self.layout, self.base_font = layout, font
        self.strings, self.commands = [""], []
        self.command(bytes([0x80]) + struct.pack("<H", font))

    def command(self, code):
        self.commands.append(code)
        self.strings.append("")

    def text(self, s):
        self.strings[-1] += s

    def runs(self, runs):
        for run in runs:
            if run[0] == "text":
                self.text(run[1])
            elif run[0] == "bold":
                self.command(bytes([0x80]) + struct.pack("<H", FONT_BOLD))
                self.text(run[1])
                self.command(bytes([0x80]) + struct.pack("<H", self.base_font))
            else:
                # A topic jump: the viewer underlines the text up to the end mark.
                self.command(bytes([0xE3]) + struct.pack("<i", context_hash(run[2])))
                self.text(run[1])
                self.command(bytes([0x89]))
        return self

    def encode(self):
        self.command(bytes([0x82]))     # end of paragraph
        self.command(bytes([0xFF]))     # end of formatting
        self.strings.pop()              # nothing is printed after the end mark
        data2 = b"".join(stringz(s) for s in self.strings)
        formatting = b"".join(self.commands)
        data1 = culong(len(data2)) + cushort(len(data2)) + paragraph_info(self.layout) + formatting
        return data1, data2, len(data2)


class Link:
    def __init__(self, kind, data1, data2, chars=0, topic=None):
        self.kind, self.data1, self.data2, self.chars, self.topic = kind, data1, data2, chars, topic
        self.block = self.offset = None
        self.raw = None

    @property
    def size(self):
        return LINK_HEADER + len(self.data1) + len(self.data2)

    @property
    def pos(self):
        """TOPICPOS: block number times the buffer size, plus the place in the buffer."""
        return self.block * DECOMPRESS_SIZE + self.offset + BLOCK_HEADER


def topic_links(topics):
    """Header and text records per topic, then a closing header that marks the end."""
    links = []
    for number, t in enumerate(topics):
        t.number = number
        t.header = Link(TL_TOPICHDR, b"\0" * 28, stringz(t.title), topic=t)
        links.append(t.header)
        records = [TextRecord("title", FONT_TITLE).runs([("text", t.title)])]
        for kind, runs in t.blocks:
            if kind == "heading":
                records.append(TextRecord("heading", FONT_HEADING).runs(runs))
            elif kind == "item":
                records.append(TextRecord("item", FONT_BODY).runs([("text", "\u2022 ")] + runs))
            else:
                records.append(TextRecord("para", FONT_BODY).runs(runs))
        t.records = []
        for r in records:
            data1, data2, chars = r.encode()
            link = Link(TL_DISPLAY, data1, data2, chars, topic=t)
            t.records.append(link)
            links.append(link)
    links.append(Link(TL_TOPICHDR, b"\0" * 28, b"\0"))
    return links


def lz77(data):
    """The help file's LZ77: a flag byte per eight items, bit set for a
    (distance - 1, length - 3) word into the last 4096 bytes, else a literal."""
    out, i, n = bytearray(), 0, len(data)
    seen = {}
    def remember(k):
        if k + 3 <= n:
            seen.setdefault(bytes(data[k:k + 3]), []).append(k)
    while i < n:
        flag_at = len(out)
        out.append(0)
        for bit in range(8):
            if i >= n:
                break
            best_len, best_from = 0, 0
            limit = min(18, n - i)
            for j in reversed(seen.get(bytes(data[i:i + 3]), [])[-16:]):
                if i - j > 4096:
                    break
                # Only a candidate that beats the best so far is worth measuring.
                if best_len and data[j:j + best_len + 1] != data[i:i + best_len + 1]:
                    continue
                length = best_len + 1 if best_len else 3
                while length < limit and data[j + length] == data[i + length]:
                    length += 1
                if length > best_len:
                    best_len, best_from = length, j
                    if length == limit:
                        break
            if best_len >= 3:
                out[flag_at] |= 1 << bit
                out += struct.pack("<H", ((best_len - 3) << 12) | (i - best_from - 1))
                for k in range(i, i + best_len):
                    remember(k)
                i += best_len
            else:
                out.append(data[i])
                remember(i)
                i += 1
    return bytes(out)


def lay_out(links, space):
    """Places links into topic blocks: as many whole links as compress into
    space bytes; a link never spans two blocks."""
    block, first = 0, 0
    while first < len(links):
        if not fits(links[first:first + 1], space):
            raise SourceError(f"a paragraph of topic {links[first].topic.title!r} is too long for one block")
        # The longest run of links from first on that fits: grow, then halve.
        left = len(links) - first
        good, step = 1, 1
        while good < left and fits(links[first:first + min(good + step, left)], space):
            good = min(good + step, left)
            step *= 2
        while step > 1:
            step //= 2
            if good + step <= left and fits(links[first:first + good + step], space):
                good += step
        # A topic starts where its header is: keep the header with its first
        # text, so that the topic's offset counts in the block it is read from.
        if good > 1 and links[first + good - 1].kind == TL_TOPICHDR and first + good < len(links):
            good -= 1
        offset = 0
        for link in links[first:first + good]:
            link.block, link.offset = block, offset
            offset += link.size
        block, first = block + 1, first + good
    return block


def fits(links, space):
    size = sum(l.size for l in links)
    if size > BLOCK_TEXT_LIMIT:
        return False
    if size * 9 // 8 + 1 <= space:       # even all literals would fit
        return True
    return len(lz77(b"".join(l.raw or bytes(LINK_HEADER) + l.data1 + l.data2 for l in links))) <= space


def assign_offsets(links, topics):
    """TOPICOFFSET of each topic: block number * 0x8000 plus the characters of
    the text records before its header in that block."""
    chars, block = 0, -1
    for link in links:
        if link.block != block:
            block, chars = link.block, 0
        if link.kind == TL_TOPICHDR and link.topic is not None:
            link.topic.offset = block * 0x8000 + chars
        chars += link.chars
        if chars >= 0x8000:
            raise SourceError("too much text in one topic block")


def fill_headers(links, topics):
    for i, t in enumerate(topics):
        following = topics[i + 1].header if i + 1 < len(topics) else links[-1]
        size = t.header.size + sum(r.size for r in t.records)
        back = topics[i - 1].offset if i > 0 else -1
        forward = topics[i + 1].offset if i + 1 < len(topics) else -1
        t.header.data1 = struct.pack("<iiiiiii", size, back, forward, t.number, -1, t.records[0].pos, following.pos)
    end = links[-1]
    end.data1 = struct.pack("<iiiiiii", end.size, -1, -1, -1, -1, -1, -1)


def encode_links(links):
    for i, link in enumerate(links):
        prev = links[i - 1].pos if i > 0 else -1
        nxt = links[i + 1].pos if i + 1 < len(links) else -1
        data1_len = LINK_HEADER + len(link.data1)
        link.raw = struct.pack("<iiiiiB", link.size, len(link.data2), prev, nxt, data1_len, link.kind) + link.data1 + link.data2


def topic_file(topics):
    links = topic_links(topics)
    # Position fields change the compressed size a little: lay out again with
    # more room until every block fits.
    for margin in range(0, BLOCK_SPACE, 64):
        blocks = lay_out(links, BLOCK_SPACE - margin)
        assign_offsets(links, topics)
        fill_headers(links, topics)
        encode_links(links)
        packed = [lz77(b"".join(l.raw for l in links if l.block == b)) for b in range(blocks)]
        if all(len(p) <= BLOCK_SPACE for p in packed):
            break
    else:
        raise SourceError("topic blocks do not fit")
    out = bytearray()
    last_header = -1
    for b in range(blocks):
        in_block = [l for l in links if l.block == b]
        before = [l for l in links if l.block < b]
        last_link = before[-1].pos if before else -1
        out += struct.pack("<iii", last_link, in_block[0].pos, last_header)
        out += packed[b].ljust(BLOCK_SPACE, b"\0")
        headers = [l for l in in_block if l.kind == TL_TOPICHDR]
        if headers:
            last_header = headers[-1].pos
    return bytes(out)


# --- |SYSTEM ------------------------------------------------------------------------------------

def system_file(title, contents_offset):
    records = [
        (1, stringz(title)),
        (3, struct.pack("<i", contents_offset)),
        (4, stringz("BrowseButtons()")),
    ]
    out = struct.pack("<HHHiH", 0x036C, 21, 1, 0, 4)   # 4: LZ77 in 4k blocks
    for kind, data in records:
        out += struct.pack("<HH", kind, len(data)) + data
    return out


# --- B+ trees and the file system ----------------------------------------------------------------

def leaf_split(entries, page_size):
    """The entries of each leaf page, filled in order."""
    leaves, current, used = [], [], 8
    for key, value in entries:
        size = len(key) + len(value)
        if current and used + size > page_size:
            leaves.append(current)
            current, used = [], 8
        current.append(key + value)
        used += size
    leaves.append(current)
    return leaves


def btree(entries, structure, page_size, flags):
    """A B+ tree of at most two levels. entries: sorted (key bytes, value bytes)."""
    leaves = leaf_split(entries, page_size)
    pages = []
    for i, leaf in enumerate(leaves):
        body = b"".join(leaf)
        head = struct.pack("<Hhhh", page_size - 8 - len(body), len(leaf), i - 1 if i else -1,
                           i + 1 if i + 1 < len(leaves) else -1)
        pages.append((head + body).ljust(page_size, b"\0"))
    levels, root = 1, 0
    if len(leaves) > 1:
        # One index page: the first key of each later leaf and that leaf's number.
        index, n = b"", 0
        for i, leaf in enumerate(leaves[1:], 1):
            key = entries[sum(len(l) for l in leaves[:i])][0]
            index += key + struct.pack("<h", i)
            n += 1
        if 6 + len(index) > page_size:
            raise SourceError(f"B+ tree {structure!r} too large")
        pages.append((struct.pack("<Hhh", page_size - 6 - len(index), n, 0) + index).ljust(page_size, b"\0"))
        levels, root = 2, len(pages) - 1
    header = struct.pack("<HHH16shhhhhhi", 0x293B, flags, page_size, structure.encode().ljust(16, b"\0"),
                         0, 0, root, -1, len(pages), levels, len(entries))
    return header + b"".join(pages)


def file_header(content):
    return struct.pack("<iiB", len(content) + 9, len(content), 4) + content


def help_file(files):
    """files: {name: content}. Internal files first, the directory last."""
    offset, body, entries = 16, b"", []
    for name in sorted(files):
        entries.append((stringz(name), struct.pack("<i", offset)))
        chunk = file_header(files[name])
        body += chunk
        offset += len(chunk)
    directory = file_header(btree(entries, "z4", 1024, 0x0402))
    total = 16 + len(body) + len(directory)
    return struct.pack("<iiii", 0x00035F3F, 16 + len(body), -1, total) + body + directory


def keyword_files(topics):
    """|KWBTREE (keyword, count, place in |KWDATA), |KWDATA (topic offsets)
    and |KWMAP (number of the first keyword of each leaf page)."""
    # Viewers list and search keywords without regard to case: spellings that
    # differ only in case are one entry, shown as first written.
    places, spelling = {}, {}
    for t in topics:
        for k in t.keywords:
            spelling.setdefault(k.lower(), k)
            spots = places.setdefault(spelling[k.lower()], [])
            if t.offset not in spots:
                spots.append(t.offset)
    names = sorted(places, key=str.lower)
    entries, data = [], b""
    for k in names:
        entries.append((stringz(k), struct.pack("<hi", len(places[k]), len(data))))
        data += b"".join(struct.pack("<i", o) for o in places[k])
    page_size = 2048
    kwmap, first = b"", 0
    for page, leaf in enumerate(leaf_split(entries, page_size)):
        kwmap += struct.pack("<iH", first, page)
        first += len(leaf)
    return {"|KWBTREE": btree(entries, "F24", page_size, 0x0002), "|KWDATA": data, "|KWMAP": kwmap}


def compile_help(source):
    title, topics = parse_source(source)
    topics_data = topic_file(topics)
    contexts = sorted((context_hash(t.context), t.offset) for t in topics)
    titles = sorted((t.offset, t.title) for t in topics)
    files = {
        "|SYSTEM": system_file(title, topics[0].offset),
        "|FONT": font_file(),
        "|TOPIC": topics_data,
        "|CONTEXT": btree([(struct.pack("<i", h), struct.pack("<i", o)) for h, o in contexts], "L4", 2048, 0x0002),
        "|TTLBTREE": btree([(struct.pack("<i", o), stringz(s)) for o, s in titles], "Lz", 2048, 0x0002),
    }
    if any(t.keywords for t in topics):
        files.update(keyword_files(topics))
    return help_file(files)


def main(argv):
    if len(argv) != 3:
        print("usage: make-help.py SOURCE.txt OUTPUT.hlp", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            data = compile_help(f.read())
    except SourceError as e:
        print(f"{argv[1]}: {e}", file=sys.stderr)
        return 1
    tmp = argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
