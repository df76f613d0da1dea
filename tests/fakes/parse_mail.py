#!/usr/bin/python3
"""Reads one delivered mail the way a standards-following mail program does and reports it.

    parse_mail.py MESSAGE.eml [--html-out FILE]

Prints one compact JSON object (ASCII only, no blanks after separators) with: subject, from, to (list), content_type, is_multipart,
defects (every parser complaint found anywhere in the message), parts (content type, charset
and transfer encoding of each leaf part), html_parts (how many text/html parts) and html (the
decoded text of the first text/html part, or null). With --html-out that decoded text is also
written to FILE as UTF-8, byte for byte, so a caller without a JSON parser can compare it.

Uses the email package with policy.default (RFC 5322 and MIME rules, charset decoding), so it
needs only the standard library. Exit 0 when the file could be read, 1 otherwise.
"""

import argparse
import email
import email.policy
import json
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("message")
    parser.add_argument("--html-out")
    args = parser.parse_args()

    try:
        # From bytes, not from the file: the file reader turns CR LF into LF, and the letter's line
        # ends are part of what is compared.
        with open(args.message, "rb") as f:
            message = email.message_from_bytes(f.read(), policy=email.policy.default)
    except OSError as e:
        print(json.dumps({"error": str(e)}))
        return 1

    defects = [type(d).__name__ for d in message.defects]
    parts = []
    html = None
    html_parts = 0
    for part in message.walk():
        defects += [type(d).__name__ for d in part.defects if part is not message]
        if part.is_multipart():
            continue
        parts.append({
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset(),
            "transfer_encoding": part.get("Content-Transfer-Encoding", ""),
        })
        if part.get_content_type() == "text/html":
            html_parts += 1
            if html is None:
                html = part.get_content()

    result = {
        "subject": str(message.get("Subject", "")),
        "from": str(message.get("From", "")),
        "to": [str(a) for a in (message.get("To").addresses if message.get("To") else ())],
        "content_type": message.get_content_type(),
        "is_multipart": message.is_multipart(),
        "mime_version": str(message.get("MIME-Version", "")),
        "defects": defects,
        "parts": parts,
        "html_parts": html_parts,
        "html": html,
    }
    if args.html_out and html is not None:
        with open(args.html_out, "wb") as f:
            f.write(html.encode("utf-8"))
    print(json.dumps(result, ensure_ascii=True, separators=(",", ":")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
