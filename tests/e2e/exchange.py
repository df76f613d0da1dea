#!/usr/bin/python3
"""Spreadsheets in and out through the command line, as scripts and cron use them.

One sheet of link deals is saved by LibreOffice as .xlsx, .xls and .ods; each imports with the
program's guess of the columns (and the CSV with --columns), and all give the same database. That
database exports to .xlsx, which LibreOffice reads back cell for cell, and to text. Refusals leave
everything as it was: a window holding the folder, an unreadable workbook, an unreadable database,
--dry-run, a named pipe, a sheet of a million repeated rows, too little memory, an export target the
user may not write, Ctrl+C or a kill during an export. Usage: exchange.py ORVEX
"""
import csv
import datetime
import fcntl
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import zipfile

ORVEX = sys.argv[1]
failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what)
    if not ok:
        failures.append(what)


def environment(home):
    env = dict(os.environ, ORVEX_HOME=home, QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    return env


def orvex(home, *args, prefix=(), timeout=120):
    try:
        proc = subprocess.run([*prefix, ORVEX, *args], env=environment(home), capture_output=True, text=True,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, "", "still running after %d s" % timeout
    return proc.returncode, proc.stdout, proc.stderr


def soffice(work, *args):
    profile = tempfile.mkdtemp(prefix="orvex-e2e-lo-")
    try:
        subprocess.run(["soffice", "--headless", "-env:UserInstallation=file://" + profile, *args], cwd=work,
                       check=True, capture_output=True, timeout=300)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# Header first, then five deals: the sample rows the guess looks at hold four of them.
SHEET = [
    ["Project", "Anchor", "From page", "To page", "Paid", "Ends", "Price", "PR", "Partner", "Pay by", "Notes"],
    ["Garden", "cheap garden tools", "http://www.one.example/links.html", "http://www.mine.example/", "2024-01-01",
     "2024-01-31", "$30", "4", "John Smith (john@example.com)", "PayPal", "first deal"],
    ["Garden", "garden tools", "http://www.two.example/", "http://www.mine.example/", "2024-02-15", "2024-03-14",
     "$12", "0", "Mary Jones", "WMZ", ""],
    ["Shop", "blue widgets", "http://blog.example/", "http://www.mine.example/", "2023-12-31", "2024-12-31",
     "$1234", "10", "mary@example.com", "PayPal", "renewed twice"],
    ["Shop", "#a#red widgets#/a#", "http://www.three.example/", "http://www.mine.example/", "2024-03-01",
     "2024-09-01", "$45", "2", "Mary Jones", "PayPal", ""],
    ["Blog", "Проект links", "http://www.four.example/", "http://www.mine.example/blog", "2024-04-01",
     "2025-04-01", "$5", "1", "Ann Lee", "WebMoney", ""],
]
# The headings name every column but E and F (dates) and J (payment names), which their cells decide.
GUESS = ("A=Project name,B=Anchor,C=From page,D=To Page,E=Start date,F=Expiry date,G=Price,H=Starting PR,"
         "I=Partner name,J=Payment type,K=Comment")
EXPORT_HEADER = ["Partner", "Partner organization", "Partner e-mail", "Partner ICQ number", "Partner phone number",
                 "Project", "From Page", "To Page", "Anchor", "First payment date", "Last payment date",
                 "Expiry date", "Price", "Full cost", "Status"]


def as_date(text):
    for form in ("%m/%d/%y", "%m/%d/%Y", "%Y-%m-%d", "%d.%m.%Y"):
        try:
            return datetime.datetime.strptime(text, form).date().isoformat()
        except ValueError:
            pass
    return text


def text_rows(path):
    """The text export's rows, without the trailing tab of each data line."""
    if not os.path.exists(path):
        return []
    lines = read(path).decode("utf-8").split("\r\n")
    check(lines[-1] == "", "the text export ends its last line with CR LF")
    rows = [line.split("\t") for line in lines[:-1]]
    return [rows[0]] + [row[:-1] if row and row[-1] == "" else row for row in rows[1:]]


def repeated_rows_ods(path, repeat):
    """A few hundred bytes of OpenDocument: one row of a deal, repeated `repeat` times."""
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"')
    cells = "".join('<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % text
                    for text in ("Garden", "http://www.one.example/", "Ann"))
    content = ('<?xml version="1.0" encoding="UTF-8"?><office:document-content %s><office:body>'
               '<office:spreadsheet><table:table table:name="Deals"><table:table-row table:number-rows-repeated="%d">'
               '%s</table:table-row></table:table></office:spreadsheet></office:body></office:document-content>'
               % (ns, repeat, cells))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
        z.writestr("content.xml", content)


def temporaries(folder):
    return sorted(n for n in os.listdir(folder) if ".tmp" in n)


def hostile_files_and_targets(work):
    """What an attacker or an unlucky user hands the command line: nothing hangs, nothing crashes,
    nothing the user has is changed."""
    home = os.path.join(work, "home-hostile")
    deals = os.path.join(work, "many.csv")
    with open(deals, "w", newline="") as f:
        csv.writer(f).writerows(["Garden", "anchor %d" % i, "http://www.p%d.example/links.html" % i,
                                 "http://www.mine.example/", "Partner %d" % (i % 500)] for i in range(100000))
    code, out, err = orvex(home, "--import", deals, "--columns",
                           "A=Project name,B=Anchor,C=From page,D=To Page,E=Partner name")
    check(code == 0, "100,000 deals to export (%s %s)" % (code, err.strip()))
    database = os.path.join(home, "data.orx")
    before = read(database)

    def unchanged(what):
        check(read(database) == before, what + ": the database is as it was")
        crashes = [n for n in os.listdir(home) if "crash" in n.lower()]
        check(not crashes, what + ": no crash report %s" % crashes)
        with open(database, "wb") as f:  # the next case starts from the same
            f.write(before)
        for name in crashes:
            os.remove(os.path.join(home, name))

    pipe = os.path.join(work, "deals-pipe.csv")
    os.mkfifo(pipe)
    code, out, err = orvex(home, "--import", pipe, timeout=20)
    check(code == 1 and '"%s" is a named pipe, not a workbook file' % pipe in err,
          "a named pipe is refused at once (%s %s)" % (code, err.strip()))
    unchanged("a named pipe")

    # A memory limit stops AddressSanitizer itself, which reserves terabytes of address space.
    sanitized = "libasan" in subprocess.run(["ldd", ORVEX], capture_output=True, text=True).stdout
    columns = ("--columns", "A=Project name,B=From page,C=Partner name")
    for what, repeat, limit, reasons in (
            ("a row repeated 1,000,001 times", 1000001, None,
             ("refused: the sheet holds more than 1,000,000 links; nothing was added",)),
            ("a row repeated 5,000,000 times in 700 MB", 5000000, 700000,
             ("not enough memory", "more than 1,000,000 links")),
            # Its copies count against the cell limit before they are made: refused for that, in little memory.
            ("a row repeated 7,000,000 times in 400 MB", 7000000, 400000,
             ("the workbook holds more than 20000000 cells",))):
        if limit and sanitized:
            print("not run  %s: under AddressSanitizer" % what)
            continue
        sheet = os.path.join(work, "repeated.ods")
        repeated_rows_ods(sheet, repeat)
        check(os.path.getsize(sheet) < 1000, "%s: a file of %d bytes" % (what, os.path.getsize(sheet)))
        prefix = ("bash", "-c", 'ulimit -v %d; exec "$@"' % limit, "bash") if limit else ()
        code, out, err = orvex(home, "--import", sheet, *columns, prefix=prefix)
        check(code == 1 and any(r in err for r in reasons),
              "%s: refused with the reason (%s %s)" % (what, code, err.strip()))
        unchanged(what)

    # Targets the user may not write. The superuser may write anything, so the exports run as nobody
    # then, from a folder anyone may write in.
    as_user = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups") if os.geteuid() == 0 else ()
    out_dir = os.path.join(work, "out")
    os.makedirs(out_dir)
    for path in (work, home, out_dir):
        os.chmod(path, 0o777 if path == out_dir else 0o755)
    os.chmod(database, 0o644)
    for name in ("locked.txt", "locked.xlsx"):
        target = os.path.join(out_dir, name)
        with open(target, "wb") as f:
            f.write(b"the user's own file")
        os.chmod(target, 0o444)
        code, out, err = orvex(home, "--export", target, prefix=as_user)
        check(code == 1 and 'cannot write "%s": Permission denied' % target in err,
              "%s: a read-only target is refused with the reason (%s %s)" % (name, code, err.strip()))
        check(read(target) == b"the user's own file", "%s: and left as it was" % name)
        check(temporaries(out_dir) == [], "%s: no temporary left %s" % (name, temporaries(out_dir)))

    # A new export gets the mode the user's umask gives; a replaced one keeps its own.
    for name, existing, umask, mode in (("new.xlsx", None, 0o027, 0o640), ("new.txt", None, 0o022, 0o644),
                                        ("kept.xlsx", 0o600, 0o022, 0o600)):
        target = os.path.join(out_dir, name)
        if existing is not None:
            with open(target, "wb") as f:
                f.write(b"old")
            os.chmod(target, existing)
        code, out, err = orvex(home, "--export", target, prefix=("bash", "-c", 'umask %o; exec "$@"' % umask, "bash"))
        got = stat.S_IMODE(os.stat(target).st_mode) if os.path.exists(target) else None
        check(code == 0 and got == mode, "%s: mode %s, wanted %s (%s)" % (name, oct(got or 0), oct(mode), err.strip()))

    # Ctrl+C or a kill while the workbook is written: the command ends by that signal, and the old
    # file is all that is left.
    target = os.path.join(out_dir, "links.xlsx")
    with open(target, "wb") as f:
        f.write(b"the previous export")
    for sig in (signal.SIGTERM, signal.SIGINT):
        landed, wrong = 0, []
        for attempt in range(6):
            p = subprocess.Popen([ORVEX, "--export", target], env=environment(home), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 20
            while not temporaries(out_dir) and p.poll() is None and time.monotonic() < deadline:
                time.sleep(0.001)
            time.sleep(0.05 * attempt)
            if p.poll() is None:
                p.send_signal(sig)
            code = p.wait(timeout=30)
            if code == 0:  # done before the signal came
                with open(target, "wb") as f:
                    f.write(b"the previous export")
                continue
            landed += 1
            if code != -sig or read(target) != b"the previous export" or temporaries(out_dir):
                wrong.append((code, read(target)[:20], temporaries(out_dir)))
        check(landed > 0 and not wrong, "%s during an export: %d of 6 landed, each ended the export by the signal and "
              "left the old file and no temporary %s" % (sig.name, landed, wrong))


def main():
    work = tempfile.mkdtemp(prefix="orvex-e2e-exchange-")
    try:
        hostile_files_and_targets(work)
        source = os.path.join(work, "deals.csv")
        with open(source, "w", newline="", encoding="utf-8") as f:
            csv.writer(f).writerows(SHEET)
        # en-US with special numbers detected: ISO dates become date cells, "$30" a currency number.
        for fmt in ("xlsx", "xls", "ods"):
            soffice(work, "--infilter=CSV:44,34,76,1,,1033,false,true", "--convert-to", fmt, "--outdir", work, source)

        # The guess said again on the command line, which the import must take as it is.
        columns = GUESS
        exports = {}
        for fmt in ("xlsx", "ods", "xls", "csv"):
            home = os.path.join(work, "home-" + fmt)
            path = os.path.join(work, "deals." + fmt)
            code, out, err = orvex(home, "--import", path, "--dry-run")
            first = out.splitlines()[0] if out else ""
            # The "Price" heading decides G even where no number format shows a "$" (.xls, .csv).
            check(code == 0 and first == "Columns (guessed): " + GUESS,
                  "%s: the guess %r (exit %d %s)" % (fmt, first, code, err.strip()))
            code, out, err = orvex(home, "--import", path, "--columns", columns)
            check(code == 0, "%s imports (exit %d) %s" % (fmt, code, err.strip()))
            check("First data row: 2" in out, "%s: the data start in row 2" % fmt)
            check("Imported 5 links and 4 new partners from rows 2 to 6 of sheet" in out,
                  "%s: summary %r" % (fmt, out.strip().splitlines()[-1] if out.strip() else ""))
            code, out, err = orvex(home, "--export", os.path.join(work, fmt + ".txt"))
            check(code == 0 and out.strip() == "Exported 5 links to " + os.path.join(work, fmt + ".txt"),
                  "%s: text export says what it wrote (%r %r)" % (fmt, out.strip(), err.strip()))
            exports[fmt] = text_rows(os.path.join(work, fmt + ".txt"))

        reference = exports["xlsx"]
        for fmt in ("ods", "xls", "csv"):
            check(exports[fmt] == reference, "%s gives the same database as xlsx" % fmt)

        by_anchor = {row[8]: row for row in reference[1:]}
        smith = by_anchor.get("cheap garden tools", [""] * 15)
        check(smith[0:3] == ["John Smith", "", "john@example.com"], "the e-mail in the name cell becomes the e-mail")
        check(as_date(smith[9]) == "2024-01-01" and as_date(smith[11]) == "2024-02-01",
              "31 January as the end of a January deal expires on 1 February")
        check(smith[12] == "30", "the price is a number")
        check("red widgets" in by_anchor, "an anchor written as #a#...#/a# is its inner text")
        check(by_anchor.get("blue widgets", [""])[0] == "mary@example.com",
              "a name that is only an address stays the name")

        # Export to .xlsx and have LibreOffice read it back.
        xlsx = os.path.join(work, "links.xlsx")
        code, out, err = orvex(os.path.join(work, "home-xlsx"), "--export", xlsx)
        check(code == 0 and out.strip() == "Exported 5 links to " + xlsx, "the workbook export says what it wrote")
        back = os.path.join(work, "back")
        os.makedirs(back)
        soffice(work, "--convert-to", 'csv:Text - txt - csv (StarCalc):44,34,76', "--outdir", back, xlsx)
        with open(os.path.join(back, "links.csv"), newline="", encoding="utf-8") as f:
            cells = list(csv.reader(f))
        check(cells[0] == EXPORT_HEADER, "the workbook's header row: %s" % cells[0])
        differ = [] if len(cells) == len(reference) else ["%d rows, not %d" % (len(cells), len(reference))]
        for got, want in zip(cells[1:], reference[1:]):
            got = got[:9] + [as_date(c) for c in got[9:12]] + got[12:]
            want = want[:9] + [as_date(c) for c in want[9:12]] + want[12:]
            if got != want:
                differ.append("%s != %s" % (got, want))
        check(not differ, "LibreOffice reads back every cell of the workbook export " + "; ".join(differ))

        # Refusals change nothing.
        home = os.path.join(work, "home-xlsx")
        database = os.path.join(home, "data.orx")
        before = read(database)
        lock = open(os.path.join(home, ".orvex.lock"), "a+")
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        code, out, err = orvex(home, "--import", os.path.join(work, "deals.ods"))
        check(code == 1 and "another Orvex is running on this folder" in err, "a held folder refuses the import")
        code, out, err = orvex(home, "--import", os.path.join(work, "deals.ods"), "--dry-run")
        check(code == 0 and "Imported 5 links" in out, "a dry run works while a window holds the folder")
        fcntl.flock(lock, fcntl.LOCK_UN)
        lock.close()
        check(read(database) == before, "neither touched the database")

        damaged = os.path.join(work, "damaged.xlsx")
        with open(damaged, "wb") as f:
            f.write(read(os.path.join(work, "deals.xlsx"))[:3000])
        code, out, err = orvex(home, "--import", damaged)
        check(code == 1 and "Can not load file" in err, "a cut-off workbook is refused (%d %s)" % (code, err.strip()))
        check(read(database) == before, "and the database is left as it was")

        empty_home = os.path.join(work, "home-dry")
        code, out, err = orvex(empty_home, "--import", os.path.join(work, "deals.xlsx"), "--dry-run")
        check(code == 0 and "Nothing was saved" in out, "--dry-run says it saved nothing")
        check(not os.path.exists(os.path.join(empty_home, "data.orx")), "and writes no database")

        bad_home = os.path.join(work, "home-bad")
        os.makedirs(bad_home)
        with open(os.path.join(bad_home, "data.orx"), "wb") as f:
            f.write(before[: len(before) // 2])
        code, out, err = orvex(bad_home, "--import", os.path.join(work, "deals.xlsx"))
        check(code == 1 and "could not be read" in err, "an unreadable database refuses the import")
        check(read(os.path.join(bad_home, "data.orx")) == before[: len(before) // 2], "and is not written over")

        code, out, err = orvex(home, "--export", os.path.join(work, "links.xls"))
        check(code == 2 and "Usage:" in err, "--export to another extension is a usage error")
        code, out, err = orvex(home, "--import", os.path.join(work, "deals.xlsx"), "--columns", "Q=Anchor")
        check(code == 2 and "A to P" in err, "a column outside A to P is a usage error")
        code, out, err = orvex(home, "--export", os.path.join(work, "no-such-folder", "links.xlsx"))
        check(code == 1 and "Can not export" in err, "an export into a missing folder fails with the reason")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
