#!/usr/bin/python3
# read_pe_resources.py PROGRAM: what pefile, a reader independent of cabpack, finds in a
# program's version resource and first icon group, one fact a line, and whether its checksum
# is right. For the host tests.
import sys
import zlib

import pefile

pe = pefile.PE(sys.argv[1])


def version(high, low):
    return '%d.%d.%d.%d' % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def resources(type_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            return [(name.id, lang.data.struct) for name in entry.directory.entries for lang in name.directory.entries]
    return []


def data(struct):
    return pe.get_data(struct.OffsetToData, struct.Size)


if hasattr(pe, 'VS_FIXEDFILEINFO'):
    fixed = pe.VS_FIXEDFILEINFO[0]
    print('fixed file %s product %s' % (version(fixed.FileVersionMS, fixed.FileVersionLS),
                                        version(fixed.ProductVersionMS, fixed.ProductVersionLS)))
    for info in pe.FileInfo[0]:
        for table in getattr(info, 'StringTable', []):
            for key, value in table.entries.items():
                print('string %s=%s' % (key.decode(), value.decode()))
icons = {number: data(struct) for number, struct in resources(3)}
print('icons %d' % len(icons))
groups = resources(14)
if groups:
    group = data(groups[0][1])
    for i in range(int.from_bytes(group[4:6], 'little')):
        entry = group[6 + 14 * i:20 + 14 * i]
        image = icons[int.from_bytes(entry[12:14], 'little')]
        print('icon %dx%d %d-bit crc %08x' % (entry[0] or 256, entry[1] or 256, int.from_bytes(entry[6:8], 'little'),
                                              zlib.crc32(image)))
print('checksum ' + ('right' if pe.verify_checksum() else 'wrong'))
