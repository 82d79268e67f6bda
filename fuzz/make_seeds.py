#!/usr/bin/env python3
"""Writes the seed inputs of the reader fuzz target into fuzz/seeds/.

An input is one flags byte (1 fast, 2 seek before the first pass, 4 seek after the first
frame), an 8-byte little-endian seek target, then the recording itself.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def header(frame_type, seconds, millis, length, magic=0xA815AA55):
    return struct.pack('<IBBHIII', magic, frame_type, 0, millis, seconds, 0, length) + bytes(12)


def frame(frame_type, seconds, millis, payload):
    return header(frame_type, seconds, millis, len(payload)) + payload


def prefix(flags, target):
    return bytes([flags]) + struct.pack('<Q', target)


def main():
    h264 = (frame(1, 100, 100, b'\x01' * 5)
            + frame(0, 100, 500, b'\x00\x00\x00\x01\x65' + b'\x10' * 20)
            + frame(1, 100, 540, b'\x22' * 7)
            + b'\x11' * 35
            + frame(0, 101, 20, b'')
            + frame(1, 103, 20, b'\x33' * 9))
    jpeg = b''.join(frame(3, 500 + i, 0, b'\xff\xd8' + bytes([i]) * 10 + b'\xff\xd9')
                    for i in range(6))
    damaged = (frame(0, 1, 1, b'\x44' * 8)
               + header(0, 1, 1, 0x80001) + b'\x55' * 40       # length over the limit
               + header(2, 1, 1, 4) + b'\x66' * 4              # a type no player takes
               + b'\x55\xaa\x15\xa8\x07' + b'\x00' * 27        # a magic with a bad header
               + frame(3, 2, 2, b'\x77' * 3)
               + header(1, 3, 3, 50) + b'\x88' * 10)           # payload cut short
    seeds = {
        'h264_gate_junk': prefix(0, 150) + h264,
        'h264_seek_first': prefix(2, 150) + h264,
        'h264_seek_after_fast': prefix(5, 40) + h264,
        'jpeg_pictures': prefix(0, 0) + jpeg,
        'damage_and_cut': prefix(4, 70) + damaged,
        'magic_inside_rejected_header': (prefix(0, 0) + b'\x13\x37' + b'\x55\xaa\x15\xa8'
                                         + b'\x00' * 39 + frame(0, 1, 1, b'\x01\x02')),
    }
    os.makedirs(os.path.join(HERE, 'seeds'), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, 'seeds', name), 'wb') as out:
            out.write(data)


if __name__ == '__main__':
    main()
