#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed corpus of fuzz_link into fuzz/corpus: valid module messages,
cut into chunks in the harness's input format (a control byte, then up to 63
bytes; bit 7 joins the next chunk's pass, bit 6 asks for a dispatch pass)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def frame(address, data):
    return bytes([0xBB, address, len(data)]) + bytes(data)


def status(value):
    return bytes([0xEE, value])


def chunks(stream, size=63, dispatch_every=True, join=False):
    out = bytearray()
    for i in range(0, len(stream), size):
        piece = stream[i:i + size]
        control = len(piece)
        if join and i + size < len(stream):
            control |= 0x80
        if dispatch_every or i + size >= len(stream):
            control |= 0x40
        out += bytes([control]) + piece
    return bytes(out)


def whole_map(hardware=1442, rng=0x00):
    image = bytearray(176)
    image[0] = 0x5A
    image[2:4] = struct.pack('<H', hardware)
    image[4:6] = struct.pack('<H', 210)
    image[6:12] = struct.pack('<hhh', 0, 0, 16384)
    image[18:24] = struct.pack('<hhh', 1200, -300, 8000)
    image[24:26] = struct.pack('<h', 1634)
    image[26:34] = struct.pack('<hhhh', 1000, 0, 0, 0)
    image[34:40] = struct.pack('<hhh', 4500, -1200, 17999)
    image[52] = 11
    image[54] = rng
    image[55:67] = struct.pack('<fff', 0.1, -0.2, 0.3)
    image[67:103] = struct.pack('<9f', 1, 0, 0, 0, 1, 0, 0, 0, 1)
    image[139:175] = struct.pack('<9f', 1, 0, 0, 0, 1, 0, 0, 0, 1)
    image[175] = 1
    return frame(0, image)


def measurement(seq):
    data = struct.pack('<hhh', 10, -20, 16000) + struct.pack('<hhh', seq, 5, -5)
    data += struct.pack('<hhh', 900, -900, 450) + struct.pack('<h', 1700)
    data += struct.pack('<hhhh', 707, 0, 707, 0) + struct.pack('<hhh', 100, 200, -300)
    return frame(6, data)


def request(kind, x, y=0, dispatch=False):
    """A request the link sends (see fuzz_link.cpp): kind bit 0 writes Control1 := x,
    otherwise a read of y bytes from x; bit 7 begins a new connection."""
    return bytes([0xC0 if dispatch else 0x80, kind, x, y])


def connect_sequence(mode=11):
    return request(0x81, 0) + request(0, 0, 176)


SEEDS = {
    'whole-map-1442': chunks(whole_map()),
    'whole-map-2542-one-pass': chunks(whole_map(2542, 0x1C), join=True),
    'stream-after-range': chunks(frame(2, struct.pack('<H', 1442)) + frame(54, [0x25]))
    + b''.join(chunks(measurement(s)) for s in range(1, 6)),
    'worked-example': chunks(bytes([0x00, 0xBB, 0x00, 0x02, 0x12, 0x34, 0xEE, 0x05, 0xBB, 0x10])),
    'frame-past-last-register': chunks(frame(0xA0, range(32)) + frame(0xFF, [1, 2, 3])),
    'byte-by-byte': chunks(whole_map()[:40] + measurement(7), size=1, dispatch_every=False),
    'noise-status-frames': chunks(bytes([0x13, 0x37, 0x00]) + status(0xBB) + measurement(1)
                                  + bytes([0x42]) + status(0xEE) + frame(52, [12])),
    'truncated-then-filler': chunks(measurement(2)[:9]) + b''.join(
        chunks(bytes([0x30 + i])) for i in range(11)) + chunks(bytes(range(0x40, 0x58))) + chunks(measurement(3)),
    'calibration-blocks': chunks(frame(0x37, struct.pack('<3f', 1.5, -2.5, 0.0))
                                 + frame(0x7F, struct.pack('<3f', float('nan'), float('inf'), -0.0))
                                 + frame(0x8B, struct.pack('<9f', *range(9)))),
    'empty-and-zero-count': chunks(frame(0x10, []) + status(0) + frame(0xAF, [7])),
    'connected-noise-headers': connect_sequence() + chunks(whole_map()) + request(0, 6, 34)
    + request(1, 11) + chunks(measurement(1) + bytes([0xBB, 0x40, 0x30]) + measurement(2)
                              + bytes([0xBB, 0x36, 0x01, 0xFF]) + measurement(3), size=7),
    'connected-cut-frames': connect_sequence() + chunks(whole_map(), size=5) + request(3, 12, 0x21)
    + chunks(frame(6, range(12))[:8] + frame(6, range(12)) + frame(6, range(34))[:20]
             + frame(6, range(12))) + request(0x80, 0, 0, True) + chunks(measurement(4)),
    'connected-range-read': connect_sequence() + request(1, 11) + request(0, 0x36, 1)
    + chunks(measurement(5)[:20] + frame(0x36, [0x20]) + measurement(6)),
}

os.makedirs(os.path.join(HERE, 'corpus'), exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(HERE, 'corpus', name), 'wb') as f:
        f.write(data)
print(f'{len(SEEDS)} seeds, {sum(len(d) for d in SEEDS.values())} bytes')
