#!/usr/bin/python3
"""Local SMTP servers for the mail client's tests (127.0.0.1 only).

Two kinds:
  --kind aiosmtpd   a real server (aiosmtpd's Controller): no auth, AUTH LOGIN/PLAIN required
                    (--auth), STARTTLS required (--starttls), or TLS from the first byte
                    (--implicit-tls); --cert/--key name the certificate.
  --kind scripted   a small hand-written server for what aiosmtpd does not do: CRAM-MD5 and NTLM
                    (verified against --password), replies split in odd places (--split), a long
                    EHLO reply (--long), another greeting (--greeting), a close during DATA
                    (--drop-in-data), no answer at all (--silent), AUTH on the final EHLO line
                    (--auth-final), a chosen RCPT code (--rcpt-code), a chosen EHLO answer
                    (--ehlo-code), final lines that are the bare code (--bare-codes), STARTTLS offered
                    but optional (--offer-starttls), refused (--starttls-refuse) or answered and then
                    left without a handshake (--starttls-stall), a greeting without end
                    (--endless line|reply), a greeting one byte at a time (--drip MS), replies
                    that come late (--reply-delay MS), no answer after the data (--stall-after-data),
                    and TLS from the first byte whose greeting record never ends
                    (--tls-partial-greeting).
                    Each of these leaves a line in --log that shows it really happened.

Both write each message into --maildir as N.eml plus N.json (the envelope and the message as
Python's email package parses it; flat JSON, ASCII). The scripted server logs every command line
it receives to --log. The port goes into --ready-file as {"port": N} once the server listens.

--compute-ntlmv2 prints the NTLMv2 responses computed here (for the known-answer tests).
"""

import argparse
import base64
import email
import email.policy
import hashlib
import hmac
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

# ---------------------------------------------------------------------------------------------
# MD4 and NTLMv2, independent of the C++ code: OpenSSL 3 may not offer md4 to hashlib.


def md4(data):
    def rotl(x, s):
        x &= 0xFFFFFFFF
        return ((x << s) | (x >> (32 - s))) & 0xFFFFFFFF

    msg = bytearray(data)
    bit_len = len(data) * 8
    msg.append(0x80)
    while len(msg) % 64 != 56:
        msg.append(0)
    msg += struct.pack("<Q", bit_len)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for off in range(0, len(msg), 64):
        x = struct.unpack("<16I", bytes(msg[off:off + 64]))
        aa, bb, cc, dd = a, b, c, d
        f = lambda x1, y, z: (x1 & y) | (~x1 & z)
        g = lambda x1, y, z: (x1 & y) | (x1 & z) | (y & z)
        h = lambda x1, y, z: x1 ^ y ^ z
        for i in range(16):
            s = (3, 7, 11, 19)[i % 4]
            a, b, c, d = d, rotl(a + f(b, c, d) + x[i], s), b, c
        for i in range(16):
            k = (i % 4) * 4 + i // 4
            s = (3, 5, 9, 13)[i % 4]
            a, b, c, d = d, rotl(a + g(b, c, d) + x[k] + 0x5A827999, s), b, c
        order = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)
        for i in range(16):
            s = (3, 9, 11, 15)[i % 4]
            a, b, c, d = d, rotl(a + h(b, c, d) + x[order[i]] + 0x6ED9EBA1, s), b, c
        a, b, c, d = (a + aa) & 0xFFFFFFFF, (b + bb) & 0xFFFFFFFF, (c + cc) & 0xFFFFFFFF, (d + dd) & 0xFFFFFFFF
    return struct.pack("<4I", a, b, c, d)


def hmac_md5(key, data):
    return hmac.new(key, data, hashlib.md5).digest()


def ntowfv2(password, user, domain):
    return hmac_md5(md4(password.encode("utf-16-le")), (user.upper() + domain).encode("utf-16-le"))


def ntlmv2_responses(ntowf, server_challenge, client_challenge, timestamp, target_info):
    blob = b"\x01\x01\x00\x00\x00\x00\x00\x00" + struct.pack("<Q", timestamp) + client_challenge
    blob += b"\x00" * 4 + target_info + b"\x00" * 4
    proof = hmac_md5(ntowf, server_challenge + blob)
    lm = hmac_md5(ntowf, server_challenge + client_challenge) + client_challenge
    return proof + blob, lm


def av_pair(av_id, value):
    return struct.pack("<HH", av_id, len(value)) + value


# ---------------------------------------------------------------------------------------------
# Saving messages

_save_lock = threading.Lock()
_save_count = [0]


def save_message(maildir, mail_from, rcpt_tos, data):
    with _save_lock:
        _save_count[0] += 1
        number = _save_count[0]
    base = os.path.join(maildir, str(number))
    with open(base + ".eml", "wb") as f:
        f.write(data)
    msg = email.message_from_bytes(data, policy=email.policy.default)
    info = {
        "mail_from": mail_from,
        "rcpt_tos": ",".join(rcpt_tos),
        "subject": str(msg.get("subject", "")),
        "from": str(msg.get("from", "")),
        "to": str(msg.get("to", "")),
        "cc": str(msg.get("cc", "")),
        "bcc_header": str(msg.get("bcc", "")),
        "content_type": msg.get_content_type(),
        "multipart": msg.is_multipart(),
        "text_plain": "",
        "text_html": "",
        "defects": len(msg.defects),
    }
    for part in msg.walk():
        info["defects"] += len(part.defects)
        if part.is_multipart():
            continue
        kind = part.get_content_type()
        if kind in ("text/plain", "text/html"):
            info[kind.replace("/", "_")] += part.get_content().replace("\r\n", "\n")
    tmp = base + ".json.tmp"
    with open(tmp, "w", encoding="ascii") as f:
        json.dump(info, f, ensure_ascii=True, separators=(",", ":"))
    os.rename(tmp, base + ".json")


# ---------------------------------------------------------------------------------------------
# aiosmtpd


def run_aiosmtpd(args, port):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            save_message(args.maildir, envelope.mail_from, envelope.rcpt_tos, envelope.original_content or
                         envelope.content)
            return "250 OK message saved"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (mechanism in ("LOGIN", "PLAIN") and auth_data.login.decode() == args.user and
              auth_data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False)

    params = {}
    if args.auth:
        params.update(authenticator=authenticator, auth_required=True, auth_require_tls=bool(args.starttls))
    kwargs = {}
    if args.starttls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(args.cert, args.key)
        params.update(tls_context=ctx, require_starttls=True)
    if args.implicit_tls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(args.cert, args.key)
        kwargs.update(ssl_context=ctx, server_hostname="localhost")
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs, **params)
    controller.start()
    return controller.stop


# ---------------------------------------------------------------------------------------------
# The scripted server

LONG_PADDING = ["250-X-PADDING-%02d %s" % (i, "x" * 200) for i in range(25)]


class ScriptedHandler(socketserver.BaseRequestHandler):
    args = None

    def setup(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""
        self.tls = False

    def log(self, line):
        if self.args.log:
            with open(self.args.log, "a", encoding="utf-8") as f:
                f.write(line + "\n")

    def send(self, text):
        data = text.encode()
        if not self.args.split:
            self.request.sendall(data)
            return
        # Pieces end after the code and after every "\r", so the client sees "\r" and "\n" apart.
        cuts = sorted({2} | {i + 1 for i, ch in enumerate(data) if ch == 13})
        start = 0
        for cut in cuts + [len(data)]:
            if cut > start:
                self.request.sendall(data[start:cut])
                time.sleep(0.03)
                start = cut

    def reply(self, *lines):
        if self.args.reply_delay:
            self.log("delay: %d ms" % self.args.reply_delay)
            time.sleep(self.args.reply_delay / 1000.0)
        text = "".join(("%s-%s\r\n" if i < len(lines) - 1 else "%s %s\r\n") % (line[:3], line[4:])
                       for i, line in enumerate(lines))
        if self.args.bare_codes and not text.startswith("334"):
            # RFC 5321 4.2 allows the final line to be the code alone (a 334 carries its challenge).
            head, _, last = text[:-2].rpartition("\r\n")
            text = (head + "\r\n" if head else "") + last[:3] + "\r\n"
            self.log("bare code: %s" % last[:3])
        self.send(text)

    def hold(self, what):
        """Reads (and counts) whatever comes until the client closes, answering nothing."""
        received = 0
        try:
            while True:
                chunk = self.request.recv(65536)
                if not chunk:
                    break
                received += len(chunk)
                self.log("%s: received %d bytes" % (what, received))
        except OSError:
            pass

    def endless(self, kind):
        # Bounded only so that a client that never gives up cannot fill the machine's memory.
        cap = 8 * 1024 * 1024
        if kind == "line":
            data = b"220 " + b"x" * cap
        else:
            data = b"".join(b"220-" + b"y" * 1020 + b"\r\n" for _ in range(cap // 1024))
        sent = 0
        try:
            while sent < len(data):
                sent += self.request.send(data[sent:sent + 65536])
        except OSError:
            pass
        self.log("endless %s: sent %d bytes" % (kind, sent))
        self.hold("endless")

    def drip(self, text):
        data = text.encode()
        for i in range(len(data)):
            try:
                self.request.sendall(data[i:i + 1])
            except OSError:
                return False
            self.log("drip: sent byte %d of %d" % (i + 1, len(data)))
            time.sleep(self.args.drip / 1000.0)
        return True

    def tls_context(self):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(self.args.cert, self.args.key)
        return ctx

    def start_tls(self):
        try:
            self.request = self.tls_context().wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            self.log("TLS: handshake failed: %s" % e)
            return False
        self.tls = True
        self.log("TLS: established")
        return True

    def readline(self):
        while b"\r\n" not in self.pending:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            self.pending += chunk
        line, self.pending = self.pending.split(b"\r\n", 1)
        text = line.decode("utf-8", "replace")
        self.log(text)
        return text

    def credentials_ok(self, user, password):
        return user == self.args.user and password == self.args.password

    def handle(self):
        if self.args.silent:
            self.log("silent: accepted")
            self.hold("silent")
            return
        if self.args.endless:
            self.endless(self.args.endless)
            return
        if self.args.tls_partial_greeting:
            if not self.start_tls():
                return
            # A record header announcing 64 bytes, then only three of them, past the TLS layer.
            partial = b"\x17\x03\x03\x00\x40abc"
            os.write(self.request.fileno(), partial)
            self.log("partial record: sent %d bytes of a 69-byte record" % len(partial))
            self.hold("partial record")
            return
        greeting = self.args.greeting
        if self.args.bare_codes:
            greeting = greeting[:3]
            self.log("bare code: %s" % greeting)
        if self.args.drip:
            if not self.drip(greeting + "\r\n"):
                return
        else:
            self.send(greeting + "\r\n")
        mail_from, rcpts = "", []
        while True:
            line = self.readline()
            if line is None:
                return
            verb = line.split(" ", 1)[0].upper()
            rest = line[len(verb) + 1:]
            if verb == "EHLO" and self.args.ehlo_code != 250:
                self.reply("%d EHLO not here" % self.args.ehlo_code)
            elif verb == "EHLO":
                lines = ["250 localhost"]
                if self.args.offer_starttls and not self.tls:
                    lines.append("250 STARTTLS")
                if self.args.long:
                    lines += [l[:3] + " " + l[4:] for l in LONG_PADDING]
                if self.args.auth_line:
                    lines.append("250 AUTH " + self.args.auth_line)
                lines.append("250 8BITMIME")
                if self.args.auth_final:
                    lines.append("250 AUTH " + self.args.auth_final)
                self.reply(*lines)
            elif verb == "HELO":
                self.reply("250 localhost")
            elif verb == "STARTTLS" and self.args.offer_starttls and not self.tls:
                if self.args.starttls_refuse:
                    self.reply("454 TLS not available now")
                    continue
                self.reply("220 go ahead")
                # Anything the client sent before the handshake is not to be trusted.
                self.pending = b""
                if self.args.starttls_stall:
                    self.log("STARTTLS: stalling")
                    self.hold("STARTTLS stall")
                    return
                if not self.start_tls():
                    return
            elif verb == "AUTH":
                self.authenticate(rest)
            elif verb == "MAIL":
                mail_from, rcpts = rest.split(":", 1)[1].strip().strip("<>"), []
                self.reply("250 sender ok")
            elif verb == "RCPT":
                rcpts.append(rest.split(":", 1)[1].strip().strip("<>"))
                self.reply("%d recipient ok" % self.args.rcpt_code)
            elif verb == "DATA":
                self.reply("354 go ahead")
                if self.args.drop_in_data:
                    self.request.recv(10)
                    self.request.shutdown(socket.SHUT_RDWR)
                    return
                data = self.read_data()
                if data is None:
                    return
                if self.args.stall_after_data:
                    self.log("stalling after data")
                    self.hold("after data")
                    return
                if self.args.maildir:
                    save_message(self.args.maildir, mail_from, rcpts, data)
                self.reply("250 queued")
            elif verb == "QUIT":
                self.reply("221 bye")
                return
            elif verb in ("RSET", "NOOP"):
                self.reply("250 ok")
            else:
                self.reply("500 unknown command")

    def read_data(self):
        while b"\r\n.\r\n" not in b"\r\n" + self.pending:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            self.pending += chunk
        whole = b"\r\n" + self.pending
        end = whole.index(b"\r\n.\r\n")
        body, self.pending = whole[2:end + 2], whole[end + 5:]
        lines = body.split(b"\r\n")
        return b"\r\n".join(l[1:] if l.startswith(b".") else l for l in lines)

    def authenticate(self, rest):
        mechanism, _, initial = rest.partition(" ")
        mechanism = mechanism.upper()
        if mechanism == "LOGIN":
            self.reply("334 " + base64.b64encode(b"Username:").decode())
            user = base64.b64decode(self.readline() or "").decode()
            self.reply("334 " + base64.b64encode(b"Password:").decode())
            password = base64.b64decode(self.readline() or "").decode()
            ok = self.credentials_ok(user, password)
        elif mechanism == "PLAIN":
            if not initial:
                self.reply("334 ")
                initial = self.readline() or ""
            _, user, password = base64.b64decode(initial).decode().split("\0")
            ok = self.credentials_ok(user, password)
        elif mechanism == "CRAM-MD5":
            challenge = b"<1896.697170952@localhost>"
            self.reply("334 " + base64.b64encode(challenge).decode())
            user, _, digest = base64.b64decode(self.readline() or "").decode().partition(" ")
            expected = hmac.new(self.args.password.encode(), challenge, hashlib.md5).hexdigest()
            ok = user == self.args.user and digest == expected
        elif mechanism == "NTLM":
            ok = self.ntlm(initial)
        else:
            self.reply("504 unknown mechanism")
            return
        self.reply("235 authenticated" if ok else "535 authentication failed")

    def ntlm(self, initial):
        negotiate = base64.b64decode(initial)
        if negotiate[:8] != b"NTLMSSP\0" or struct.unpack("<I", negotiate[8:12])[0] != 1:
            self.log("NTLM: bad negotiate message")
            return False
        server_challenge = os.urandom(8)
        timestamp = (int(time.time()) + 11644473600) * 10000000
        target_info = (av_pair(2, "EXAMPLE".encode("utf-16-le")) + av_pair(1, "SERVER".encode("utf-16-le")) +
                       av_pair(7, struct.pack("<Q", timestamp)) + av_pair(0, b""))
        target_name = "EXAMPLE".encode("utf-16-le")
        flags = 0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 | 0x00080000 | 0x00800000 | 0xA0000000
        header_size = 56
        challenge = (b"NTLMSSP\0" + struct.pack("<I", 2) +
                     struct.pack("<HHI", len(target_name), len(target_name), header_size) + struct.pack("<I", flags) +
                     server_challenge + b"\0" * 8 +
                     struct.pack("<HHI", len(target_info), len(target_info), header_size + len(target_name)) +
                     b"\x06\x01\xb1\x1d\x00\x00\x00\x0f" + target_name + target_info)
        self.reply("334 " + base64.b64encode(challenge).decode())
        auth = base64.b64decode(self.readline() or "")
        if auth[:8] != b"NTLMSSP\0" or struct.unpack("<I", auth[8:12])[0] != 3:
            self.log("NTLM: bad authenticate message")
            return False

        def field(at):
            length, _, offset = struct.unpack("<HHI", auth[at:at + 8])
            return auth[offset:offset + length]

        lm, nt = field(12), field(20)
        domain, user = field(28).decode("utf-16-le"), field(36).decode("utf-16-le")
        want_domain, _, want_user = self.args.user.rpartition("\\")
        if (domain, user) != (want_domain, want_user):
            self.log("NTLM: wrong identity %r\\%r" % (domain, user))
            return False
        key = ntowfv2(self.args.password, user, domain)
        blob = nt[16:]
        if blob[:2] != b"\x01\x01" or struct.unpack("<Q", blob[8:16])[0] != timestamp:
            self.log("NTLM: bad blob header or timestamp")
            return False
        if not blob[28:].startswith(target_info):
            self.log("NTLM: target info not echoed")
            return False
        if not hmac.compare_digest(hmac_md5(key, server_challenge + blob), nt[:16]):
            self.log("NTLM: NTProofStr mismatch")
            return False
        if len(lm) != 24 or hmac_md5(key, server_challenge + lm[16:]) != lm[:16]:
            self.log("NTLM: LMv2 mismatch")
            return False
        self.log("NTLM: verified %s\\%s" % (domain, user))
        return True


class ScriptedServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def run_scripted(args, port):
    ScriptedHandler.args = args
    server = ScriptedServer(("127.0.0.1", port), ScriptedHandler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    return server.shutdown


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--kind", choices=("aiosmtpd", "scripted"), default="scripted")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--ready-file")
    p.add_argument("--maildir")
    p.add_argument("--log")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--auth", action="store_true")
    p.add_argument("--starttls", action="store_true")
    p.add_argument("--implicit-tls", action="store_true")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--greeting", default="220 localhost ESMTP scripted")
    p.add_argument("--auth-line", default="")
    p.add_argument("--auth-final", default="")
    p.add_argument("--split", action="store_true")
    p.add_argument("--long", action="store_true")
    p.add_argument("--silent", action="store_true")
    p.add_argument("--drop-in-data", action="store_true")
    p.add_argument("--rcpt-code", type=int, default=250)
    p.add_argument("--ehlo-code", type=int, default=250)
    p.add_argument("--bare-codes", action="store_true")
    p.add_argument("--offer-starttls", action="store_true")
    p.add_argument("--starttls-refuse", action="store_true")
    p.add_argument("--starttls-stall", action="store_true")
    p.add_argument("--endless", choices=("line", "reply"))
    p.add_argument("--drip", type=int, default=0, metavar="MS")
    p.add_argument("--reply-delay", type=int, default=0, metavar="MS")
    p.add_argument("--stall-after-data", action="store_true")
    p.add_argument("--tls-partial-greeting", action="store_true")
    p.add_argument("--compute-ntlmv2", nargs=7,
                   metavar=("USER", "DOMAIN", "PASSWORD", "SERVER_HEX", "CLIENT_HEX", "TIMESTAMP", "TARGETINFO_HEX"))
    p.add_argument("--md4", metavar="TEXT")
    args = p.parse_args()

    if args.md4 is not None:
        print(md4(args.md4.encode()).hex())
        return
    if args.compute_ntlmv2:
        user, domain, password, server_hex, client_hex, timestamp, info_hex = args.compute_ntlmv2
        key = ntowfv2(password, user, domain)
        nt, lm = ntlmv2_responses(key, bytes.fromhex(server_hex), bytes.fromhex(client_hex), int(timestamp),
                                  bytes.fromhex(info_hex))
        print(key.hex())
        print(nt.hex())
        print(lm.hex())
        return

    port = args.port or free_port()
    stop = run_aiosmtpd(args, port) if args.kind == "aiosmtpd" else run_scripted(args, port)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    if args.ready_file:
        tmp = args.ready_file + ".tmp"
        with open(tmp, "w") as f:
            json.dump({"port": port}, f, separators=(",", ":"))
        os.rename(tmp, args.ready_file)
    while not done.wait(0.2):
        pass
    stop()


if __name__ == "__main__":
    main()
