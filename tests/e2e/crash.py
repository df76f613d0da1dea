#!/usr/bin/python3
"""Faults on purpose in the built program: each leaves a whole "CrashReport.txt" in the program
folder, a new owner-only file in place of a longer earlier one (a symbolic link there is removed,
never followed), in the report's order with the fault's code and name, the registers, the dumps,
a call stack through the program's own module and the modules; the process ends by the fault's
own signal. "/check" names the report on stderr and starts no dialog; the window's case starts a
fresh copy showing the offer to mail it.

Usage: crash.py ORVEX
"""
import os
import re
import signal
import stat
import subprocess
import sys
import tempfile
import time

ORVEX = os.path.realpath(sys.argv[1])
HERE = os.path.dirname(os.path.abspath(__file__))
sys.argv = [sys.argv[0], ORVEX, os.path.join(HERE, "..", "fakes"), os.path.join(HERE, "..", "data")]
sys.path.insert(0, HERE)
import check_run  # noqa: E402
from check_run import check  # noqa: E402


def run(home, args, probe, extra=None):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(ORVEX_HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), ORVEX_TEST_CRASH_DIALOG_PROBE=probe,
               QT_QPA_PLATFORM="offscreen")
    env.update(extra or {})
    # No core files in the test folders; the exit status still tells the signal.
    return subprocess.run(["bash", "-c", 'ulimit -c 0; exec "$@"', "bash", ORVEX] + args, env=env,
                          capture_output=True, text=True, timeout=120)


ORDER = ["===============Orvex ", "OS : Linux ", "Module : " + ORVEX, "Built on ", "Exception code: ",
         "Fault address:  ", "Registers:", "RAX:", "R15:", "CS:RIP:", "SS:RSP:", "DS:", "Flags:", "RSP dump:",
         "RBP dump:", "RIP dump:", "Call stack:", "List of loaded modules:"]

CASES = [
    ("null", signal.SIGSEGV, "C0000005 ACCESS_VIOLATION"),
    ("divide", signal.SIGFPE, "C0000094 INT_DIVIDE_BY_ZERO"),
    ("abort", signal.SIGABRT, "E06D7363 ABORT"),
    ("exception", signal.SIGABRT, "E06D7363 C++ exception std::runtime_error: a fault on purpose"),
    ("recursion", signal.SIGSEGV, "C00000FD STACK_OVERFLOW"),
]


def main():
    tmp = tempfile.mkdtemp(prefix="orvex-crash-")
    for kind, sig, exception in CASES:
        home = os.path.join(tmp, kind) + "/"
        os.makedirs(home)
        report_path = home + "CrashReport.txt"
        earlier = "an earlier, longer report\n" * 20000
        # One case finds a symbolic link at the name, the others an earlier report anyone may read.
        elsewhere = os.path.join(tmp, kind + ".elsewhere")
        with open(elsewhere if kind == "divide" else report_path, "w") as f:
            f.write(earlier)
        if kind == "divide":
            os.symlink(elsewhere, report_path)
        else:
            os.chmod(report_path, 0o666)
        probe = os.path.join(tmp, kind + ".probe")
        r = run(home, ["--crash-test", kind, "/check"], probe)
        check("%s: ends by its signal" % kind, r.returncode == -sig, (r.returncode, r.stderr))
        check("%s: stderr names the report" % kind, report_path in r.stderr, r.stderr)
        check("%s: no dialog in /check" % kind, not os.path.exists(probe))
        check("%s: the report is a new file, the owner's alone" % kind,
              not os.path.islink(report_path) and stat.S_IMODE(os.lstat(report_path).st_mode) == 0o600,
              oct(os.lstat(report_path).st_mode))
        if kind == "divide":
            check("divide: the file the link named is untouched", open(elsewhere).read() == earlier)
        data = open(report_path, "rb").read().decode("utf-8", "replace")
        check("%s: nothing of the earlier report" % kind, "earlier" not in data, len(data))
        lines = data.split("\r\n")
        at = -1
        for start in ORDER:
            found = next((i for i, l in enumerate(lines) if l.startswith(start) and i > at), None)
            check("%s: %r comes in its place" % (kind, start), found is not None, data[:2000])
            at = found if found is not None else at
        check("%s: the exception line" % kind, "Exception code: " + exception in lines, data[:600])
        check("%s: 64-bit registers" % kind,
              all(re.fullmatch(r"[A-Z0-9]{2,3}:[0-9A-F]{16}", l) for l in lines if re.match(r"^R[A-Z0-9]{1,2}:", l)),
              data[:1500])
        stack = lines[lines.index("Call stack:") + 2:]
        frames = [l for l in stack[:stack.index("")] if l.startswith("\t")]
        check("%s: the call stack goes through the program's own module" % kind,
              any(ORVEX in f for f in frames), "\n".join(frames[:20]))
        if kind in ("null", "divide", "recursion"):
            check("%s: the faulting frame is in the program" % kind, frames and frames[0].endswith(ORVEX),
                  frames[:3])
            check("%s: the fault address names the program" % kind,
                  any(l.startswith("Fault address:") and l.endswith(ORVEX) for l in lines))
        if kind == "recursion":
            check("recursion: 200 frames, then Stack Overflow.", len(frames) == 200 and "Stack Overflow." in stack,
                  len(frames))
        else:
            check("%s: no Stack Overflow." % kind, "Stack Overflow." not in stack)
        check("%s: the modules list the program and libc" % kind,
              any(l.endswith(ORVEX) for l in lines[lines.index("List of loaded modules:"):]) and "libc.so" in data)

    # The window's case: a fresh copy shows the offer to mail the report.
    home = os.path.join(tmp, "window") + "/"
    os.makedirs(home)
    probe = os.path.join(tmp, "window.probe")
    r = run(home, ["--crash-test", "null"], probe)
    check("window: ends by its signal", r.returncode == -signal.SIGSEGV, r.returncode)
    check("window: stderr says nothing of the report", "crash report" not in r.stderr, r.stderr)
    deadline = time.monotonic() + 30
    while not os.path.exists(probe) and time.monotonic() < deadline:
        time.sleep(0.1)
    shown = open(probe, encoding="utf-8").read() if os.path.exists(probe) else ""
    for text in ("Orvex", "Unfortunately Orvex has encountered a problem and need to close.",
                 "We have created an error report", "Send Error Report", "Don't Send", home + "CrashReport.txt"):
        check("window: the dialog shows %r" % text, text in shown, shown)

    print("%d passed, %d failed" % (check_run.passes, check_run.failures))
    return 1 if check_run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
