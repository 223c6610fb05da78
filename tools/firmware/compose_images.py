#!/usr/bin/env python3
"""Writes Korvane's own firmware images as Intel HEX files (usb/firmware/).

The programmer's production firmware is not part of this repository. These
images stand in for it: each one is laid out like an EZ-USB image (reset
vector, interrupt vectors, code, tables, all below 0x1700) and carries

  * at 0x0080 a signature block that names the image, so an emulated
    programmer knows which firmware it runs:
      0..7   "KVFWSIG1"
      8      family: 'N' (NAND) or 'S' (SPI)
      9      image number (NAND 1-2, SPI 0-4)
      10..11 address of the device descriptor (little-endian)
      12..13 address of the high-speed configuration descriptor block
      14..15 address of the full-speed configuration descriptor block
      16..47 the image's name, ASCII, NUL-padded
  * the USB descriptors under which the programmer re-enumerates: interface
    0, alternate setting 0 with bulk endpoints 0x02 OUT (pipe 0), 0x04 OUT
    (pipe 1), 0x86 IN (pipe 2), 0x88 IN (pipe 3); 512-byte packets at high
    speed, 64 at full speed.

Each image has exactly the record count the program expects of it (end
record included). Run it again only to change the images; the build turns
the HEX files into record arrays (tools/fwgen).
"""
import os
import random
import sys

IMAGES = [
    # file, family, number, name, records including the end record
    ("nand1.hex", "N", 1, "NAND image 1", 415),
    ("nand2.hex", "N", 2, "NAND image 2", 424),
    ("spi0.hex", "S", 0, "SPI image 0", 418),
    ("spi1.hex", "S", 1, "SPI image 1", 429),
    ("spi2.hex", "S", 2, "SPI image 2", 423),
    ("spi3.hex", "S", 3, "SPI image 3", 410),
    ("spi4.hex", "S", 4, "SPI image 4", 434),
]

LOAD_LIMIT = 0x1700
SIGNATURE_AT = 0x0080
DEVICE_AT = 0x00B0
HS_CONFIG_AT = 0x00C8
FS_CONFIG_AT = 0x00F8
CODE_AT = 0x0200
TABLE_AT = 0x0210
VENDOR = 0x04B4


def le16(value):
    return [value & 0xFF, value >> 8]


def device_descriptor(family, number):
    product = (0x4E00 if family == "N" else 0x5300) | number
    return ([18, 1] + le16(0x0200) + [0xFF, 0xFF, 0xFF, 64] + le16(VENDOR) + le16(product)
            + le16(0x0110) + [0, 0, 0, 1])


def configuration(packet_size):
    endpoints = []
    for address in (0x02, 0x04, 0x86, 0x88):
        endpoints += [7, 5, address, 0x02] + le16(packet_size) + [0]
    interface = [9, 4, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0]
    total = 9 + len(interface) + len(endpoints)
    return [9, 2] + le16(total) + [1, 1, 0, 0x80, 50] + interface + endpoints


def signature(family, number, name):
    block = list(b"KVFWSIG1") + [ord(family), number]
    block += le16(DEVICE_AT) + le16(HS_CONFIG_AT) + le16(FS_CONFIG_AT)
    text = list(name.encode("ascii"))
    return block + text + [0] * (32 - len(text))


def chunks(address, data, size=16):
    return [(address + i, data[i:i + size]) for i in range(0, len(data), size)]


def records_for(family, number, name, total):
    records = [(0x0000, [0x02] + [CODE_AT >> 8, CODE_AT & 0xFF])]  # LJMP to the code
    for vector in range(0x0003, 0x006B, 8):
        records.append((vector, [0x32]))  # RETI
    records += chunks(SIGNATURE_AT, signature(family, number, name))
    records += chunks(DEVICE_AT, device_descriptor(family, number))
    records += chunks(HS_CONFIG_AT, configuration(512))
    records += chunks(FS_CONFIG_AT, configuration(64))
    records.append((CODE_AT, [0x75, 0x81, 0x5F, 0x80, 0xFE]))  # MOV SP,#5Fh; SJMP $
    table_records = total - 1 - len(records)
    size = min(16, (LOAD_LIMIT - TABLE_AT) // table_records)
    generator = random.Random(name)
    address = TABLE_AT
    for _ in range(table_records):
        records.append((address, [generator.randrange(256) for _ in range(size)]))
        address += size
    assert address <= LOAD_LIMIT, name
    return records


def hex_line(address, record_type, data):
    fields = [len(data), address >> 8, address & 0xFF, record_type] + data
    checksum = (-sum(fields)) & 0xFF
    return ":" + "".join("%02X" % b for b in fields + [checksum])


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "..", "usb", "firmware")
    for file_name, family, number, name, total in IMAGES:
        records = records_for(family, number, name, total)
        lines = [hex_line(address, 0, data) for address, data in records]
        lines.append(hex_line(0, 1, []))
        assert len(lines) == total, (name, len(lines))
        with open(os.path.join(folder, file_name), "w", newline="\n") as out:
            out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
