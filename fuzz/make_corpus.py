#!/usr/bin/env python3
"""Generates the hand-made starting inputs of each fuzz target, one folder per target.

Each seed is one small input in the target's own layout (see the comment at
the top of each target): handshakes with and without a password, one
rectangle of each encoding in each pixel format, colour maps, cut text, the
SOCKS replies the real proxies send, and line-mode streams. The bytes follow
what real servers and proxies were seen to send on loopback (x11vnc,
TigerVNC, dante, microsocks). Seeds named finding-* are inputs that once
made a target fail, and run-* the inputs of long fuzzing runs minimised by
coverage (libFuzzer's -merge=1); both are kept by hand, not written here.

Run from the repository root: python3 fuzz/make_corpus.py
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


def be16(v):
    return struct.pack(">H", v)


def be32(v):
    return struct.pack(">I", v)


# ---- Pixel formats ----

class Fmt:
    def __init__(self, bpp, depth, big, tc, rmax, gmax, bmax, rs, gs, bs):
        self.bpp, self.depth, self.big, self.tc = bpp, depth, big, tc
        self.max = (rmax, gmax, bmax)
        self.shift = (rs, gs, bs)

    def wire(self):
        return bytes([self.bpp, self.depth, self.big, self.tc]) + b"".join(be16(m) for m in self.max) + \
            bytes(list(self.shift) + [0, 0, 0])

    def pixel(self, rgb):
        v = 0
        for c, m, s in zip(rgb, self.max, self.shift):
            v |= (c * m // 255) << s
        n = self.bpp // 8
        return v.to_bytes(n, "big" if self.big else "little")


# The same table, in the same order, as engine_fuzz.cpp.
ENGINE_FORMATS = [
    Fmt(32, 24, 0, 255, 255, 255, 255, 16, 8, 0),  # x11vnc, Xvfb depth 24 (true-colour byte 255)
    Fmt(16, 16, 0, 1, 31, 63, 31, 11, 5, 0),  # depth 16
    Fmt(16, 15, 0, 1, 31, 31, 31, 10, 5, 0),  # depth 15
    Fmt(32, 30, 0, 1, 1023, 1023, 1023, 20, 10, 0),  # depth 30
    Fmt(8, 8, 0, 0, 0, 0, 0, 0, 0, 0),  # depth 8, colour-mapped
    Fmt(32, 24, 0, 1, 255, 255, 255, 0, 8, 16),  # TigerVNC -pixelformat bgr888
    Fmt(32, 24, 1, 1, 255, 255, 255, 16, 8, 0),
    Fmt(16, 16, 1, 1, 31, 63, 31, 11, 5, 0),
    Fmt(8, 8, 0, 1, 7, 7, 3, 0, 3, 6),
    Fmt(8, 6, 0, 1, 3, 3, 3, 4, 2, 0),
    Fmt(16, 12, 1, 1, 15, 15, 15, 8, 4, 0),
    Fmt(32, 24, 1, 1, 255, 255, 255, 0, 8, 16),
]
EIGHT_BIT = Fmt(8, 8, 0, 1, 7, 7, 3, 0, 3, 6)

# The same table as decoders_fuzz.cpp.
DECODER_FORMATS = [
    Fmt(32, 24, 0, 1, 255, 255, 255, 16, 8, 0),
    Fmt(32, 24, 1, 1, 255, 255, 255, 0, 8, 16),
    Fmt(16, 16, 0, 1, 31, 63, 31, 11, 5, 0),
    Fmt(16, 15, 1, 1, 31, 31, 31, 10, 5, 0),
    EIGHT_BIT,
]

RED, GREEN, BLUE, WHITE, GREY = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (128, 128, 128)

# ---- Rectangles ----


def rect_header(x, y, w, h, enc):
    return be16(x) + be16(y) + be16(w) + be16(h) + struct.pack(">i", enc)


def raw_rect(f, x, y, w, h):
    colours = [RED, GREEN, BLUE, WHITE]
    body = b"".join(f.pixel(colours[(i + j) % 4]) for j in range(h) for i in range(w))
    return rect_header(x, y, w, h, 0) + body


def copyrect(x, y, w, h, sx, sy):
    return rect_header(x, y, w, h, 1) + be16(sx) + be16(sy)


def rre_rect(f, x, y, w, h):
    subs = [(RED, 0, 0, 2, 2), (BLUE, w - 3, h - 2, 3, 2)]
    body = be32(len(subs)) + f.pixel(GREY)
    for c, sx, sy, sw, sh in subs:
        body += f.pixel(c) + be16(sx) + be16(sy) + be16(sw) + be16(sh)
    return rect_header(x, y, w, h, 2) + body


def corre_rect(f, x, y, w, h):
    subs = [(GREEN, 1, 1, 3, 2), (WHITE, 0, h - 1, w, 1)]
    body = be32(len(subs)) + f.pixel(GREY)
    for c, sx, sy, sw, sh in subs:
        body += f.pixel(c) + bytes([sx, sy, sw, sh])
    return rect_header(x, y, w, h, 4) + body


def hextile_rect(f, x, y, w, h):
    # Two tiles across: a raw tile, then background + foreground + subrects,
    # then a tile of coloured subrects reusing the background.
    assert w == 20 and h == 6
    tiles = b""
    # tile 1: 16x6 raw
    tiles += bytes([1]) + b"".join(f.pixel([RED, GREEN][(i + j) % 2]) for j in range(6) for i in range(16))
    # tile 2: 4x6 background, foreground, two mono subrects
    tiles += bytes([2 | 4 | 8]) + f.pixel(BLUE) + f.pixel(WHITE) + bytes([2, 0x00, 0x11, 0x22, 0x10])
    body = tiles
    second = bytes([8 | 16, 2]) + f.pixel(RED) + bytes([0x00, 0x11]) + f.pixel(GREEN) + bytes([0x33, 0x00])
    return rect_header(x, y, w, h, 5) + body, rect_header(x, y + 6, 8, 4, 5) + second


def update(*rects):
    return bytes([0, 0]) + be16(len(rects)) + b"".join(rects)


# ---- Engine seeds ----

def engine_header(takeover, password=False, eight=False, codec=0, piece=0xFF, width=32, height=24, fmt=0,
                  raw_format=None, name=b"desk"):
    b0 = takeover | (4 if password else 0) | (8 if eight else 0) | (codec << 4) | (0x80 if raw_format else 0)
    h = bytes([b0, piece]) + be16(width) + be16(height) + bytes([fmt])
    if raw_format:
        h += raw_format
    return h + bytes([len(name)]) + name


def engine_seeds():
    serverinit_1024 = be16(1024) + be16(768) + ENGINE_FORMATS[0].wire() + be32(4) + b"desk"
    # Handshakes, the input holding everything after the version.
    write("engine_fuzz", "handshake-none", engine_header(1) + be32(1) + serverinit_1024)
    write("engine_fuzz", "handshake-password", engine_header(1) + be32(2) + bytes(range(16)) + be32(0) +
          serverinit_1024)
    write("engine_fuzz", "handshake-wrong-password", engine_header(1) + be32(2) + bytes(range(16)) + be32(1))
    reason = b"Too many security failures"
    write("engine_fuzz", "handshake-scheme0-reason", engine_header(1) + be32(0) + be32(len(reason)) + reason)
    write("engine_fuzz", "handshake-bytewise", engine_header(1, piece=0) + be32(1) + serverinit_1024)
    long_name = b"N" * 300
    write("engine_fuzz", "serverinit-name-300", engine_header(2) + be16(800) + be16(600) +
          ENGINE_FORMATS[5].wire() + be32(300) + long_name)
    for i, f in enumerate(ENGINE_FORMATS):
        write("engine_fuzz", "serverinit-format%02d" % i, engine_header(2, password=(i % 2 == 1)) + be16(64) +
              be16(48) + f.wire() + be32(6) + b"Xvfb:1")
    # One rectangle of each encoding in each format.
    for i, server in enumerate(ENGINE_FORMATS):
        f = server if server.tc else EIGHT_BIT
        cases = {
            "raw": (0, update(raw_rect(f, 2, 3, 5, 4))),
            "copyrect": (1, update(raw_rect(f, 0, 0, 4, 4), copyrect(10, 10, 4, 4, 0, 0))),
            "rre": (2, update(rre_rect(f, 1, 1, 10, 8))),
            "corre": (3, update(corre_rect(f, 4, 2, 8, 6))),
            "hextile": (4, update(*hextile_rect(f, 0, 0, 20, 6))),
        }
        for name, (codec, body) in cases.items():
            write("engine_fuzz", "f%02d-%s" % (i, name), engine_header(0, codec=codec, fmt=i) + body)
    # The 8-bit format asked for by the viewer, from a 32-bit server.
    write("engine_fuzz", "eightbit-raw", engine_header(0, eight=True) + update(raw_rect(EIGHT_BIT, 0, 0, 6, 2)))
    write("engine_fuzz", "eightbit-hextile", engine_header(0, eight=True, codec=4) +
          update(*hextile_rect(EIGHT_BIT, 4, 4, 20, 6)))
    # Colour map (x11vnc at depth 8 sends 256 entries before any request),
    # then an update in the 8-bit true-colour format.
    colours = b"".join(be16(i * 257) + be16((255 - i) * 257) + be16((i * 7 % 256) * 257) for i in range(256))
    write("engine_fuzz", "colourmap-256", engine_header(0, fmt=4) + bytes([1, 0]) + be16(0) + be16(256) + colours +
          update(raw_rect(EIGHT_BIT, 0, 0, 2, 2)))
    write("engine_fuzz", "colourmap-split", engine_header(0, fmt=4, piece=5) + bytes([1, 0]) + be16(16) +
          be16(3) + colours[:18] + bytes([2]))
    text = b"clipboard text from the server"
    write("engine_fuzz", "cuttext", engine_header(0) + bytes([3, 0, 0, 0]) + be32(len(text)) + text)
    write("engine_fuzz", "cuttext-nul", engine_header(0) + bytes([3, 0, 0, 0]) + be32(7) + b"abc\0def")
    write("engine_fuzz", "bell-then-update", engine_header(0) + bytes([2]) +
          update(raw_rect(ENGINE_FORMATS[0], 0, 0, 1, 1)))
    write("engine_fuzz", "update-empty", engine_header(0) + update())
    write("engine_fuzz", "update-outside", engine_header(0) + update(raw_rect(ENGINE_FORMATS[0], 30, 22, 4, 4)))
    write("engine_fuzz", "encodings-3-16", engine_header(0) + update(rect_header(0, 0, 4, 4, 3),
                                                                       rect_header(0, 0, 4, 4, 16)))
    write("engine_fuzz", "unknown-message", engine_header(0) + bytes([9, 1, 2, 3]))
    # A pixel format taken from the input.
    odd = Fmt(32, 24, 1, 1, 255, 255, 255, 24, 16, 8).wire()
    write("engine_fuzz", "format-from-input", engine_header(0, raw_format=odd) +
          update(raw_rect(Fmt(32, 24, 1, 1, 255, 255, 255, 24, 16, 8), 0, 0, 3, 3)))
    write("engine_fuzz", "format-bad-bpp", engine_header(0, raw_format=Fmt(24, 24, 0, 1, 255, 255, 255, 16, 8,
                                                                            0).wire()))


# ---- Decoder seeds ----

# ---- Security negotiation seeds ----

def security_seeds():
    """The negotiations TigerVNC's Xvnc and x11vnc were seen to run on loopback
    (what came before TLS, and after it as the session reads it)."""
    si = be16(320) + be16(200) + ENGINE_FORMATS[0].wire() + be32(7) + b"root@vm"
    ok = be32(0)
    challenge = bytes(range(16))
    reason = b"Authentication failure"
    # byte 0: bits 0-1 the version (0 3.3, 1 3.7, 2 3.8), bits 2-4 the list
    def seed(name, version, lst, stream, piece=0xFF):
        write("security_fuzz", name, bytes([version | (lst << 2), piece]) + stream)
    v38, v37, v33 = b"RFB 003.008\n", b"RFB 003.007\n", b"RFB 003.003\n"
    xvnc_types = bytes([3, 19, 2, 1])
    xvnc_subtypes = bytes([6]) + b"".join(be32(t) for t in (261, 258, 260, 257, 2, 1))
    vencrypt = bytes([0, 2]) + bytes([0]) + xvnc_subtypes + bytes([1])
    seed("xvnc-x509vnc", 2, 0, v38 + xvnc_types + vencrypt + challenge + ok + si)
    seed("xvnc-x509vnc-wrong-password", 2, 0, v38 + xvnc_types + vencrypt + challenge + be32(1) + be32(len(reason)) +
         reason)
    seed("xvnc-tlsvnc-bytewise", 2, 7, v38 + xvnc_types + vencrypt + challenge + ok + si, piece=0)
    seed("xvnc-vncauth", 2, 2, v38 + bytes([1, 2]) + challenge + ok + si)
    seed("xvnc-none-38", 2, 1, v38 + bytes([1, 1]) + ok + si)
    seed("xvnc-none-37", 1, 1, v38 + bytes([1, 1]) + si)
    seed("xvnc-plain", 2, 3, v38 + bytes([1, 19]) + bytes([0, 2, 0, 1]) + be32(256) + ok + si)
    seed("xvnc-tlsplain", 2, 4, v38 + bytes([1, 19]) + bytes([0, 2, 0, 1]) + be32(259) + bytes([1]) + ok + si)
    seed("xvnc-33-scheme", 0, 0, v38 + be32(2) + challenge + ok + si)
    seed("x11vnc-ssl", 2, 0, v38 + bytes([2, 19, 18]) + bytes([0, 2, 0, 2]) + be32(258) + be32(261) + bytes([1]) +
         challenge + ok + si)
    seed("anontls-inner", 2, 5, v38 + bytes([1, 18]) + bytes([2, 1, 2]) + challenge + ok + si)
    seed("types-empty-reason", 2, 0, v38 + bytes([0]) + be32(len(reason)) + reason)
    seed("version-apple", 2, 0, b"RFB 003.889\n" + bytes([1, 2]) + challenge + ok + si)
    seed("version-old", 2, 0, b"RFB 003.005\n" + be32(1) + si)
    seed("version-refused", 2, 0, b"RFB 002.000\n")
    seed("v37-vncauth-fail", 1, 2, v37 + bytes([1, 2]) + challenge + be32(1))
    seed("v33-none", 0, 1, v33 + be32(1) + si)


def cpixel(f, c):
    # ZRLE's and TRLE's compact pixel: three bytes of a 32-bit pixel of
    # depth 24 whose colour fits in its low bytes, otherwise the pixel.
    p = f.pixel(c)
    if f.bpp == 32 and f.depth <= 24:
        return p[1:4] if f.big else p[0:3]
    return p


def trle_rects(f):
    # Two 16x16 tiles: a packed palette, then the same palette reused; then
    # palette runs, reused palette runs, plain runs, a solid and a raw tile.
    packed = b"".join(bytes([0b10101010 if j % 2 else 0b11001100, 0x0F]) for j in range(16))
    first = bytes([2]) + cpixel(f, RED) + cpixel(f, BLUE) + packed + bytes([127]) + packed
    runs = bytes([130]) + cpixel(f, GREEN) + cpixel(f, WHITE) + bytes([0x80, 254, 1])  # 255 + 1 pixels
    again = bytes([129, 0x81, 255, 0])  # 256 pixels of white
    plain = bytes([128]) + cpixel(f, GREY) + bytes([99]) + cpixel(f, RED) + bytes([155])
    solid = bytes([1]) + cpixel(f, BLUE)
    raw = bytes([0]) + b"".join(cpixel(f, [RED, GREEN][(i + j) % 2]) for j in range(4) for i in range(4))
    return (rect_header(0, 0, 32, 16, 15) + first + rect_header(32, 0, 16, 16, 15) + runs +
            rect_header(0, 16, 16, 16, 15) + again + rect_header(16, 16, 16, 16, 15) + plain +
            rect_header(32, 16, 16, 16, 15) + solid + rect_header(48, 16, 4, 4, 15) + raw)


def decoder_seeds():
    for i, f in enumerate(DECODER_FORMATS):
        for piece in (0, 96):
            tag = "f%d-%s" % (i, "bytewise" if piece == 0 else "whole")
            write("decoders_fuzz", tag + "-raw", bytes([i, piece]) + raw_rect(f, 3, 2, 6, 5))
            write("decoders_fuzz", tag + "-copyrect", bytes([i, piece]) + raw_rect(f, 0, 0, 4, 4) +
                  copyrect(8, 8, 4, 4, 0, 0))
            write("decoders_fuzz", tag + "-rre", bytes([i, piece]) + rre_rect(f, 1, 1, 10, 8))
            write("decoders_fuzz", tag + "-corre", bytes([i, piece]) + corre_rect(f, 4, 2, 8, 6))
            a, b = hextile_rect(f, 0, 0, 20, 6)
            write("decoders_fuzz", tag + "-hextile", bytes([i, piece]) + a + b)
            write("decoders_fuzz", tag + "-trle", bytes([i, piece]) + trle_rects(f))


# ---- SOCKS seeds ----

def pieces(*ps):
    out = b""
    for p in ps:
        while p:
            chunk, p = p[:64], p[64:]
            out += bytes([len(chunk) - 1]) + chunk
    return out


def socks_b0(level, auth=False, user=False, reset=False, read=0):
    return bytes([{"4": 0, "4A": 1, "5": 2}[level] | (4 if auth else 0) | (8 if user else 0) |
                  (16 if reset else 0) | (read << 5)])


def socks_seeds():
    v5_ok = bytes([5, 0, 0, 1, 127, 0, 0, 1, 0x17, 0x0C])
    v5_zero = bytes([5, 0, 0, 1, 0, 0, 0, 0, 0, 0])  # microsocks: bound address and port zero
    rfb = b"RFB 003.008\n"
    s = "socks_fuzz"
    write(s, "v5-dante-granted", socks_b0("5") + pieces(b"\x05\x00", v5_ok))
    write(s, "v5-microsocks-granted-with-data", socks_b0("5") + pieces(b"\x05\x00", v5_zero + rfb))
    write(s, "v5-granted-data-read-bytewise", socks_b0("5", read=1) + pieces(b"\x05\x00", v5_ok + rfb, b"more"))
    write(s, "v5-auth-granted", socks_b0("5", auth=True, user=True) + pieces(b"\x05\x02", b"\x01\x00", v5_ok + rfb))
    write(s, "v5-auth-bad-dante", socks_b0("5", auth=True, user=True) + pieces(b"\x05\x02", b"\x01\x01"))
    write(s, "v5-auth-bad-microsocks", socks_b0("5", auth=True, user=True) + pieces(b"\x05\x02", b"\x01\x02"))
    write(s, "v5-auth-closed", socks_b0("5", auth=True, user=True) + pieces(b"\x05\x02"))
    write(s, "v5-auth-not-required", socks_b0("5", auth=True, user=True) + pieces(b"\x05\x00", v5_ok))
    write(s, "v5-method-refused", socks_b0("5") + pieces(b"\x05\xff"))
    write(s, "v5-auth-offered-to-noauth-proxy", socks_b0("5", auth=True) + pieces(b"\x05\xff"))
    write(s, "v5-closed-port", socks_b0("5") + pieces(b"\x05\x00", bytes([5, 5, 0, 1, 0, 0, 0, 0, 0, 0])))
    write(s, "v5-ruleset-name", socks_b0("5") + pieces(b"\x05\x00", bytes([5, 2, 0, 3, 9]) + b"127.0.0.1" +
                                                      be16(5900)))
    write(s, "v5-granted-name", socks_b0("5") + pieces(b"\x05\x00", bytes([5, 0, 0, 3, 11]) + b"vnc.example" +
                                                      be16(5900) + rfb))
    write(s, "v5-host-unreachable", socks_b0("5") + pieces(b"\x05\x00", bytes([5, 4, 0, 1, 0, 0, 0, 0, 0, 0])))
    write(s, "v5-general-failure", socks_b0("5") + pieces(b"\x05\x00", bytes([5, 1, 0, 1, 0, 0, 0, 0, 0, 0])))
    write(s, "v5-ipv6-type", socks_b0("5") + pieces(b"\x05\x00", bytes([5, 0, 0, 4]) + bytes(18)))
    write(s, "v5-reply-bytewise", socks_b0("5", auth=True, user=True) +
          pieces(*[bytes([b]) for b in b"\x05\x02\x01\x00" + v5_ok]))
    write(s, "v5-reset", socks_b0("5", reset=True) + pieces(b"\x05"))
    write(s, "v4-to-microsocks", socks_b0("4") + pieces(b"\x05\xff"))
    v4_ok = bytes([0, 90, 0x17, 0x0C, 127, 0, 0, 1])
    write(s, "v4-dante-granted", socks_b0("4", user=True) + pieces(v4_ok + rfb))
    write(s, "v4-granted-split", socks_b0("4") + pieces(v4_ok[:3], v4_ok[3:] + rfb[:4], rfb[4:]))
    write(s, "v4a-dante-rejected", socks_b0("4A") + pieces(bytes([0, 91, 0, 0, 0, 0, 0, 0])))
    write(s, "v4a-perl-granted", socks_b0("4A", user=True) + pieces(v4_ok, rfb))
    write(s, "v4-refused-92", socks_b0("4") + pieces(bytes([0, 92, 0, 0, 0, 0, 0, 0])))
    write(s, "v4-ident-93", socks_b0("4") + pieces(bytes([0, 93, 0, 0, 0, 0, 0, 0])))
    write(s, "v4-unassigned-95", socks_b0("4") + pieces(bytes([0, 95, 0, 0, 0, 0, 0, 0])))


# ---- Line mode seeds ----

def line_seed(end=0, reset=False, steps=(0,), edit=False, echo=False, limit=0, keep=False, start_off=False,
              stream=()):
    b0 = end | (8 if reset else 0) | ((len(steps) - 1) << 4)
    b1 = (1 if edit else 0) | (2 if echo else 0) | (limit << 2) | (32 if keep else 0) | (64 if start_off else 0)
    return bytes([b0, b1]) + bytes(steps) + pieces(*stream)


def line_seeds():
    s = "line_fuzz"
    write(s, "crlf-lines", line_seed(stream=[b"AB\r\nCD", b"\r\nEF"]))
    write(s, "crlf-split-marker", line_seed(stream=[b"hello\r", b"\nworld\r\n"]))
    write(s, "lf-many-lines", line_seed(end=1, stream=[b"a\nbb\nccc\n\n"]))
    write(s, "no-marker", line_seed(end=2, stream=[b"raw bytes\r\n"]))
    write(s, "nul-marker", line_seed(end=3, stream=[b"one\0two\0"]))
    write(s, "long-marker", line_seed(end=5, stream=[b"head\r\n", b"\r\nbody\r", b"\n\r\n"]))
    write(s, "edit-backspace", line_seed(edit=True, stream=[b"ab\x08c\r\n"]))
    write(s, "edit-echo-backspace", line_seed(edit=True, echo=True, stream=[b"ab\x08c\r\n"]))
    write(s, "edit-tab", line_seed(edit=True, echo=True, stream=[b"\tx\r\n", b"abc\ty\r\n"]))
    write(s, "edit-backspace-earlier-read", line_seed(edit=True, stream=[b"abc", b"\x08\x08\x08\x08z\r\n"]))
    write(s, "echo-plain", line_seed(echo=True, stream=[b"echo me\r\n"]))
    write(s, "limit-10", line_seed(limit=5, stream=[b"0123456789A"]))
    write(s, "limit-keep", line_seed(limit=4, keep=True, stream=[b"123456", b"78\r\n"]))
    write(s, "read-in-parts", line_seed(steps=(1 | (2 << 3),), stream=[b"line one\r\nline two\r\n"]))
    write(s, "read-nothing-drops", line_seed(steps=(2, 0), stream=[b"dropped\r\nkept\r\n"]))
    write(s, "mode-off-in-handler", line_seed(steps=(3, 0), stream=[b"AB\r\nCD", b"EF\r\n"]))
    write(s, "mode-on-later", line_seed(steps=(4, 0), start_off=True, stream=[b"xy", b"z\r\nw\r\n"]))
    write(s, "part-then-toggle", line_seed(steps=(5 | (1 << 3), 0), stream=[b"abcdef\r\nghi\r\n"]))
    write(s, "new-marker", line_seed(steps=(7 | (1 << 3), 0), stream=[b"a\r\nb\nc\n"]))
    write(s, "close-last-line", line_seed(stream=[b"xyz"]))
    write(s, "reset-last-line", line_seed(reset=True, stream=[b"xyz"]))


if __name__ == "__main__":
    engine_seeds()
    security_seeds()
    decoder_seeds()
    socks_seeds()
    line_seeds()
