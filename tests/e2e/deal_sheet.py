#!/usr/bin/python3
"""A deal sheet as a new user brings it: 300 rows written by LibreOffice, imported with --import and
read back from the text export cell by cell.

Columns Site, Page URL, Target, Anchor, Price, Paid on, Expires, Contact e-mail. Dates are partly
date cells and partly text in every written form (ISO, day.month.year, slashed with the day first in
one column and the month first in the other, English and Russian month names); prices are text with
currency signs and codes, grouping and decimals, or plain numbers; some expiries are empty (deals
bought for good); a few cells cannot be read and one row has no page. Every row that gives a link
must give it with the sheet's values, and every other row must be listed with its reason.
Usage: deal_sheet.py ORVEX
"""
import calendar
import datetime
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from xml.sax.saxutils import escape

ORVEX = sys.argv[1]
ROWS = 300
COLUMNS = ("A=Partner name,B=From page,C=To Page,D=Anchor,E=Price,F=Start date,G=Expiry date,"
           "H=Partner e-mail")
failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what)
    if not ok:
        failures.append(what)


def add_months(day, n):
    month = day.month - 1 + n
    year = day.year + month // 12
    month = month % 12 + 1
    return datetime.date(year, month, min(day.day, calendar.monthrange(year, month)[1]))


def months_between(later, earlier):
    return 12 * (later.year - earlier.year) + later.month - earlier.month


EN = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
RU = ["января", "февраля", "марта", "апреля", "мая", "июня", "июля", "августа", "сентября", "октября", "ноября",
      "декабря"]


def written(day, form, slashed_day_first):
    """The date as a cell of the sheet: ("date", iso) for a date cell, ("text", shown) otherwise."""
    if form == 0:
        return ("date", day.isoformat())
    if form == 1:
        return ("text", day.isoformat())
    if form == 2:
        return ("text", "%02d.%02d.%d" % (day.day, day.month, day.year))
    if form == 3:
        first, second = (day.day, day.month) if slashed_day_first else (day.month, day.day)
        return ("text", "%02d/%02d/%d" % (first, second, day.year))
    if form == 4:
        return ("text", "%d %s %d" % (day.day, EN[day.month - 1], day.year))
    if form == 5:
        return ("text", "%s %d, %d" % (EN[day.month - 1], day.day, day.year))
    return ("text", "%d %s %d г." % (day.day, RU[day.month - 1], day.year))


def price_cell(rng, amount_cents):
    """A price as people type it: (cell kind, text, whole units it stands for, whether it had cents)."""
    whole, cents = divmod(amount_cents, 100)
    rounded = whole + (1 if cents >= 50 else 0)
    grouped = "{:,}".format(whole)
    forms = [
        ("text", "$%s.%02d" % (grouped, cents), rounded, cents != 0),
        ("text", "$ %s" % grouped, whole, False),
        ("text", "€%d.%02d" % (whole, cents), rounded, cents != 0),
        ("text", "%d USD" % whole, whole, False),
        ("text", "£%d.%02d" % (whole, cents), rounded, cents != 0),
        ("text", "%s,%02d €" % (grouped.replace(",", "."), cents), rounded, cents != 0),
        ("float", "%d.%02d" % (whole, cents), rounded, cents != 0),
        ("float", "%d" % whole, whole, False),
    ]
    return forms[rng.randrange(len(forms))]


def make_rows():
    rng = random.Random(28)
    sites = ["site%02d.example" % i for i in range(40)]
    rows = []
    for i in range(ROWS):
        site = sites[rng.randrange(len(sites))]
        start = datetime.date(2025, 1, 1) + datetime.timedelta(days=rng.randrange(700))
        # Most deals run whole months, some to the month's end; a few end on any day; some never.
        kind = rng.randrange(10)
        if kind == 0:
            expiry = None
        elif kind == 1:
            expiry = start + datetime.timedelta(days=rng.randrange(20, 400))
        else:
            expiry = add_months(start, rng.choice([1, 3, 6, 12, 24]))
        row = {
            "site": site,
            "page": "https://www.%s/%s/%d.html" % (site, rng.choice(["blog", "links", "partners"]), i),
            "target": "https://www.mine.example/%s" % rng.choice(["", "shop", "blog/"]),
            "anchor": "anchor %d" % i,
            "email": "owner@" + site,
            "start": start,
            "expiry": expiry,
        }
        # Row 2, the first data row, starts with a text date: it must still be the first data row.
        row["start_cell"] = written(start, 1 if i == 0 else rng.randrange(7), True)
        row["expiry_cell"] = ("text", "") if expiry is None else written(expiry, rng.randrange(7), False)
        row["price_cell"] = price_cell(rng, rng.choice([1000, 7500, 9000, 15050, 120000, 4999, 12345]))
        row["skip"] = None
        rows.append(row)
    # Two slashed dates that read one way only, early in each column, so that each column shows its order.
    rows[1]["start_cell"] = ("text", "25/%02d/%d" % (rows[1]["start"].month, rows[1]["start"].year))
    rows[1]["start"] = datetime.date(rows[1]["start"].year, rows[1]["start"].month, 25)
    if rows[1]["expiry"]:
        rows[1]["expiry"] = add_months(rows[1]["start"], 12)
        e = rows[1]["expiry"]
        rows[1]["expiry_cell"] = ("text", "%02d/25/%d" % (e.month, e.year))
    # Cells nobody can read, and a row without its page.
    for index, field, text, reason in [
            (19, "price_cell", "n/a", "price 'n/a' not read"),
            (57, "price_cell", "call me", "price 'call me' not read"),
            (120, "start_cell", "soon", "start date 'soon' not read"),
            (188, "expiry_cell", "31.02.2027", "expiry date '31.02.2027' not read"),
            (250, "page", "", "no From page")]:
        if field == "page":
            rows[index]["page"] = ""
        else:
            rows[index][field] = ("text", text)
        rows[index]["skip"] = reason
    return rows


def cell(kind, value):
    if kind == "date":
        return '<table:table-cell office:value-type="date" office:date-value="%s" table:style-name="day"/>' % value
    if kind == "float":
        return '<table:table-cell office:value-type="float" office:value="%s"><text:p>%s</text:p></table:table-cell>' % (
            value, value)
    if value == "":
        return "<table:table-cell/>"
    return '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % escape(value)


def write_fods(path, rows):
    header = ["Site", "Page URL", "Target", "Anchor", "Price", "Paid on", "Expires", "Contact e-mail"]
    lines = ["<table:table-row>" + "".join(cell("text", h) for h in header) + "</table:table-row>"]
    for row in rows:
        price = row["price_cell"]
        cells = [cell("text", row["site"]), cell("text", row["page"]), cell("text", row["target"]),
                 cell("text", row["anchor"]), cell(price[0], price[1]), cell(*row["start_cell"]),
                 cell(*row["expiry_cell"]), cell("text", row["email"])]
        lines.append("<table:table-row>" + "".join(cells) + "</table:table-row>")
    with open(path, "w", encoding="utf-8") as f:
        f.write("""<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
<number:date-style style:name="isodate"><number:year number:style="long"/><number:text>-</number:text>
<number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/></number:date-style>
<style:style style:name="day" style:family="table-cell" style:data-style-name="isodate"/>
</office:automatic-styles>
<office:body><office:spreadsheet><table:table table:name="Deals">
%s
</table:table></office:spreadsheet></office:body></office:document>
""" % "\n".join(lines))


def orvex(home, *args):
    env = dict(os.environ, ORVEX_HOME=home, QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    proc = subprocess.run([ORVEX, *args], env=env, capture_output=True, text=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


def shown(day):
    return "%02d/%02d/%02d" % (day.month, day.day, day.year % 100)


def expected_expiry(start, expiry):
    """The expiry the program shows: the sheet's when whole months lead to it, else the next begun month."""
    months = months_between(expiry, start)
    if months >= 1 and add_months(start, months) == expiry:
        return expiry, months
    end = start + datetime.timedelta(days=(expiry - start).days + 1)
    months = months_between(end, start)
    begun = months + (1 if end.day > start.day else 0)
    return add_months(start, months), begun


def expiry_column(path):
    """Column L of the exported workbook by row number: the day number, or the text of a text cell."""
    with zipfile.ZipFile(path) as book:
        sheet = book.read("xl/worksheets/sheet1.xml").decode("utf-8")
        shared = []
        if "xl/sharedStrings.xml" in book.namelist():
            shared = [re.sub(r"<[^>]+>", "", item) for item in
                      re.findall(r"<si>(.*?)</si>", book.read("xl/sharedStrings.xml").decode("utf-8"), re.S)]
    ends = {}
    for number, attributes, body in re.findall(r'<c r="L(\d+)"([^>]*?)(?:/>|>(.*?)</c>)', sheet, re.S):
        value = re.search(r"<v>(.*?)</v>", body or "")
        inline = re.search(r"<t[^>]*>(.*?)</t>", body or "")
        if 't="s"' in attributes and value:
            ends[int(number)] = shared[int(value.group(1))]
        elif inline:
            ends[int(number)] = inline.group(1)
        elif value:
            ends[int(number)] = int(float(value.group(1)))
    return ends


def main():
    if not shutil.which("soffice"):
        print("FAILED  LibreOffice (soffice) is needed to write the sheet")
        return 1
    work = tempfile.mkdtemp(prefix="orvex-e2e-deals-")
    try:
        rows = make_rows()
        write_fods(os.path.join(work, "deals.fods"), rows)
        profile = tempfile.mkdtemp(prefix="orvex-e2e-lo-")
        try:
            subprocess.run(["soffice", "--headless", "-env:UserInstallation=file://" + profile, "--convert-to",
                            "xlsx", "--outdir", work, os.path.join(work, "deals.fods")], check=True,
                           capture_output=True, timeout=300)
        finally:
            shutil.rmtree(profile, ignore_errors=True)
        home = os.path.join(work, "home")
        code, out, err = orvex(home, "--import", os.path.join(work, "deals.xlsx"), "--columns", COLUMNS)
        check(code == 0, "the sheet imports (exit %d) %s" % (code, err.strip()))
        check("First data row: 2\n" in out, "the data start in row 2, whose start date is text")

        kept = [r for r in rows if not r["skip"]]
        listed = ["row %d: %s" % (i + 2, r["skip"]) for i, r in enumerate(rows) if r["skip"]]
        summary = [line for line in out.splitlines() if line.startswith("Imported ")]
        summary = summary or [""]
        check(summary[0].startswith(
            "Imported %d links and %d new partners from rows 2 to %d of sheet Deals; %d rows skipped" %
            (len(kept), len({r["site"] for r in kept}), ROWS + 1, len(listed))), "summary %r" % summary)
        rounded = sum(1 for r in kept if r["price_cell"][3])
        check(("; %d amounts rounded to whole units" % rounded) in summary[0] if rounded else
              "rounded" not in summary[0], "the summary says how many amounts were rounded (%d)" % rounded)
        check(out.split("Skipped:\n", 1)[-1].splitlines()[:len(listed)] == listed,
              "every skipped row is listed with its reason: %r" % out.split("Skipped:\n", 1)[-1])

        export = os.path.join(work, "links.txt")
        code, out, err = orvex(home, "--export", export)
        check(code == 0, "the links export (exit %d) %s" % (code, err.strip()))
        with open(export, encoding="utf-8", newline="") as f:
            lines = [line.split("\t") for line in f.read().split("\r\n")[1:] if line]
        check(len(lines) == len(kept), "%d links in the database, %d rows to import" % (len(lines), len(kept)))
        workbook = os.path.join(work, "links.xlsx")
        code, out, err = orvex(home, "--export", workbook)
        check(code == 0, "the workbook export (exit %d) %s" % (code, err.strip()))
        ends = expiry_column(workbook)
        wrong = []
        for number, (row, line) in enumerate(zip(kept, lines)):
            price = row["price_cell"][2]
            expect = {0: row["site"], 2: row["email"], 6: row["page"], 7: row["target"], 8: row["anchor"],
                      9: shown(row["start"]), 10: shown(row["start"]), 12: str(price)}
            if row["expiry"] is None:
                # A deal bought for good: no expiry and no monthly price in either export (an empty
                # expiry is what reads back as permanent), its one payment as the full cost.
                end = ends.get(number + 2)
                if end not in (None, ""):
                    wrong.append("%s: the deal bought for good ends %r" % (row["anchor"], end))
                expect[11] = ""
                expect[12] = ""
                expect[13] = str(price)
            else:
                day, months = expected_expiry(row["start"], row["expiry"])
                expect[11] = shown(day)
                expect[13] = str(months * price)
            for column, value in expect.items():
                if line[column] != value:
                    wrong.append("%s column %d: %r, sheet %r" % (row["anchor"], column, line[column], value))
        check(not wrong, "every link holds the sheet's values (%d differences: %s)" % (len(wrong), wrong[:8]))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
