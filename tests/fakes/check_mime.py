#!/usr/bin/python3
"""Reads a mail as it would arrive (header block, blank line, parts) with Python's email package
and checks it is a multipart/mixed letter with exactly one text/html part.

usage: check_mime.py MAIL_FILE EXPECTED_HTML_FILE EXPECTED_SUBJECT

EXPECTED_HTML_FILE holds the decoded HTML as UTF-8. Prints what differs and exits 1 on any
mismatch; prints nothing and exits 0 when the mail reads as expected.
"""

import sys
from email import message_from_bytes, policy


def main():
    mail_path, html_path, subject = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(mail_path, "rb") as f:
        msg = message_from_bytes(f.read(), policy=policy.default)
    with open(html_path, "rb") as f:
        expected_html = f.read().decode("utf-8")

    problems = []
    if msg.defects:
        problems.append("message defects: %r" % msg.defects)
    if msg.get_content_type() != "multipart/mixed":
        problems.append("content type %r" % msg.get_content_type())
    if msg["MIME-Version"] != "1.0":
        problems.append("MIME-Version %r" % msg["MIME-Version"])
    if str(msg["Subject"]) != subject:
        problems.append("subject %r" % str(msg["Subject"]))
    to = msg["To"]
    print("to:", "|".join("%s<%s>" % (a.display_name, a.addr_spec) for a in to.addresses))
    if msg.is_multipart():
        parts = list(msg.iter_parts())
        if len(parts) != 1:
            problems.append("%d parts" % len(parts))
        else:
            part = parts[0]
            if part.defects:
                problems.append("part defects: %r" % part.defects)
            if part.get_content_type() != "text/html":
                problems.append("part type %r" % part.get_content_type())
            if part.get_content_charset() != "iso-8859-1":
                problems.append("part charset %r" % part.get_content_charset())
            content = part.get_content()
            if content != expected_html:
                problems.append("content %r\n expected %r" % (content, expected_html))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
