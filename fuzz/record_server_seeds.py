#!/usr/bin/env python3
"""Records decoders_fuzz seeds from real servers: the first full-screen update
of a small test desktop from TigerVNC's Xvnc and from x11vnc, in each
compressed encoding and pixel format they serve, written as the target's
input layout (format index, piece size, then the update's rectangles).

The servers run on loopback on a display of their own and are stopped at
the end. Needs the packages of scripts/deps.sh.

Run from the repository root: python3 fuzz/record_server_seeds.py
"""
import os
import socket
import struct
import subprocess
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "decoders_fuzz")
WIDTH, HEIGHT = 160, 120
# The target's formats: 0 is 32-bit little-endian 16/8/0, 2 is RGB565.
FORMATS = {
    0: struct.pack(">BBBBHHHBBB3x", 32, 24, 0, 1, 255, 255, 255, 16, 8, 0),
    2: struct.pack(">BBBBHHHBBB3x", 16, 16, 0, 1, 31, 63, 31, 11, 5, 0),
}
# Name: the encodings announced (quality 7 lets Tight send JPEG).
ENCODINGS = {"zlib": [6], "tight": [7], "tightjpeg": [7, -32 + 7], "zrle": [16]}


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            return True
        except OSError:
            time.sleep(0.2)
    return False


def paint(display):
    env = dict(os.environ, DISPLAY=":%d" % display)
    image = tempfile.mktemp(suffix=".png")
    subprocess.run(["convert", "-size", "%dx%d" % (WIDTH, HEIGHT), "gradient:#102030-#a0c0e0",
                    "-fill", "#ff8000", "-draw", "rectangle 10,10 60,40",
                    "(", "-size", "50x40", "plasma:fractal", "-seed", "5", ")", "-geometry", "+90+60",
                    "-composite", image], check=True)
    viewer = subprocess.Popen(["display", "-window", "root", image], env=env)
    time.sleep(2)
    viewer.kill()
    os.unlink(image)


def first_update(port, fmt, encodings):
    s = socket.create_connection(("127.0.0.1", port), 5)
    s.settimeout(5)

    def read(n):
        out = b""
        while len(out) < n:
            chunk = s.recv(n - len(out))
            if not chunk:
                raise EOFError
            out += chunk
        return out

    read(12)
    s.sendall(b"RFB 003.003\n")
    if struct.unpack(">I", read(4))[0] != 1:
        raise RuntimeError("the server wants authentication")
    s.sendall(b"\x01")
    init = read(24)
    read(struct.unpack(">I", init[20:24])[0])
    s.sendall(b"\x00\x00\x00\x00" + FORMATS[fmt])
    s.sendall(struct.pack(">BBH", 2, 0, len(encodings)) + b"".join(struct.pack(">i", e) for e in encodings))
    s.sendall(struct.pack(">BBHHHH", 3, 0, 0, 0, WIDTH, HEIGHT))
    # The update is read until the server has been quiet for a while.
    data = b""
    s.settimeout(1.5)
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except socket.timeout:
        pass
    s.close()
    if len(data) < 4 or data[0] != 0:
        raise RuntimeError("no update")
    return data[4:]


def record(server, port):
    os.makedirs(ROOT, exist_ok=True)
    for name, encodings in ENCODINGS.items():
        if server == "xvnc" and name == "zlib":
            continue  # TigerVNC has no Zlib: it would send Raw
        for fmt in FORMATS:
            try:
                rects = first_update(port, fmt, encodings)
            except (OSError, RuntimeError, EOFError) as e:
                print("%s %s format %d: %s" % (server, name, fmt, e))
                continue
            path = os.path.join(ROOT, "server-%s-%s-f%d" % (server, name, fmt))
            with open(path, "wb") as f:
                f.write(bytes([fmt, 96]) + rects)
            print("%s: %d bytes" % (path, len(rects)))


def main():
    display = 77
    port = free_port()
    xvnc = subprocess.Popen(["Xvnc", ":%d" % display, "-geometry", "%dx%d" % (WIDTH, HEIGHT), "-depth", "24",
                             "-rfbport", str(port), "-interface", "127.0.0.1", "-nolisten", "tcp",
                             "-AlwaysShared", "-SecurityTypes", "None"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if wait_port(port):
            paint(display)
            record("xvnc", port)
    finally:
        xvnc.kill()
        xvnc.wait()

    display = 78
    port = free_port()
    xvfb = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", "%dx%dx24" % (WIDTH, HEIGHT),
                             "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    x11vnc = subprocess.Popen(["x11vnc", "-display", ":%d" % display, "-rfbport", str(port), "-listen",
                               "127.0.0.1", "-rfbportv6", "-1", "-forever", "-shared", "-nocursor",
                               "-noxrecord", "-nopw"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if wait_port(port):
            paint(display)
            time.sleep(2)
            record("x11vnc", port)
    finally:
        x11vnc.kill()
        xvfb.kill()
        x11vnc.wait()
        xvfb.wait()


if __name__ == "__main__":
    main()
