#!/usr/bin/env python3
"""Writes the seed corpora of the fuzzers (corpus/*/), small valid inputs
from which the fuzzers start. Run again after changing an input layout."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(bytes(data))


def s32(v):
    return struct.pack("<i", v)


def u32(v):
    return struct.pack("<I", v)


def long_frame(body):
    return bytes([0x68, len(body), len(body), 0x68]) + bytes(body) + bytes(
        [sum(body) & 0xFF, 0x16])


def short_frame(station, status):
    return bytes([0x10, station, status, (station + status) & 0xFF, 0x16])


# ---- fuzz_address: way, dataType, blockSize, fields of the way, then text
SINGLE, BLOCK, DIRECT, DIGITS = 0, 1, 2, 3
write("address", "single_uint16", [SINGLE] + list(u32(0) + s32(0)) + list(b"0110"))
write("address", "single_int16_lower", [SINGLE] + list(u32(1) + s32(0)) + list(b"fa35"))
write("address", "single_int32", [SINGLE] + list(u32(3) + s32(0)) + list(b"0121"))
write("address", "single_bit", [SINGLE] + list(u32(6) + s32(0)) + list(b"011007"))
write("address", "single_cycle", [SINGLE] + list(u32(1) + s32(0)) + list(b"01F2"))
write("address", "block", [BLOCK] + list(u32(1) + s32(4)) + list(b"01F0"))
write("address", "direct_bit_32", [DIRECT] + list(u32(6)) + [3, 1, 0x10, 3, 0] + list(b"011031"))
write("address", "digits_hex", [DIGITS, 2, ord("H")] + list(b"1F"))
write("address", "digits_dec", [DIGITS, 2, ord("D")] + list(b"07"))

# ---- fuzz_receive: flags, station, index, width, failures, limits, line
def receive(name, short, station, index, width, line, failures=0, limits=()):
    write("receive", name, [1 if short else 0, station, index, width & 0xFF,
                            failures, len(limits)] + list(limits) + list(line))

receive("long16", False, 0x01, 0x10, 2,
        long_frame([0x01, 0x00, 0x10, 0x01, 0x01, 0x00, 0x34, 0x12]))
receive("long8_noext", False, 0x01, 0x35, 1, long_frame([0x01, 0x00, 0x35, 0x7F]))
receive("long32", False, 0x01, 0x21, 3,
        long_frame([0x01, 0x80, 0x21, 0x01, 0x01, 0x00, 0x40, 0xE2, 0x01, 0x00]))
receive("cycle", False, 0x0A, 0xF0, 2,
        long_frame([0x0A, 0x00, 0x10, 0x01, 0x20, 0x02, 0x33, 0x40, 0x04]))
receive("short_in_long", False, 0x01, 0x10, 2, [0x10, 0x01, 0xA0, 0xA1, 0x16])
receive("long_chunked", False, 0x01, 0x10, 2,
        long_frame([0x01, 0x00, 0x10, 0x01, 0x01, 0x00, 0x34, 0x12]),
        limits=(1, 4, 9))
receive("ack", True, 0x01, 0x10, 2, short_frame(0x01, 0x00))
receive("status_f5", True, 0x05, 0xF5, 1, short_frame(0x05, 0x88))
receive("service_request", True, 0x01, 0x10, 2, short_frame(0x01, 0x80))

# ---- fuzz_kavimain: command-part length, commands, then the line's part
def parse_request(data_type, block_size=0):
    return bytes(8) + u32(0) + u32(data_type) + s32(block_size) + bytes(20)


def io_request(station, width, index, bit, bits, data_type):
    record = bytes(8) + u32(0) + b"".join(
        s32(v) for v in (station, width, index, bit, bits, data_type))
    return record + bytes(56 - len(record))


def command(code, record, address=None, slot=None, nulls=0, raw=None):
    out = bytes([code]) + (u32(raw) if raw is not None else b"") + bytes([nulls])
    if address is not None:
        out += bytes([len(address)]) + address
    out += record
    if slot is not None:
        out += slot
    return out


def kavimain(name, commands, line=b""):
    body = b"".join(commands)
    write("kavimain", name, struct.pack("<H", len(body)) + body + line)


cold = b"COM1" + bytes(8) + u32(1) + u32(50) + struct.pack("<hHHH", 9600, 8, 0, 2)
kavimain("declare_read_write", [
    command(3, parse_request(1), b"0110"),
    command(5, io_request(1, 2, 0x10, -1, 16, 1), b"0110", bytes(4)),
    command(7, io_request(1, 2, 0x10, -1, 16, 1), b"0110", b"\0\0\x34\x12"),
], line=bytes([1, 0x00, 0x34, 0x12, 1, 0x00]))
kavimain("bit_write_service", [
    command(7, io_request(1, 1, 0x35, 3, 1, 6), b"013503", b"\0\0\1\0"),
], line=bytes([1, 0x00, 0xA0, 1, 0x80, 1, 0x00, 0xA8]))
kavimain("block_and_status", [
    command(4, parse_request(1, 4), b"01F0"),
    command(6, io_request(1, 2, 0xF0, -1, 16, 1), b"01F0", bytes(8)),
    command(5, io_request(1, 1, 0xF5, -1, 16, 0), b"01F5", bytes(4)),
], line=bytes([1, 0x00, 0x34, 0x12, 0x78, 0x56, 0x9C, 0x21, 0x43, 1, 0x88]))
kavimain("retries", [
    command(5, io_request(1, 3, 0x21, -1, 32, 3), b"0121", bytes(4)),
], line=bytes([0, 2, 3, 0x68, 0x00, 0x00, 4, 1, 1, 0x00, 1, 2, 3, 4]))
kavimain("port_commands", [
    command(12, bytes(32)),
    command(13, bytes(32)),
    command(15, b"COM2" + bytes(8) + u32(20) + struct.pack("<hHHH", 19200, 8, 0, 2)),
    command(14, bytes(48)),
    command(1, cold),
    command(9, bytes(32)),
    command(0xF0, bytes(32), raw=0x10000005),
])
