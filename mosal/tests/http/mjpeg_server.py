#!/usr/bin/env python3
"""Picture-stream server for the HTTP client tests.

    mjpeg_server.py <directory> <count>

Writes <count> baseline JPEG pictures (pic1.jpg ...) of different sizes and
content into <directory>, then serves every GET on 127.0.0.1 and a port the
system chooses with a multipart/x-mixed-replace stream of those pictures:
each part is a boundary line, Content-Type, Content-Length, an empty line and
the picture, followed by CR LF CR LF. The stream is written in pieces of
varying size. Prints the port on its first line of output, then serves until
it is terminated. Standard library only.
"""
import http.server
import math
import os
import sys

ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48,
          41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22,
          15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55,
          62, 63]
QUANT = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40,
         57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24,
         35, 55, 64, 81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,
         112, 100, 103, 99]
DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
DC_VALS = list(range(12))
AC_BITS = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d]
AC_VALS = bytes.fromhex(
    "01020300041105122131410613516107227114328191a1082342b1c11552d1f0"
    "2433627282090a161718191a25262728292a3435363738393a43444546474849"
    "4a535455565758595a636465666768696a737475767778797a83848586878889"
    "8a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5"
    "c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8"
    "f9fa")


def huffman(bits, vals):
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[vals[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


DC_CODES = huffman(DC_BITS, DC_VALS)
AC_CODES = huffman(AC_BITS, AC_VALS)
COS = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)  # byte stuffing
                self.acc = self.n = 0

    def flush(self):
        while self.n:
            self.put(1, 1)  # pad with ones
        return bytes(self.out)


def category(v):
    v = abs(v)
    c = 0
    while v:
        c += 1
        v >>= 1
    return c


def magnitude_bits(v, c):
    return v if v >= 0 else v + (1 << c) - 1


def encode_block(block, prev_dc, bits):
    coeffs = [0] * 64
    for u in range(8):
        for v in range(8):
            s = 0.0
            for y in range(8):
                for x in range(8):
                    s += block[y * 8 + x] * COS[v][x] * COS[u][y]
            cu = math.sqrt(0.5) if u == 0 else 1.0
            cv = math.sqrt(0.5) if v == 0 else 1.0
            coeffs[u * 8 + v] = int(round(0.25 * cu * cv * s / QUANT[u * 8 + v]))
    zz = [coeffs[ZIGZAG[i]] for i in range(64)]
    diff = zz[0] - prev_dc
    c = category(diff)
    bits.put(*DC_CODES[c])
    if c:
        bits.put(magnitude_bits(diff, c), c)
    run = 0
    for k in range(1, 64):
        if zz[k] == 0:
            run += 1
            continue
        while run > 15:
            bits.put(*AC_CODES[0xF0])
            run -= 16
        c = category(zz[k])
        bits.put(*AC_CODES[(run << 4) | c])
        bits.put(magnitude_bits(zz[k], c), c)
        run = 0
    if run:
        bits.put(*AC_CODES[0x00])
    return zz[0]


def segment(marker, payload):
    return bytes([0xFF, marker]) + (len(payload) + 2).to_bytes(2, "big") + payload


def jpeg(width, height, seed):
    """A baseline, single-component JPEG of a seeded pattern."""
    pixels = [int(128 + 100 * math.sin((x * (seed + 1) + y * 3) / 7.0) * math.cos(y / (seed + 2.0)))
              for y in range(height) for x in range(width)]
    bits = Bits()
    dc = 0
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            block = [pixels[(by + y) * width + bx + x] - 128 for y in range(8) for x in range(8)]
            dc = encode_block(block, dc, bits)
    out = b"\xFF\xD8"
    out += segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    out += segment(0xDB, b"\x00" + bytes(QUANT[ZIGZAG[i]] for i in range(64)))
    out += segment(0xC0, b"\x08" + height.to_bytes(2, "big") + width.to_bytes(2, "big") + b"\x01\x01\x11\x00")
    out += segment(0xC4, b"\x00" + bytes(DC_BITS) + bytes(DC_VALS))
    out += segment(0xC4, b"\x10" + bytes(AC_BITS) + AC_VALS)
    out += segment(0xDA, b"\x01\x01\x00\x00\x3F\x00")
    out += bits.flush() + b"\xFF\xD9"
    return out


BOUNDARY = "tamvoframe"


def main():
    directory, count = sys.argv[1], int(sys.argv[2])
    pictures = []
    for i in range(1, count + 1):
        data = jpeg(8 * (2 + 3 * i), 8 * (2 + i), i)
        with open(os.path.join(directory, "pic%d.jpg" % i), "wb") as f:
            f.write(data)
        pictures.append(data)
    stream = b""
    for data in pictures:
        stream += b"--" + BOUNDARY.encode() + b"\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n" % len(data)
        stream += data + b"\r\n\r\n"

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "multipart/x-mixed-replace; boundary=" + BOUNDARY)
            self.end_headers()
            self.wfile.flush()
            pos, step = 0, 1
            while pos < len(stream):
                piece = stream[pos:pos + step]
                self.wfile.write(piece)
                self.wfile.flush()
                pos += len(piece)
                step = step * 7 % 1499 + 1  # pieces of changing size

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
