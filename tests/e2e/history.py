#!/usr/bin/python3
"""The check history end to end: "/check" keeps a row per link with its evidence beside the
database, `orvex --history` prints it as text and CSV, and a history file that is damaged or not
ours neither stops "/check" nor keeps the database from being saved, and is never written to; on a
full disk the history gives way to the database's save and leaves no log behind.

Usage: history.py ORVEX FAKES_DIR DATA_DIR SMALL_DISK_LIBRARY
"""
import csv
import io
import os
import re
import shutil
import sqlite3
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_run  # noqa: E402
from check_run import ORVEX, FAKES, check, link, read_database, start, write_folder  # noqa: E402

SMALL_DISK = os.path.abspath(sys.argv[4])  # the preloaded small disk (tests/fakes/SmallDisk.cpp)

NOFOLLOW, CANT_OPEN = 0x20, 0x80


def main():
    tmp = tempfile.mkdtemp(prefix="orvex-history-")
    www = os.path.join(tmp, "www")
    mine = "http://mine.localhost/"
    os.makedirs(os.path.join(www, "a.localhost"))
    # The sponsored link does not count as external; the other one does, so a saved run shows.
    open(os.path.join(www, "a.localhost", "links.html"), "w").write(
        '<p><a rel="sponsored" href="%s">mine, "quoted"</a>, <a href="http://other.localhost/">x</a></p>\n' % mine)
    http, ports = start([os.path.join(FAKES, "http_server.py"), "--root", www, "--port", "0",
                         "--log", os.path.join(tmp, "http.log")], tmp, "http")
    hp = ports["http"]
    page_a = "http://a.localhost:%d/links.html" % hp
    page_b = "http://a.localhost:%d/_status/404" % hp
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env.update(XDG_CONFIG_HOME=os.path.join(tmp, "config"), TZ="UTC")
    for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVEX_PAGERANK_HOST"):
        env.pop(var, None)

    def orvex(home, *args):
        return subprocess.run([ORVEX] + list(args), env=dict(env, ORVEX_HOME=home), capture_output=True, text=True,
                              timeout=120)

    # The statuses the run will find, so nothing changes and no letter is due (no mail server here).
    links = [link(0, page_a, mine, NOFOLLOW), link(1, page_b, mine, CANT_OPEN)]
    try:
        home = os.path.join(tmp, "home")
        write_folder(home, 1, 1, links)
        history = os.path.join(home, "data.orx.history")
        for run in (1, 2):
            r = orvex(home, "/check")
            check("/check %d exits 0 quietly" % run, r.returncode == 0 and r.stderr == "", r.stderr)
        check("history beside the database, owner only",
              os.path.exists(history) and stat.S_IMODE(os.stat(history).st_mode) == 0o600)

        r = orvex(home, "--history", page_a.upper().replace("HTTP://", "http://"))
        check("--history exits 0", r.returncode == 0, r.stderr)
        rows = [l for l in r.stdout.splitlines() if l.startswith("  ")]
        check("--history: a row per check", len(rows) == 2, r.stdout)
        row = re.compile(r'^  \d{4}-\d\d-\d\d \d\d:\d\d  nofollow +HTTP 200 +nofollow: rel="sponsored" \| anchor: <a ')
        check("--history: time, status, HTTP status, evidence", all(row.match(l) for l in rows), r.stdout)

        r = orvex(home, "--history", "http://a.localhost:%d/" % hp)
        check("--history of a page without checks says so", r.returncode == 0 and "No check history for" in r.stdout,
              r.stdout + r.stderr)

        r = orvex(home, "--history", page_b, mine, "--csv")
        table = list(csv.reader(io.StringIO(r.stdout)))
        check("--csv exits 0", r.returncode == 0, r.stderr)
        check("--csv header", table and table[0] == ["time", "from_page", "to_page", "project", "status",
                                                      "http_status", "final_url", "pagerank", "external_links",
                                                      "evidence"], table[:1])
        check("--csv rows", len(table) == 3 and all(t[4] == "Can't open page" and t[5] == "404" and
                                                   t[9] == "fetch: HTTP status 404" for t in table[1:]), table)

        r = orvex(home, "--history", page_a, "--csv")
        table = list(csv.reader(io.StringIO(r.stdout)))
        # The anchor's own quotes and the evidence's line break come back whole through the quoting.
        check("--csv quotes", len(table) == 3 and table[1][9].startswith('nofollow: rel="sponsored"\nanchor: <a ') and
              'mine, "quoted"</a>' in table[1][9], table)

        for args in (["--history"], ["--history", "a", "b", "c"], ["--history", "a", "--tsv"]):
            r = orvex(home, *args)
            check("bad arguments exit 2: %s" % args, r.returncode == 2, r.returncode)

        # --- a link the partner takes down: when it went, and what the last check found ------------
        os.makedirs(os.path.join(www, "c.localhost"))
        page_c = "http://c.localhost:%d/links.html" % hp
        open(os.path.join(www, "c.localhost", "links.html"), "w").write('<a href="%s">My shop</a>\n' % mine)
        gone = os.path.join(tmp, "gone")
        write_folder(gone, 1, 1, [link(0, page_c, mine, 0x01)])
        orvex(gone, "/check")
        open(os.path.join(www, "c.localhost", "links.html"), "w").write("<p>no links here</p>\n")
        orvex(gone, "/check")  # Ok -> Not present: a letter, which finds no mail server (exit 3)
        r = orvex(gone, "--history", page_c)
        rows = [l for l in r.stdout.splitlines() if l.startswith("  ")]
        check("gone: --history shows the check that found it, then the one that did not",
              len(rows) == 2 and re.match(r'^  \d{4}-.{11}  Ok +HTTP 200 +anchor: <a href="%s">My shop</a>$' % mine,
                                          rows[0]) is not None and
              re.match(r"^  \d{4}-.{11}  Not present +HTTP 200 +not present: ", rows[1]) is not None, r.stdout)

        # --- old checks leave: by hand, and by the setting at each start ----------------------------
        db = sqlite3.connect(history)
        db.execute("UPDATE checks SET time = time - 400 * 86400 WHERE rowid IN (SELECT min(rowid) FROM checks)")
        db.commit()
        db.close()
        r = orvex(home, "--purge-history", "12")
        check("--purge-history removes the one old check",
              r.returncode == 0 and r.stdout.startswith("Removed 1 check older than "), r.stdout + r.stderr)
        r = orvex(home, "--purge-history", "12")
        check("--purge-history again removes none", r.stdout.startswith("Removed 0 checks"), r.stdout + r.stderr)
        db = sqlite3.connect(history)
        db.execute("UPDATE checks SET time = time - 100 * 86400")
        db.commit()
        before = db.execute("SELECT count(*) FROM checks").fetchone()[0]
        db.close()
        conf = os.path.join(tmp, "config", "Tessel Development", "Orvex.conf")
        os.makedirs(os.path.dirname(conf), exist_ok=True)
        open(conf, "w").write("[General]\nHistoryMonths=3\n")
        r = orvex(home, "/check")
        db = sqlite3.connect(history)
        after = [t for (t,) in db.execute("SELECT time FROM checks")]
        db.close()
        check("HistoryMonths=3: /check keeps only its own checks",
              r.returncode == 0 and before == 3 and len(after) == 2, (before, after, r.stderr))
        os.remove(conf)
        empty = os.path.join(tmp, "home-empty")
        write_folder(empty, 1, 1, links)
        r = orvex(empty, "--purge-history", "1")
        check("--purge-history without a history makes none",
              r.returncode == 0 and not os.path.exists(os.path.join(empty, "data.orx.history")), r.stdout + r.stderr)
        # A look never writes: an empty file is no history, and stays empty.
        open(os.path.join(empty, "data.orx.history"), "wb").close()
        r = orvex(empty, "--history", page_a)
        check("--history of an empty file exits 1 and leaves it empty",
              r.returncode == 1 and os.path.getsize(os.path.join(empty, "data.orx.history")) == 0,
              r.stdout + r.stderr)
        for args in (["--purge-history"], ["--purge-history", "0"], ["--purge-history", "x"]):
            r = orvex(home, *args)
            check("bad arguments exit 2: %s" % args, r.returncode == 2, r.returncode)

        # --- a history the user may read but not write ----------------------------------------------
        # Root writes any file, so as root the run is made by "nobody" on a folder it owns, beside a
        # history that stays root's.
        locked = os.path.join(tmp, "locked")
        write_folder(locked, 1, 1, links)
        orvex(locked, "/check")
        locked_history = os.path.join(locked, "data.orx.history")
        before = open(locked_history, "rb").read()
        os.remove(os.path.join(locked, "data.orx.bak"))
        prefix, run_env = [], dict(env, ORVEX_HOME=locked)
        if os.geteuid() == 0:
            prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            os.chmod(tmp, 0o755)
            run_env["XDG_CONFIG_HOME"] = os.path.join(locked, "config")
            for root, dirs, files in os.walk(locked):
                for name in dirs + files:
                    os.chown(os.path.join(root, name), 65534, 65534)
            os.chown(locked, 65534, 65534)
            os.chown(locked_history, 0, 0)
            os.chmod(locked_history, 0o644)
        else:
            os.chmod(locked_history, 0o444)
        r = subprocess.run(prefix + [ORVEX, "/check"], env=run_env, capture_output=True, text=True, timeout=120)
        check("read-only history: /check exits 0", r.returncode == 0, r.stderr)
        check("read-only history: said once on stderr", r.stderr.count("check history") == 1, r.stderr)
        check("read-only history: the database is saved",
              os.path.exists(os.path.join(locked, "data.orx.bak")), os.listdir(locked))
        check("read-only history: left as it was", open(locked_history, "rb").read() == before)
        r = subprocess.run(prefix + [ORVEX, "--history", page_a], env=run_env, capture_output=True, text=True,
                           timeout=120)
        check("read-only history: --history reads it", r.returncode == 0 and "nofollow" in r.stdout,
              r.stdout + r.stderr)

        # --- a page that would drive the terminal -----------------------------------------------
        # Its anchor text clears the screen, rings, writes the clipboard (OSC 52), hides a C1 CSI
        # and turns the line right to left; its X-Robots-Tag header retitles the terminal. Each
        # report shows all of it, as escapes, the CSV too.
        os.makedirs(os.path.join(www, "t.localhost"))
        open(os.path.join(www, "t.localhost", "page.html"), "wb").write(
            ('<a href="%s">mine\x1b[2J\x07\x1b]52;c;aGk=\x07\u009b2J\u202egnp.exe</a>\n' % mine).encode())
        page_t = ("http://t.localhost:%d/_headers?X-Robots-Tag=%%1B%%5D0%%3Bpwned%%07%%2C%%20nofollow&body=/page.html"
                  % hp)
        term = os.path.join(tmp, "term")
        write_folder(term, 1, 1, [link(0, page_t, mine, NOFOLLOW)])
        orvex(term, "/check")
        text = b"mine\\x1B[2J\\x07\\x1B]52;c;aGk=\\x07\\u009B2J\\u202Egnp.exe"
        title = b"\\x1B]0;pwned\\x07, nofollow"
        for name, args, shown in (("--check-link", ["--check-link", page_t, mine], [text, title]),
                                  ("--link-info", ["--link-info", page_t], [title]),
                                  ("--link-source", ["--link-source", page_t, mine], [text]),
                                  ("--history", ["--history", page_t], [text, title]),
                                  ("--history --csv", ["--history", page_t, "--csv"], [text, title])):
            r = subprocess.run([ORVEX] + args, env=dict(env, ORVEX_HOME=term), capture_output=True, timeout=120)
            out = r.stdout + r.stderr
            raw = re.findall(rb"[\x00-\x08\x0b-\x1f\x7f]|\xc2[\x80-\x9f]|\xe2\x80[\xaa-\xae]|\xe2\x81[\xa6-\xa9]", out)
            check("%s: no control character reaches the terminal, each shown as an escape" % name,
                  not raw and all(s in out for s in shown), (raw, out))

        # --- a damaged history ---------------------------------------------------------------------
        home2 = os.path.join(tmp, "home2")
        write_folder(home2, 1, 1, links)
        damaged = os.path.join(home2, "data.orx.history")
        junk = b"this is no history file\n" * 200
        open(damaged, "wb").write(junk)
        r = orvex(home2, "/check")
        check("damaged history: /check exits 0", r.returncode == 0, r.stderr)
        check("damaged history: said once on stderr", r.stderr.count("check history") == 1, r.stderr)
        saved = read_database(os.path.join(home2, "data.orx"))
        check("damaged history: the database is saved", saved[0]["externalLinks"] == 1, saved)
        check("damaged history: left as it was", open(damaged, "rb").read() == junk)
        r = orvex(home2, "--history", page_a)
        check("--history of a damaged file exits 1 with the reason",
              r.returncode == 1 and "check history" in r.stderr, r.stdout + r.stderr)

        # --- an SQLite file that is no history of ours: told once, left byte for byte; ours from
        # before the mark (the same tables, no mark) goes on and gets the mark ------------------------
        def made(*sql):
            def make(path):
                shutil.copy(history, path)
                db = sqlite3.connect(path)
                db.executescript(";".join(sql))
                db.close()
            return make

        def foreign(path):
            db = sqlite3.connect(path)
            db.execute("create table checks(a,b)")
            db.commit()
            db.close()

        mark = "PRAGMA application_id=%d; PRAGMA user_version=%d"
        for name, make, ours in (
                ("another program's", foreign, False),
                ("ours and one table more", made(mark % (0, 0), "create table extra(x)"), False),
                ("marked by a newer version", made(mark % (0x4F525648, 2)), False),
                ("ours from before the mark", made(mark % (0, 0)), True)):
            other = os.path.join(tmp, "home-" + name.replace(" ", "-").replace("'", ""))
            write_folder(other, 1, 1, links)
            path = os.path.join(other, "data.orx.history")
            make(path)
            before = open(path, "rb").read()
            kept = ours and sqlite3.connect(path).execute("SELECT count(*) FROM checks").fetchone()[0]
            r = orvex(other, "/check")
            check("%s history: /check exits 0" % name, r.returncode == 0, r.stderr)
            saved = read_database(os.path.join(other, "data.orx"))
            check("%s history: the database is saved" % name, saved[0]["externalLinks"] == 1, saved)
            r2 = orvex(other, "--history", page_a)
            if not ours:
                check("%s history: said once on stderr" % name, r.stderr.count("check history") == 1, r.stderr)
                check("%s history: left byte for byte" % name, open(path, "rb").read() == before)
                check("%s history: --history exits 1 with the reason" % name,
                      r2.returncode == 1 and "check history" in r2.stderr, r2.stdout + r2.stderr)
                continue
            db = sqlite3.connect(path)
            marked = db.execute("PRAGMA application_id").fetchone()[0], db.execute("PRAGMA user_version").fetchone()[0]
            now = db.execute("SELECT count(*) FROM checks").fetchone()[0]
            db.close()
            check("%s history: nothing said" % name, r.stderr == "" and r2.returncode == 0, r.stderr + r2.stderr)
            check("%s history: marked now" % name, marked == (0x4F525648, 1), marked)
            check("%s history: its checks kept, this run's added" % name, now == kept + len(links), (kept, now))

        # --- a full disk: the database is saved first, the history gives way and leaves no log ------
        # 200 links on a disk with 400 KB free, as the preloaded small disk makes the folder's, and
        # the log an earlier run left there when it found the disk full.
        full = os.path.join(tmp, "full")
        write_folder(full, 1, 1, [link(i, "%s?n=%d" % (page_a, i), mine, NOFOLLOW) for i in range(200)])
        shutil.copy(history, os.path.join(full, "data.orx.history"))
        subprocess.run([sys.executable, "-c", "import os, sqlite3\n"
                        "db = sqlite3.connect(%r, isolation_level=None)\n"
                        "db.execute('PRAGMA wal_autocheckpoint=0')\n"
                        "for t in range(300): db.execute('INSERT INTO checks VALUES (1, ?, 1, 200, NULL, 0, 0, ?)',"
                        " (t, 'e' * 300))\n"
                        "os._exit(0)" % os.path.join(full, "data.orx.history")], check=True)
        log = os.path.getsize(os.path.join(full, "data.orx.history-wal"))
        check("an earlier run's log is there", log > 1000000, log)

        def disk_with_free(room):
            used = sum(os.path.getsize(os.path.join(full, n)) for n in os.listdir(full))
            return dict(env, ORVEX_HOME=full, LD_PRELOAD=SMALL_DISK, SMALL_DISK_DIR=full,
                        SMALL_DISK_BYTES=str(used + room),
                        ASAN_OPTIONS=(env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0").lstrip(":"))

        r = subprocess.run([sys.executable, "-c", "open('filler', 'wb').write(bytes(500 * 1024))"], cwd=full,
                           env=disk_with_free(400 * 1024), capture_output=True, text=True)
        check("the small disk: 500 KB do not fit", "No space left on device" in r.stderr, r.stderr)
        os.remove(os.path.join(full, "filler"))
        # The next run finds the disk as full again: what the first one gave back went elsewhere.
        for run in (1, 2):
            r = subprocess.run([ORVEX, "/check"], env=disk_with_free(400 * 1024), capture_output=True, text=True,
                               timeout=120)
            check("full disk, run %d: /check exits 0, the database saved" % run,
                  r.returncode == 0 and "could not be saved" not in r.stderr, r.stderr)
            check("full disk, run %d: the history gives way, said once" % run,
                  r.stderr.count("check history") == 1 and "disk has" in r.stderr, r.stderr)
            check("full disk, run %d: the checks are in the database" % run,
                  all(l["externalLinks"] == 1 for l in read_database(os.path.join(full, "data.orx"))))
            left = [n for n in os.listdir(full) if n.endswith(("-wal", "-shm", "-journal"))]
            check("full disk, run %d: no log left behind" % run, left == [], left)
    finally:
        http.terminate()
        http.wait()

    print("%d passed, %d failed" % (check_run.passes, check_run.failures))
    return 1 if check_run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
