#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/ for the SMBIOS fuzz targets.

Every seed is built here from scratch: small entry points with valid
checksums, tables with type-1 and type-127 structures, system table texts
and product UUID texts. Run it again after changing it; it replaces the
seed files it owns.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RAW_UUID = bytes(range(0x00, 0x100, 0x11))


def checksum(data, start, count, at):
    data[at] = 0
    data[at] = (-sum(data[start:start + count])) & 0xFF


def structure(kind, length, strings=()):
    body = bytearray(length)
    body[0], body[1] = kind, length
    if strings:
        for s in strings:
            body += s + b"\0"
        body += b"\0"
    else:
        body += b"\0\0"
    return bytes(body)


def type1(uuid=RAW_UUID, length=27, strings=(b"Maker", b"Box")):
    s = bytearray(structure(1, length, strings))
    s[8:24] = uuid
    return bytes(s)


def table():
    return structure(0, 24, (b"Vendor", b"1.0")) + structure(127, 4) + type1()


def sm3(length, address, major=3, minor=0):
    ep = bytearray(24)
    ep[0:5] = b"_SM3_"
    ep[6], ep[7], ep[8], ep[10] = 24, major, minor, 1
    struct.pack_into("<IQ", ep, 12, length, address)
    checksum(ep, 0, 24, 5)
    return bytes(ep)


def sm2(length, address, count=0, major=2, minor=8, bcd=0x28):
    ep = bytearray(31)
    ep[0:4] = b"_SM_"
    ep[5], ep[6], ep[7] = 31, major, minor
    ep[16:21] = b"_DMI_"
    struct.pack_into("<HIH", ep, 22, length, address, count)
    ep[30] = bcd
    checksum(ep, 16, 15, 21)
    checksum(ep, 0, 31, 4)
    return bytes(ep)


def dmi(length, address, count=0, bcd=0x21):
    ep = bytearray(15)
    ep[0:5] = b"_DMI_"
    struct.pack_into("<HIH", ep, 6, length, address, count)
    ep[14] = bcd
    checksum(ep, 0, 15, 5)
    return bytes(ep)


def tables_seeds():
    t = table()
    seeds = {}
    # Sysfs layout: byte 0 = entry point size, then the entry point, then the table.
    seeds["sysfs-sm3"] = bytes([24]) + sm3(len(t), 0) + t
    seeds["sysfs-sm2"] = bytes([31]) + sm2(len(t), 0, 3) + t
    # The versions some BIOSes store wrongly: 2.31 and 2.33 read as 2.3
    # (raw UUID order), 2.51 as 2.6 (swapped order).
    for minor in (31, 33, 51):
        seeds["sysfs-sm2-fixup-2.%d" % minor] = bytes([31]) + sm2(len(t), 0, 0, 2, minor) + t
    seeds["sysfs-dmi"] = bytes([15]) + dmi(len(t), 0) + t
    seeds["sysfs-ff-then-uuid"] = bytes([24]) + sm3(0xFFFF, 0) + type1(b"\xff" * 16) + type1()
    # Memory layout: the input lies at 0 and at 0xF0000; an entry point in a
    # 16-byte slot of the input points at a table elsewhere in the input.
    for name, make in (("window-sm3", sm3), ("window-sm2", sm2), ("window-dmi", dmi)):
        image = bytearray(0x200)
        image[0] = 0
        ep = make(len(t), 0x100)
        image[0x40:0x40 + len(ep)] = ep
        image[0x100:0x100 + len(t)] = t
        seeds[name] = bytes(image)
    return seeds


def systab_seeds():
    # The entry point at 0x100 of the input itself, which is also the memory.
    t = table()
    seeds = {}
    for name, key, make in (("sm3", b"SMBIOS3", sm3), ("sm2", b"SMBIOS", sm2)):
        text = bytearray(b"ACPI20=0x7ff7e014\nACPI=0x7ff7e000\n" + key + b"=0x100\n")
        text += b"\0" * (0x100 - len(text))
        text += make(len(t), 0x180)
        text += b"\0" * (0x180 - len(text))
        text += t
        seeds["efi-" + name] = bytes(text)
    seeds["order"] = b"SMBIOS=0xf0000\nSMBIOS3=0x7fb3d000\n"
    seeds["spaced-key"] = b"SMBIOS3 =0x10\nSMBIOS=010\n"
    seeds["long-line"] = b"X" * 62 + b"SMBIOS=0x40\n"
    seeds["no-key"] = b"ACPI20=0x7ff7e014\n"
    return seeds


def product_uuid_seeds():
    return {
        "canonical": b"00112233-4455-6677-8899-AABBCCDDEEFF\n",
        "lower": b"4c4c4544-0052-3010-8051-b2c04f324732\n",
        "dashes": b"-00-11-22-33-44-55-66778899AABBCCDDE\n",
        "short": b"00112233-4455-6677-8899-AABBCCDDEEF",
    }


def main():
    for target, seeds in (("smbios_tables", tables_seeds()),
                          ("smbios_systab", systab_seeds()),
                          ("smbios_product_uuid", product_uuid_seeds())):
        directory = os.path.join(HERE, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(directory, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
