#!/usr/bin/env python3
"""Independent reference for the toolbar query checksum (lookup2, initial value 0x6B1D4E37).

Written from the algorithm's description, not from our C++ code, so that the expected values in
tests/unit/core/pagerank/PageRankTest.cpp do not just repeat whatever the C++ computes. Run it and
compare its output with the constants in that test.
"""

M = 0xFFFFFFFF
GOLDEN = 0x9E3779B9
INITVAL = 0x6B1D4E37


def mix(a, b, c):
    a = ((a - b - c) & M) ^ (c >> 13)
    b = ((b - c - a) & M) ^ ((a << 8) & M)
    c = ((c - a - b) & M) ^ (b >> 13)
    a = ((a - b - c) & M) ^ (c >> 12)
    b = ((b - c - a) & M) ^ ((a << 16) & M)
    c = ((c - a - b) & M) ^ (b >> 5)
    a = ((a - b - c) & M) ^ (c >> 3)
    b = ((b - c - a) & M) ^ ((a << 10) & M)
    c = ((c - a - b) & M) ^ (b >> 15)
    return a, b, c


def le_word(chunk):
    return chunk[0] | (chunk[1] << 8) | (chunk[2] << 16) | (chunk[3] << 24)


def lookup2(data, initval):
    a = b = GOLDEN
    c = initval
    pos = 0
    while len(data) - pos >= 12:
        a = (a + le_word(data[pos:pos + 4])) & M
        b = (b + le_word(data[pos + 4:pos + 8])) & M
        c = (c + le_word(data[pos + 8:pos + 12])) & M
        a, b, c = mix(a, b, c)
        pos += 12
    c = (c + len(data)) & M
    rest = data[pos:]
    for i, byte in enumerate(rest):
        if i < 4:
            a = (a + (byte << (8 * i))) & M
        elif i < 8:
            b = (b + (byte << (8 * (i - 4)))) & M
        else:
            c = (c + (byte << (8 * (i - 7)))) & M
    a, b, c = mix(a, b, c)
    return c


def checksum(url):
    return "6" + str(lookup2(b"info:" + url.encode("latin-1"), INITVAL))


# Raw hash inputs: the first n bytes of a fixed pattern, so every byte position differs.
PATTERN = bytes((i * 37 + 11) & 0xFF for i in range(64))
RAW_LENGTHS = [0, 1, 4, 8, 11, 12, 13, 23, 24, 25, 36, 64]
RAW_INITVALS = [INITVAL, 0]

URLS = [
    "",                          # 5 bytes: tail only
    "http:/",                    # 11 bytes: longest tail, c gets three shifted bytes
    "example",                   # 12 bytes: one block, then the length alone
    "example/",                  # 13 bytes
    "http://a.com/1234567",      # 25 bytes
    "http://ab.com/123456",      # 25 bytes
    "http://www.a.com/12",       # 24 bytes: two blocks
    "http://www.example.com/",
    "http://www.example.com/page.html?x=1&y=2",
    "http://h\xe9.example/\xff\x80",  # high bytes must count as unsigned
]

if __name__ == "__main__":
    for initval in RAW_INITVALS:
        for n in RAW_LENGTHS:
            print("raw initval=0x%08X len=%2d -> 0x%08X" % (initval, n, lookup2(PATTERN[:n], initval)))
    for url in URLS:
        print("checksum %-45r len=%2d -> %s" % (url, 5 + len(url), checksum(url)))
