#!/usr/bin/python3
"""The unattended "/check" run end to end: partner sites, a PageRank service and a mail server on
127.0.0.1, a program folder written by an independent writer, `orvex /check`, then the database
read back and the captured letter parsed.

Usage: check_run.py ORVEX FAKES_DIR DATA_DIR
"""
import datetime
import json
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time

ORVEX, FAKES, DATA = sys.argv[1], sys.argv[2], sys.argv[3]
sys.path.insert(0, DATA)
from make_reference_db import Archive, database, sample_link  # noqa: E402

TODAY = float((datetime.date.today() - datetime.date(1899, 12, 30)).days)
passes = 0
failures = 0


def check(what, ok, detail=""):
    global passes, failures
    if ok:
        passes += 1
    else:
        failures += 1
        print("FAIL: %s %s" % (what, detail))


def start(args, tmp, name):
    ready = os.path.join(tmp, name + ".ready")
    proc = subprocess.Popen(["/usr/bin/python3"] + args + ["--ready-file", ready],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(ready) and os.path.getsize(ready) > 0:
            break
        time.sleep(0.1)
    return proc, json.load(open(ready))


def read_database(path):
    """Just enough of the archive reader to see what a run stored in each link."""
    b = open(path, "rb").read()
    pos = [3]

    def take(fmt):
        v = struct.unpack_from("<" + fmt, b, pos[0])
        pos[0] += struct.calcsize("<" + fmt)
        return v[0]

    def text():
        n = take("B")
        wide = False
        if n == 0xFF:
            n = take("H")
            if n == 0xFFFE:
                wide = True
                n = take("B")
                if n == 0xFF:
                    n = take("H")
                    if n == 0xFFFF:
                        n = take("I")
            elif n == 0xFFFF:
                n = take("I")
        size = n * 2 if wide else n
        raw = b[pos[0]:pos[0] + size]
        pos[0] += size
        return raw.decode("utf-16-le" if wide else "utf-8", "replace")

    def tag():
        t = take("H")
        if t == 0xFFFF:
            take("H")
            length = take("H")  # read before the position is updated
            pos[0] += length

    tag()
    take("i"), take("i")
    for _ in range(take("I")):
        tag()
        take("i")
        for _ in range(11):
            text()
    tag()
    links = []
    for _ in range(take("I")):
        tag()
        l = {"partnerId": take("i"), "project": text()}
        for f in ("first", "last", "period"):
            l[f] = (take("i"), take("d"))
        for f in ("costMode", "costPerMonth", "costPerPeriod"):
            l[f] = take("i")
        for f in ("from", "to", "anchor"):
            l[f] = text()
        for f in ("startingPR", "currentPR", "status", "previousPR", "reserved"):
            l[f] = take("i")
        l["comment"] = text()
        l["externalLinks"] = take("i")
        links.append(l)
    return links


def write_folder(home, smtp_port, notify, links, proxy=None):
    """`proxy`: (host, port) for the proxy setting, None for no proxy."""
    os.makedirs(home, exist_ok=True)
    ar = Archive()
    ar.new_object("COptions")
    ar.int(7); ar.int(notify); ar.int(0)
    ar.text("me@example.com")
    ar.text("127.0.0.1"); ar.int(smtp_port)
    ar.text("orvex@example.com")
    ar.int(0); ar.text(""); ar.text("")
    ar.text("data.orx")
    ar.int(1 if proxy else 0); ar.text(proxy[0] if proxy else ""); ar.int(proxy[1] if proxy else 8888)
    ar.date(0, TODAY); ar.int(0)
    ar.int(0)
    open(os.path.join(home, "ORX.cfg"), "wb").write(bytes(ar.out))
    open(os.path.join(home, "data.orx"), "wb").write(
        database([{"id": 1, "name": "Site Owner"}], links, -1, 2))


def link(i, frm, to, status, pr=-1, prev=-1, last=TODAY - 1, period=365.0):
    return sample_link(i, 1, **{"from": frm, "to": to, "anchor": "*", "status": status, "currentPR": pr,
                               "previousPR": prev, "first": (0, last), "last": (0, last),
                               "period": (0, period), "externalLinks": 0})


def run_orvex(home, args, env, timeout=120):
    return subprocess.run([ORVEX] + args, env=dict(env, ORVEX_HOME=home), capture_output=True, text=True,
                          timeout=timeout)


def letters(maildir):
    return sorted(f for f in os.listdir(maildir) if f.endswith(".eml"))


def main():
    tmp = tempfile.mkdtemp(prefix="orvex-check-run-")
    www = os.path.join(tmp, "www")
    mine = "http://mine.localhost/"

    def page(host, path, body):
        os.makedirs(os.path.join(www, host, os.path.dirname(path)), exist_ok=True)
        open(os.path.join(www, host, path), "w").write(body)

    page("a.localhost", "links.html", '<a href="%s">mine</a>' % mine)
    page("b.localhost", "links.html", '<a href="%s">mine</a>' % mine)
    page("c.localhost", "links.html", "<p>the link is gone</p>")
    page("d.localhost", "links.html", '<a href="%s">mine</a>' % mine)
    page("e.localhost", "links.html", '<a href="%s">mine</a>' % mine)

    http, ports = start([os.path.join(FAKES, "http_server.py"), "--root", www, "--port", "0",
                         "--alias-address", "127.0.0.2", "--log",
                         os.path.join(tmp, "http.log")], tmp, "http")
    hp = ports["http"]
    maildir = os.path.join(tmp, "mail")
    os.makedirs(maildir)
    smtp, sports = start([os.path.join(FAKES, "smtp_server.py"), "--kind", "aiosmtpd", "--port", "0", "--maildir",
                          maildir], tmp, "smtp")
    sp = sports["port"]
    url = lambda host: "http://%s:%d/links.html" % (host, hp)  # noqa: E731
    os.makedirs(os.path.join(www, "pr.localhost"))
    json.dump({"info:" + url("a.localhost"): "Rank_1:1:4\n", "info:" + url("b.localhost"): "Rank_1:1:2\n"},
              open(os.path.join(www, "pr.localhost", "ranks.json"), "w"))

    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env.update(XDG_CONFIG_HOME=os.path.join(tmp, "config"), ORVEX_PAGERANK_HOST="pr.localhost:%d" % hp)
    # A page that fails in a way that may pass is tried again after a second, not half a minute.
    os.makedirs(os.path.join(tmp, "config", "Tessel Development"))
    open(os.path.join(tmp, "config", "Tessel Development", "Orvex.conf"), "w").write(
        "[General]\nRetryWaitSeconds=1\n")
    for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(var, None)

    try:
        # --- the run with every kind of change ---------------------------------------------------
        home = os.path.join(tmp, "home")
        write_folder(home, sp, 1, [
            link(0, url("a.localhost"), mine, 0x01, pr=3, prev=3),   # PageRank 3 -> 4: mailed
            link(1, url("b.localhost"), mine, 0x01),                 # first PageRank: not a change
            link(2, url("c.localhost"), mine, 0x01),                 # Ok -> Not present: mailed
            link(3, url("d.localhost"), mine, 0x08),                 # Not present -> Ok: not mailed
            link(4, url("e.localhost"), mine, 0x01, last=TODAY - 27, period=31.0),  # expiring
        ])
        r = run_orvex(home, ["/check"], env)
        check("/check exits 0", r.returncode == 0, r.stderr)
        check("/check prints nothing on success", r.stdout == "" and r.stderr == "", r.stdout + r.stderr)
        links = read_database(os.path.join(home, "data.orx"))
        check("statuses", [l["status"] for l in links] == [0x01, 0x01, 0x08, 0x01, 0x02],
              [l["status"] for l in links])
        check("PageRanks", [l["currentPR"] for l in links] == [4, 2, -1, -1, -1], [l["currentPR"] for l in links])
        check("a letter consumes the PageRank change", links[0]["previousPR"] == 4, links[0])
        check("external links counted", [l["externalLinks"] for l in links] == [1, 1, 0, 1, 1],
              [l["externalLinks"] for l in links])
        mails = letters(maildir)
        check("one letter", len(mails) == 1, mails)
        if mails:
            msg = json.load(open(os.path.join(maildir, mails[0].replace(".eml", ".json"))))
            html = msg.get("text_html", "")
            changed, _, expiring = html.partition("All your expiring and expired links:")
            check("subject", msg.get("subject") == "Warning Notification", msg.get("subject"))
            check("PR change mailed in red", 'color="#FF0000" face="Arial, Helvetica, sans-serif" size="3">'
                  'Changed: 4</font>' in changed)
            check("Ok -> Not present mailed", url("c.localhost") in changed and "Not present" in changed)
            check("first PageRank not mailed", url("b.localhost") not in changed)
            check("Not present -> Ok not mailed", url("d.localhost") not in changed)
            check("expiring table lists the expiring link", url("e.localhost") in expiring)
            check("Ok -> Expiring is a change", url("e.localhost") in changed)

        # --- verbose: a line per change and a summary ---------------------------------------------
        r = run_orvex(home, ["/check", "--verbose"], env)
        check("verbose exits 0", r.returncode == 0, r.stderr)
        out = r.stdout.splitlines()
        check("verbose summary", bool(out) and out[-1].startswith("checked 5 of 5 links"), r.stdout)

        # --- expiring links alone send nothing ------------------------------------------------------
        before = len(letters(maildir))
        home2 = os.path.join(tmp, "home2")
        write_folder(home2, sp, 1, [link(0, url("e.localhost"), mine, 0x02, last=TODAY - 27, period=31.0)])
        r = run_orvex(home2, ["/check"], env)
        check("expiring only: exit 0", r.returncode == 0, r.stderr)
        check("expiring only: no letter", len(letters(maildir)) == before)

        # --- a page that fails once and answers when tried again: no change, no letter -------------
        page("f.localhost", "links.html", '<a href="%s">mine</a>' % mine)
        page("f.localhost", "links.html.fault", "500 once")
        page("g.localhost", "links.html.fault", "503")
        open(os.path.join(tmp, "http.log"), "w").close()
        before = len(letters(maildir))
        home7 = os.path.join(tmp, "home7")
        write_folder(home7, sp, 1, [link(0, url("f.localhost"), mine, 0x01)])
        r = run_orvex(home7, ["/check", "--verbose"], env)
        check("retry: exit 0", r.returncode == 0, r.stderr)
        asked = [e for e in map(json.loads, open(os.path.join(tmp, "http.log"))) if e["path"] == "/links.html"]
        check("retry: a 500, then the page a second later",
              [e.get("fault") for e in asked] == ["500", None] and asked[1]["time"] - asked[0]["time"] >= 0.95,
              asked)
        check("retry: still Ok", read_database(os.path.join(home7, "data.orx"))[0]["status"] == 0x01)
        check("retry: no letter", len(letters(maildir)) == before)
        check("retry: --verbose says the second try saved it",
              "%s -> %s: answered when tried again (first try: HTTP status 500)" % (url("f.localhost"), mine)
              in r.stdout, r.stdout)
        # Failing twice, it counts.
        write_folder(home7, sp, 1, [link(0, url("g.localhost"), mine, 0x01)])
        r = run_orvex(home7, ["/check"], env)
        check("retry: failing twice exits 0", r.returncode == 0, r.stderr)
        check("retry: failing twice is Can't open page",
              read_database(os.path.join(home7, "data.orx"))[0]["status"] == 0x80)
        check("retry: failing twice is mailed", len(letters(maildir)) == before + 1)

        # --- notifications off: nothing fetched, the files still saved ---------------------------
        home3 = os.path.join(tmp, "home3")
        write_folder(home3, sp, 0, [link(0, url("c.localhost"), mine, 0x01)])
        open(os.path.join(tmp, "http.log"), "w").close()
        r = run_orvex(home3, ["/check"], env)
        check("switch off: exit 0", r.returncode == 0, r.stderr)
        check("switch off: nothing fetched", open(os.path.join(tmp, "http.log")).read() == "")
        check("switch off: saved", os.path.exists(os.path.join(home3, "data.orx.bak")))
        check("switch off: status untouched", read_database(os.path.join(home3, "data.orx"))[0]["status"] == 1)

        # --- a mail server that is not there: checked and saved, but said so -----------------------
        home5 = os.path.join(tmp, "home5")
        import socket
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        dead_port = s.getsockname()[1]
        s.close()
        write_folder(home5, dead_port, 1, [link(0, url("c.localhost"), mine, 0x01)])
        r = run_orvex(home5, ["/check"], env)
        check("no mail server: exit 3", r.returncode == 3, r.returncode)
        check("no mail server: said on stderr", "notification letter was not sent" in r.stderr, r.stderr)
        check("no mail server: results saved", read_database(os.path.join(home5, "data.orx"))[0]["status"] == 8)

        # --- the verdicts a seller cannot fool, as the weekly run gives them ----------------------
        mine6 = "http://mine6.localhost:%d/" % hp
        page("h.localhost", "backslash.html", '<a href="http://evil.localhost\\@mine6.localhost:%d/">x</a>' % hp)
        page("h.localhost", "template.html", '<template><a href="%s">x</a></template>' % mine6)
        page("h.localhost", "relative.html", '<a href="//mine6.localhost:%d/"> my&nbsp; site </a>' % hp)
        page("h.localhost", "blanks.html", '<a href=" %s ">my site</a>' % mine6)
        open(os.path.join(www, "h.localhost", "cp1251.html"), "wb").write(
            ('<a href="%s">Мой сайт</a>' % mine6).encode("cp1251"))
        page("r.localhost", "page.html", '<a href="%s">my site</a>' % mine6)
        page("r.localhost", "robots.txt.fault", "503")
        page("t.localhost", "robots.txt", "User-agent: *\nDisallow: /~joe/\n")
        page("t.localhost", "~joe/page.html", '<a href="%s">my site</a>' % mine6)
        page("xn--e1afmkfd.localhost", "page.html", '<a href="%s">my site</a>' % mine6)
        page("127.0.0.2", "page.html", '<a href="%s">my site</a>' % mine6)
        hurl = lambda path: "http://h.localhost:%d/%s" % (hp, path)  # noqa: E731
        cases = [
            (hurl("backslash.html"), "*", 0x08),
            (hurl("template.html"), "*", 0x08),
            (hurl("relative.html"), "my site", 0x01),
            (hurl("blanks.html"), "my site", 0x01),
            (hurl("_headers?Content-Type=text/html;%20charset=windows-1251&body=/cp1251.html"), "Мой сайт", 0x01),
            (hurl("_cut/headers"), "*", 0x80),
            ("http://r.localhost:%d/page.html" % hp, "*", 0x40),
            ("http://t.localhost:%d/%%7Ejoe/page.html" % hp, "*", 0x40),
            ("http://пример.localhost:%d/page.html" % hp, "*", 0x01),
            # 127.0.0.1 counts as a public address for this run (a variable only tests read).
            ("http://127.0.0.1:%d/_redirect?to=http://127.0.0.2:%d/page.html" % (hp, ports["alias"]), "*", 0x80),
        ]
        home6 = os.path.join(tmp, "home6")
        links6 = []
        for i, (frm, anchor, _) in enumerate(cases):
            l = link(i, frm, mine6, 0x01)
            l["anchor"] = anchor
            links6.append(l)
        write_folder(home6, sp, 1, links6)
        r = run_orvex(home6, ["/check"], dict(env, ORVEX_TEST_PUBLIC_ADDRESSES="127.0.0.1"))
        check("verdicts: /check ran", r.returncode in (0, 3), r.stderr)
        got = [l["status"] for l in read_database(os.path.join(home6, "data.orx"))]
        check("verdicts: every status as the page deserves", got == [c[2] for c in cases],
              "%s != %s" % ([hex(g) for g in got], [hex(c[2]) for c in cases]))

        # --- Ctrl+C: the workers finish what they hold, the rest stays, everything is saved -------
        slow, slow_ports = start([os.path.join(FAKES, "http_server.py"), "--root", www, "--port", "0",
                                  "--delay-ms", "400"], tmp, "slow")
        try:
            slow_url = lambda host: "http://%s:%d/links.html" % (host, slow_ports["http"])  # noqa: E731
            home4 = os.path.join(tmp, "home4")
            write_folder(home4, sp, 1, [link(i, slow_url("c.localhost"), mine, 0x01) for i in range(40)])
            p = subprocess.Popen([ORVEX, "/check"], env=dict(env, ORVEX_HOME=home4), stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
            time.sleep(1.5)
            p.send_signal(signal.SIGINT)
            out, err = p.communicate(timeout=60)
            check("Ctrl+C exits non-zero", p.returncode != 0, p.returncode)
            stored = read_database(os.path.join(home4, "data.orx"))
            done = sum(1 for l in stored if l["status"] == 0x08)
            check("Ctrl+C saved the links checked", done >= 1, done)
            check("Ctrl+C left the rest untouched", done < 40 and
                  all(l["status"] in (0x01, 0x08) for l in stored), done)
        finally:
            slow.terminate()
    finally:
        http.terminate()
        smtp.terminate()
    print("%d passed, %d failed" % (passes, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
