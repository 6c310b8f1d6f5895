#!/usr/bin/env python3
"""Writes code_page_tables.cpp: the high halves (bytes 0x80 to 0xFF) of the
single-byte code pages that the headless layer offers.

Defined bytes come from the Unicode Consortium's mapping tables of Microsoft's
code pages (MAPPINGS/VENDORS/MICSFT/WINDOWS/CP125x.TXT, PC/CP437.TXT and PC/CP866.TXT), which
Python's codecs of the same names are generated from. Those tables leave some
bytes undefined; Windows still converts them, as Microsoft's WindowsBestFit
tables (bestfit125x.txt, MBTABLE) say: 0x80 to 0x9F to U+0080 to U+009F, and a
few others to private-use characters, listed below. Where Wine's NLS files are
installed (the same data, as Windows' c_*.nls), every table is checked against
them as well.

Run from this folder: python3 make_code_page_tables.py > code_page_tables.cpp
"""
import os
import struct
import sys

CODE_PAGES = [437, 866, 1250, 1251, 1252, 1253, 1254, 1257]

# Undefined bytes outside 0x80..0x9F, from bestfit1253.txt and bestfit1257.txt.
PRIVATE_USE = {1253: {0xAA: 0xF8F9, 0xD2: 0xF8FA, 0xFF: 0xF8FB}, 1257: {0xA1: 0xF8FC, 0xA5: 0xF8FD}}

NAMES = {437: 'DOS United States (OEM)', 866: 'DOS Cyrillic (OEM)', 1250: 'Central European', 1251: 'Cyrillic', 1252: 'Western European',
         1253: 'Greek', 1254: 'Turkish', 1257: 'Baltic'}


def high_half(cp):
    units = []
    for byte in range(0x80, 0x100):
        try:
            unit = ord(bytes([byte]).decode('cp%d' % cp))
        except UnicodeDecodeError:
            unit = PRIVATE_USE.get(cp, {}).get(byte, byte if byte < 0xA0 else None)
        if unit is None:
            sys.exit('code page %d: byte 0x%02X has no character' % (cp, byte))
        units.append(unit)
    return units


def check_against_wine(cp, units):
    path = '/usr/share/wine/nls/c_%03d.nls' % cp
    if not os.path.exists(path):
        return
    data = open(path, 'rb').read()
    header = struct.unpack_from('<13H', data, 0)
    table = struct.unpack_from('<256H', data, 2 * header[0] + 2)
    if list(table[0x80:]) != units or list(table[:0x80]) != list(range(0x80)):
        sys.exit('code page %d differs from %s' % (cp, path))


def main():
    print('// High halves (0x80 to 0xFF) of the single-byte code pages that the headless')
    print('// layer offers; bytes below 0x80 are ASCII. Made by make_code_page_tables.py')
    print('// from the Unicode Consortium\'s mapping tables of these code pages, with the')
    print('// bytes they leave undefined mapped as Windows maps them (its best-fit')
    print('// tables), so that every byte survives widen and narrow as under Windows.')
    print('#include "platform/portable/code_page_tables.h"')
    print()
    print('namespace platform::headless {')
    print()
    print('namespace {')
    for cp in CODE_PAGES:
        units = high_half(cp)
        check_against_wine(cp, units)
        print()
        print('// %d: %s.' % (cp, NAMES[cp]))
        print('const char16_t cp%dHigh[128] = {' % cp)
        for row in range(0, 128, 8):
            print('    ' + ' '.join('0x%04X,' % u for u in units[row:row + 8]))
        print('};')
    print()
    print('}  // namespace')
    print()
    print('const CodePageTable codePageTables[codePageTableCount] = {')
    for cp in CODE_PAGES:
        print('    {%d, cp%dHigh},' % (cp, cp))
    print('};')
    print()
    print('const char16_t* highHalfOf(unsigned codePage) {')
    print('    for (const CodePageTable& table : codePageTables) {')
    print('        if (table.codePage == codePage) return table.high;')
    print('    }')
    print('    return nullptr;')
    print('}')
    print()
    print('}  // namespace platform::headless')


main()
