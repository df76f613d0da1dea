#!/usr/bin/python3
"""Faults a user or a machine brings, tried on the built program: damaged files, links that lead
nowhere, a file-size limit, kill -9 during a save, two folders on one database, a held folder
lock, SIGTERM while the letter is being mailed, and a proxy that refuses every connection. Each must end with a message and a non-zero
exit, and leave what the user has as it was.

Usage: faults.py ORVEX FAKES_DIR DATA_DIR SAMPLE_DATABASE
"""
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ORVEX, FAKES, DATA, SAMPLE = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
sys.argv = sys.argv[:4]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_run  # noqa: E402
from check_run import check, link, read_database, start, write_folder  # noqa: E402
from make_reference_db import database, sample_link  # noqa: E402


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def folder(tmp, name, db=None):
    home = os.path.join(tmp, name)
    os.makedirs(home)
    if db is not None:
        write(os.path.join(home, "data.orx"), db)
    return home


def temporaries(home):
    return sorted(n for n in os.listdir(home) if ".tmp" in n)


def main():
    tmp = tempfile.mkdtemp(prefix="orvex-faults-")
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env["XDG_CONFIG_HOME"] = os.path.join(tmp, "config")
    for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVEX_PAGERANK_HOST"):
        env.pop(var, None)

    def orvex(home, *args, timeout=60, prefix=()):
        return subprocess.run(list(prefix) + [ORVEX] + list(args), env=dict(env, ORVEX_HOME=home),
                              capture_output=True, text=True, timeout=timeout)

    sample = read(SAMPLE)
    count_at = sample.find(b"CLinksManager") + len(b"CLinksManager")
    try:
        # --- damaged databases: refused, never saved over, the backup kept ----------------------
        lowered = bytearray(sample)
        lowered[count_at:count_at + 4] = (1).to_bytes(4, "little")
        for name, damaged in (("link count 40 -> 1", bytes(lowered)),
                              ("55 bytes deleted at 1280", sample[:1280] + sample[1335:])):
            home = folder(tmp, "db-" + str(len(os.listdir(tmp))), damaged)
            write(os.path.join(home, "data.orx.bak"), b"the previous save")
            for attempt in (1, 2):
                r = orvex(home, "/check")
                check("%s: /check exits 1 (run %d)" % (name, attempt), r.returncode == 1, r.returncode)
                check("%s: the message names the file" % name, os.path.join(home, "data.orx") in r.stderr,
                      r.stderr)
            check("%s: data.orx untouched" % name, read(os.path.join(home, "data.orx")) == damaged)
            check("%s: data.orx.bak untouched" % name,
                  read(os.path.join(home, "data.orx.bak")) == b"the previous save")

        # --- a damaged ORX.cfg: the mail settings and the password are never replaced -----------
        home = folder(tmp, "cfg", sample)
        r = orvex(home, "/check")
        check("cfg: a good run first", r.returncode == 0, r.stderr)
        r = orvex(home, "/check")  # leaves ORX.cfg.bak
        cfg = read(os.path.join(home, "ORX.cfg"))
        cut = cfg[:-10]
        write(os.path.join(home, "ORX.cfg"), cut)
        bak = read(os.path.join(home, "ORX.cfg.bak"))
        for attempt in (1, 2):
            r = orvex(home, "/check")
            check("cfg: /check exits 1 (run %d)" % attempt, r.returncode == 1, r.returncode)
            check("cfg: the message names the file", os.path.join(home, "ORX.cfg") in r.stderr, r.stderr)
        check("cfg: ORX.cfg untouched", read(os.path.join(home, "ORX.cfg")) == cut)
        check("cfg: ORX.cfg.bak untouched", read(os.path.join(home, "ORX.cfg.bak")) == bak)
        r = orvex(home, "--test-mail")
        check("cfg: --test-mail fails on it", r.returncode != 0 and "ORX.cfg" in r.stdout + r.stderr,
              r.stdout + r.stderr)

        # --- a dangling link: its target is written, or an error names it; never replaced -------
        home = folder(tmp, "dangling")
        os.symlink(os.path.join(tmp, "gone", "data.orx"), os.path.join(home, "data.orx"))
        r = orvex(home, "/check")
        check("dangling: /check exits 1", r.returncode == 1, r.returncode)
        check("dangling: the message names the target", os.path.join(tmp, "gone", "data.orx") in r.stderr,
              r.stderr)
        check("dangling: the link stays a link", os.path.islink(os.path.join(home, "data.orx")))
        os.makedirs(os.path.join(tmp, "gone"))
        r = orvex(home, "/check")
        check("dangling: with its folder there, exit 0", r.returncode == 0, r.stderr)
        check("dangling: the target written", (read(os.path.join(tmp, "gone", "data.orx")) or b"")[:3] == b"ORX")
        check("dangling: still a link", os.path.islink(os.path.join(home, "data.orx")))

        # --- a file-size limit below the database's size: an error, not SIGXFSZ ---------------
        home = folder(tmp, "fsize", sample)
        r = orvex(home, "/check", prefix=("bash", "-c", 'ulimit -f 4; exec "$@"', "bash"))
        check("ulimit -f: exit 1, not a signal", r.returncode == 1, r.returncode)
        check("ulimit -f: the message names the reason", "File too large" in r.stderr, r.stderr)
        check("ulimit -f: data.orx untouched", read(os.path.join(home, "data.orx")) == sample)
        check("ulimit -f: no temporaries left", temporaries(home) == [], temporaries(home))

        # --- kill -9 during saves: the old file or the new, never a torn one; no leftovers ------
        big = database([{"id": 1, "name": "Partner"}],
                       [sample_link(i, 1, comment="c" * 200) for i in range(30000)], -1, 2)
        home = folder(tmp, "kill", big)
        killed_with_temporary = 0
        random.seed(9)
        for attempt in range(24):
            p = subprocess.Popen([ORVEX, "/check"], env=dict(env, ORVEX_HOME=home),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if attempt % 2 == 0:
                # Half the kills wait for the save's temporary file, so some surely land inside one.
                deadline = time.monotonic() + 10
                while not temporaries(home) and p.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.001)
                time.sleep(random.uniform(0, 0.02))
            else:
                time.sleep(random.uniform(0.05, 0.6))
            p.send_signal(signal.SIGKILL)
            p.wait()
            if temporaries(home):
                killed_with_temporary += 1
            check("kill -9: data.orx is whole", read(os.path.join(home, "data.orx")) == big)
        check("kill -9: some kills landed inside a save", killed_with_temporary > 0, killed_with_temporary)
        r = orvex(home, "/check")
        check("kill -9: the next run exits 0", r.returncode == 0, r.stderr)
        check("kill -9: the next run removed every temporary", temporaries(home) == [], temporaries(home))
        check("kill -9: and saved the same database", read(os.path.join(home, "data.orx")) == big)

        # --- the folder's lock held by something that takes no check over -----------------------
        home = folder(tmp, "held", sample)
        # Its own process group: killing flock alone would leave the sleep holding the test's output
        # open, and the test would end only when the sleep does.
        holder = subprocess.Popen(["flock", os.path.join(home, ".orvex.lock"), "sleep", "30"],
                                  start_new_session=True)
        try:
            for _ in range(50):
                if subprocess.run(["flock", "-n", os.path.join(home, ".orvex.lock"), "true"]).returncode != 0:
                    break
                time.sleep(0.1)
            r = orvex(home, "/check", "--verbose")
            check("held lock: exit 1", r.returncode == 1, r.returncode)
            check("held lock: said on stderr", "another Orvex is running on this folder" in r.stderr, r.stderr)
            check("held lock: nothing claims success", r.stdout == "", r.stdout)
        finally:
            os.killpg(holder.pid, signal.SIGKILL)
            holder.wait()

        # --- two program folders, one database: the second user refuses ------------------------
        first = folder(tmp, "first", sample)
        second = folder(tmp, "second")
        orvex(first, "/check")  # a settings file, so that the window asks nothing at its start
        orvex(second, "/check")
        cfg = bytearray(read(os.path.join(second, "ORX.cfg")))
        own = os.path.join(second, "data.orx").encode()
        at = cfg.find(own)
        shared = os.path.join(first, "data.orx").encode()
        cfg[at - 1:at + len(own)] = bytes([len(shared)]) + shared
        write(os.path.join(second, "ORX.cfg"), bytes(cfg))
        window = subprocess.Popen([ORVEX], env=dict(env, ORVEX_HOME=first, QT_QPA_PLATFORM="offscreen"),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):
                if subprocess.run(["flock", "-n", os.path.join(first, ".data.orx.lock"), "true"]).returncode != 0:
                    break
                time.sleep(0.1)
            before = read(os.path.join(first, "data.orx"))
            r = orvex(second, "/check")
            check("shared database: the second user exits 1", r.returncode == 1, r.returncode)
            check("shared database: says it is in use", "in use by another running Orvex" in r.stderr, r.stderr)
            check("shared database: left alone", read(os.path.join(first, "data.orx")) == before)
        finally:
            window.send_signal(signal.SIGTERM)
            window.wait(timeout=30)

        # --- SIGTERM while the letter is being mailed -------------------------------------------
        www = os.path.join(tmp, "www")
        os.makedirs(os.path.join(www, "gone.localhost"))
        write(os.path.join(www, "gone.localhost", "links.html"), b"<p>the link is gone</p>")
        http, ports = start([os.path.join(FAKES, "http_server.py"), "--root", www, "--port", "0"], tmp, "http")
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        try:
            home = os.path.join(tmp, "mailing")
            url = "http://gone.localhost:%d/links.html" % ports["http"]
            write_folder(home, silent.getsockname()[1], 1, [link(0, url, "http://mine.localhost/", 0x01)])
            p = subprocess.Popen([ORVEX, "/check"], env=dict(env, ORVEX_HOME=home), stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
            silent.settimeout(30)
            conn, _ = silent.accept()  # the run is mailing now: it waits for a greeting that never comes
            time.sleep(0.3)
            sent = time.monotonic()
            p.send_signal(signal.SIGTERM)
            out, err = p.communicate(timeout=30)
            took = time.monotonic() - sent
            conn.close()
            check("SIGTERM while mailing: exit 143", p.returncode == 128 + signal.SIGTERM, p.returncode)
            check("SIGTERM while mailing: ends at once", took < 5, took)
            check("SIGTERM while mailing: says the letter was abandoned", "abandoned" in err, err)
            stored = read_database(os.path.join(home, "data.orx"))
            check("SIGTERM while mailing: the result is saved", stored[0]["status"] == 0x08, stored)

            # --- the user's own proxy refuses: nothing changes, nothing is mailed, and it says why -
            closed = socket.socket()
            closed.bind(("127.0.0.1", 0))
            proxy_port = closed.getsockname()[1]
            closed.close()  # nothing listens there now: every connection is refused
            home = os.path.join(tmp, "proxy")
            links = [link(i, "http://p%d.localhost:%d/links.html" % (i, ports["http"]), "http://mine.localhost/",
                          0x01, pr=3, prev=5) for i in range(3)]
            # A letter would go to the same closed port and fail loudly (exit 3).
            write_folder(home, proxy_port, 1, links, proxy=("127.0.0.1", proxy_port))
            before = read_database(os.path.join(home, "data.orx"))
            r = orvex(home, "/check")
            check("refusing proxy: exit 1", r.returncode == 1, (r.returncode, r.stderr))
            check("refusing proxy: says why",
                  "The proxy 127.0.0.1:%d refused the connection; nothing was changed" % proxy_port in r.stderr,
                  r.stderr)
            check("refusing proxy: no letter tried", "letter" not in r.stderr, r.stderr)
            check("refusing proxy: every link as it was", read_database(os.path.join(home, "data.orx")) == before,
                  read_database(os.path.join(home, "data.orx")))
            r = orvex(home, "--check-link", links[0]["from"], "http://mine.localhost/")
            check("refusing proxy: --check-link names the proxy",
                  "evidence: fetch: the proxy 127.0.0.1:%d refused the connection (" % proxy_port in r.stdout,
                  r.stdout + r.stderr)
        finally:
            silent.close()
            http.terminate()
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d passed, %d failed" % (check_run.passes, check_run.failures))
    return 1 if check_run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
