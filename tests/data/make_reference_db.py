#!/usr/bin/env python3
"""Writes the reference database and settings files that the storage tests compare against.

This writer knows the archive format on its own and shares no code with the program, so a
byte-identical round trip through the program shows both sides agree on every field.

    python3 make_reference_db.py        # writes reference.orx, compact.orx, reference.cfg here
"""

import os
import struct


class Archive:
    def __init__(self):
        self.out = bytearray()
        self.classes = {}
        self.next_number = 1

    def raw(self, data):
        self.out += data

    def word(self, v):
        self.out += struct.pack("<H", v)

    def int(self, v):
        self.out += struct.pack("<i", v)

    def dword(self, v):
        self.out += struct.pack("<I", v)

    def double(self, v):
        self.out += struct.pack("<d", v)

    def text(self, s):
        if not s.isascii():
            # The UTF-16 form: 0xFF, 0xFFFE, then a length prefix that counts 16-bit units.
            data = s.encode("utf-16-le")
            self.out.append(0xFF)
            self.word(0xFFFE)
            self.length(len(data) // 2)
            self.out += data
            return
        data = s.encode("ascii")
        self.length(len(data))
        self.out += data

    def length(self, n):
        if n < 0xFF:
            self.out.append(n)
        else:
            self.out.append(0xFF)
            if n < 0xFFFE:
                self.word(n)
            else:
                self.word(0xFFFF)
                if n < 0xFFFFFFFF:
                    self.dword(n)
                else:
                    self.dword(0xFFFFFFFF)
                    self.out += struct.pack("<Q", n)

    def date(self, status, value):
        self.int(status)
        self.double(value)

    def new_object(self, class_name, schema=1):
        if class_name in self.classes:
            self.word(0x8000 | self.classes[class_name])
        else:
            name = class_name.encode("ascii")
            self.word(0xFFFF)
            self.word(schema)
            self.word(len(name))
            self.raw(name)
            self.classes[class_name] = self.next_number
            self.next_number += 1
        self.next_number += 1  # the object's own number


def partner(ar, p):
    ar.new_object("CPartner")
    ar.int(p["id"])
    for field in ("name", "organization", "email", "icq", "phone", "extra", "type0", "pid0", "type1", "pid1",
                  "comments"):
        ar.text(p.get(field, ""))


def link(ar, l):
    ar.new_object("CLink")
    ar.int(l["partnerId"])
    ar.text(l["project"])
    ar.date(*l["first"])
    ar.date(*l["last"])
    ar.date(*l["period"])
    ar.int(l["costMode"])
    ar.int(l["costPerMonth"])
    ar.int(l["costPerPeriod"])
    ar.text(l["from"])
    ar.text(l["to"])
    ar.text(l["anchor"])
    ar.int(l["startingPR"])
    ar.int(l["currentPR"])
    ar.int(l["status"])
    ar.int(l["previousPR"])
    ar.int(l["reserved"])
    ar.text(l["comment"])
    ar.int(l["externalLinks"])


def database(partners, links, partner_filter, next_id):
    ar = Archive()
    ar.raw(b"ORX")
    ar.new_object("CPartnersManager")
    ar.int(partner_filter)
    ar.int(next_id)
    ar.dword(len(partners))
    for p in partners:
        partner(ar, p)
    ar.new_object("CLinksManager")
    ar.dword(len(links))
    for l in links:
        link(ar, l)
    return bytes(ar.out)


def sample_link(i, partner_id, **overrides):
    l = {
        "partnerId": partner_id,
        "project": "Project %d" % (i % 3),
        "first": (0, 41000.0 + i),
        "last": (0, 41365.0 + i),
        "period": (0, 30.0 * (i + 1)),
        "costMode": i % 2,
        "costPerMonth": 10 * i,
        "costPerPeriod": 25 * i,
        "from": "http://partner%d.example.com/links.html" % i,
        "to": "http://www.example.org/page%d.html" % i,
        "anchor": "anchor text %d" % i,
        "startingPR": i % 11,
        "currentPR": -1 if i % 4 == 0 else (i + 2) % 11,
        "status": [0, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80][i % 9],
        "previousPR": (i + 1) % 11,
        "reserved": 0,
        "comment": "comment %d" % i,
        "externalLinks": 3 * i,
    }
    l.update(overrides)
    return l


def main():
    here = os.path.dirname(os.path.abspath(__file__))

    partners = [
        {"id": 1, "name": "Alpha Links", "organization": "Alpha Ltd", "email": "alpha@example.com", "icq": "123456",
         "phone": "+1 555 0100", "extra": "x", "type0": "PayPal", "pid0": "alpha@pay.example", "type1": "Wire",
         "pid1": "DE00 1234", "comments": "A" * 254},
        {"id": 2, "name": "Beta", "comments": "B" * 255},
        {"id": 5, "name": "Gamma", "email": "gamma@example.net"},
    ]
    links = [
        sample_link(0, 1, anchor="a" * 254),
        sample_link(1, 1, comment="c" * 255),
        sample_link(2, 2, first=(2, 0.0), last=(1, 0.0), period=(2, 0.0)),
        sample_link(3, 5, comment="".join(chr(ord("a") + i % 26) for i in range(70000))),
        sample_link(4, 2, project="", anchor="", comment="", first=(0, 40999.75)),
        sample_link(5, 3),
    ]
    with open(os.path.join(here, "reference.orx"), "wb") as f:
        f.write(database(partners, links, 2, 6))

    # Small enough to load every prefix of it in a test.
    compact_links = [sample_link(i, 1 + i % 3) for i in range(12)]
    compact_links[7]["comment"] = "long " * 60
    with open(os.path.join(here, "compact.orx"), "wb") as f:
        f.write(database(partners[:2] + [{"id": 3, "name": "Delta"}], compact_links, -1, 4))

    ar = Archive()
    ar.new_object("COptions")
    ar.int(14)                         # warningDays
    ar.int(1)                          # notifyStatusChanges
    ar.int(0)                          # realMonitoring
    ar.text("me@example.com")          # mailTo
    ar.text("smtp.example.com")        # smtpServer
    ar.int(587)                        # smtpPort
    ar.text("orvex@example.com")       # mailFrom
    ar.int(1)                          # smtpAuth
    ar.text("user")                    # smtpUser
    ar.text("s3cret pass")             # smtpPassword
    ar.text("sub/data.orx")            # databasePath
    ar.int(1)                          # useProxy
    ar.text("proxy.local")             # proxyHost
    ar.int(3128)                       # proxyPort
    ar.date(0, 45000.25)               # reservedDate
    ar.int(9)                          # reservedInt
    ar.int(1)                          # importHintPending
    with open(os.path.join(here, "reference.cfg"), "wb") as f:
        f.write(bytes(ar.out))


if __name__ == "__main__":
    main()
