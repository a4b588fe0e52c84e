#!/usr/bin/python3
"""Lanternell.exe under Wine on a private Xvfb: the reference option typed with xdotool, Enter
for Calculate, and the call price 10.4506 read back twice: from the controls (the test build's
report) and by OCR of the window's picture. Then, by keys alone: the Charts tab's three charts at
the first size and a larger one (OCR finds the title, legend names and tick numbers the chart
reports it drew, and no "..."), the key filter, a binomial run with the style and steps chosen,
the maker's banner, and the about box (clicked, read back and by OCR). Own Wine prefix under the build folder with the X11
driver (the other Windows tests use the null driver, which draws nothing); its Wine server is
stopped by the prefix at the end. Run as: xvfb-run -a calculator_gui_test.py BUILD EXE DLL
"""
import datetime
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import zlib

build, exe, dll = (os.path.abspath(a) for a in sys.argv[1:4])
prefix = os.path.join(build, "wine-prefix-gui")
shots = os.path.join(build, "screenshots")
report = os.path.join(shots, "calculator-report")
env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml=")


def run(*args, timeout=120, **kw):
    return subprocess.run(args, env=kw.pop("env", env), timeout=timeout, check=True, **kw)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def read_bmp(bmp):
    """A 24-bit bottom-up BMP (what the test build writes): width, height, RGB rows top down."""
    data = open(bmp, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    w, h = struct.unpack_from("<ii", data, 18)
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        line = data[offset + y * stride: offset + y * stride + w * 3]
        rgb = bytearray(line)
        rgb[0::3], rgb[2::3] = line[2::3], line[0::3]  # BGR to RGB
        rows.append(bytes(rgb))
    return w, h, rows


def write_png(png, w, h, rows, scale=1):
    """RGB rows as PNG, enlarged `scale` times for OCR, which reads screen-sized text poorly."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    lines = []
    for row in rows:
        wide = b"".join(row[x * 3: x * 3 + 3] * scale for x in range(w)) if scale > 1 else row
        lines.extend([b"\0" + wide] * scale)
    with open(png, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" +
                  chunk(b"IHDR", struct.pack(">IIBBBBB", w * scale, h * scale, 8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(b"".join(lines), 9)) + chunk(b"IEND", b""))


def bmp_to_png(bmp, png, scale=1):
    write_png(png, *read_bmp(bmp), scale)


def text_column(bmp, boxes, png, scale):
    """Each text box cut out of the picture, one under another on white, enlarged."""
    _, _, rows = read_bmp(bmp)
    width = max(w for _, _, w, _ in boxes) + 36
    white = b"\xff" * 3
    column = [white * width] * 16
    for x, y, w, h in boxes:
        x, y, w, h = x - 2, y - 2, w + 4, h + 4
        for row in rows[y: y + h]:
            column.append(white * 16 + row[x * 3: (x + w) * 3] + white * (width - 16 - w))
        column += [white * width] * 16
    write_png(png, width, len(column), column, scale)


def key(*keys):
    run("xdotool", "key", "--delay", "80", *keys)
    time.sleep(0.3)


def type_text(text):
    run("xdotool", "type", "--delay", "80", text)
    time.sleep(0.3)


def wait_for(path, seconds=120):
    deadline = time.time() + seconds
    while not os.path.exists(path) and time.time() < deadline:
        time.sleep(0.3)
    return os.path.exists(path)


def read_report(path):
    """The report's lines as (name, text) pairs: a message box lists several "text"."""
    return [tuple(line.rstrip("\n").split("=", 1)) for line in open(path, encoding="utf-8")]


snaps = 0


def snap(name):
    """F12: the test build reports the active window; returns its texts and its PNG's path."""
    global snaps
    snaps += 1
    key("F12")
    stem = os.path.join(report, f"snap{snaps}")
    if not wait_for(stem + ".txt", 60):
        raise subprocess.SubprocessError(f"no report after F12 ({name})")
    png = os.path.join(shots, f"lanternell-win32-{name}.png")
    bmp_to_png(stem + ".bmp", png)
    return dict(read_report(stem + ".txt")), read_report(stem + ".txt"), png


def read_by_ocr(png, *options):
    return run("tesseract", png, "stdout", *options, capture_output=True, text=True).stdout


def check_chart(name, want_legend):
    """The chart shown: its drawn texts are the ones expected, and OCR reads each whole where
    it was drawn (cut out and read as one column: tesseract loses lone digits in a whole
    chart), and finds no "..." in the whole window."""
    shown, lines, png = snap(name)
    legend = shown.get("chart.legend", "").split("|")
    if legend != want_legend:
        failures.append(f"{name}: legend {legend}, not {want_legend}")
    ticks = shown.get("chart.xticks", "").split() + shown.get("chart.yticks", "").split()
    if len(ticks) < 6 or not all(t.lstrip("-").replace(".", "", 1).isdigit() for t in ticks):
        failures.append(f"{name}: tick labels {ticks}")
    at_x, at_y = (int(v) for v in shown.get("chart.at", "0 0").split())
    drawn = {True: [], False: []}  # tick labels, other texts: (box, text)
    for field, value in lines:
        if field == "chart.box":
            x, y, w, h, text = value.split(" ", 4)
            drawn[text in ticks].append(((at_x + int(x), at_y + int(y), int(w), int(h)), text))
    bmp = os.path.join(report, f"snap{snaps}.bmp")
    unread = []
    for numbers, scale, options in [(True, 4, ["-c", "tessedit_char_whitelist=-.0123456789"]),
                                    (False, 3, [])]:
        column = os.path.join(report, f"snap{snaps}-{'ticks' if numbers else 'texts'}.png")
        text_column(bmp, [box for box, _ in drawn[numbers]], column, scale)
        read = [line.strip() for line in
                read_by_ocr(column, "--psm", "6", *options).splitlines() if line.strip()]
        joined = " ".join(read).replace("\u2019", "'")
        # Tesseract drops the short minus before some digits; a cut label loses digits anyway.
        unread += [t for _, t in drawn[numbers] if t not in read and t.lstrip("-") not in read
                   and (numbers or t not in joined)]
    texts = [t for _, t in drawn[True] + drawn[False]]
    missing = [t for t in [shown.get("chart.title")] + legend + ticks if t not in texts]
    whole = os.path.join(report, f"snap{snaps}-x2.png")
    bmp_to_png(bmp, whole, 2)
    cut = [t for t in read_by_ocr(whole, "--psm", "11").split() if "..." in t or "\u2026" in t]
    if unread or missing or cut:
        failures.append(f"{name}: OCR did not read {unread}, not drawn {missing}, cut {cut}")
    return shown


failures = []
program = None
try:
    shutil.rmtree(report, ignore_errors=True)
    os.makedirs(report)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        run("wine", "wineboot", "-i", timeout=300, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
    run("wine", "regsvr32", "/s", windows_path(dll), timeout=120)
    log = open(os.path.join(report, "wine.log"), "w")
    program = subprocess.Popen(["wine", windows_path(exe)], stdout=log, stderr=log,
                               env=dict(env, KX_LANTERNELL_REPORT=windows_path(report)))
    window = run("xdotool", "search", "--sync", "--onlyvisible", "--name",
                 "Option Pricing Calculator", timeout=120, capture_output=True,
                 text=True).stdout.split()[0]
    for attempt in range(40):  # found as soon as it is mapped, focusable a moment later
        if subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, timeout=30,
                          capture_output=True).returncode == 0:
            break
        time.sleep(0.5)
    time.sleep(1)
    # The stock price has the focus; Tab goes on in the form's order. In the date picker the
    # fields are month, day, year, none chosen yet: Up on the year is a year ahead.
    today = datetime.date.today()
    ahead = today.replace(year=today.year + 1) if not (today.month == 2 and today.day == 29) \
        else today + datetime.timedelta(days=365)
    type_text("100"); key("Tab"); type_text("100"); key("Tab"); type_text("5"); key("Tab")
    key("Right", "Right", "Right", "Up")
    if (ahead - today).days == 366:  # a year with 29 February: one day back, on the day field
        key("Left", "Down")
    key("Tab"); type_text("20"); key("Tab"); type_text("0"); key("Return")
    result = os.path.join(report, "run1.txt")
    deadline = time.time() + 120
    while not os.path.exists(result) and time.time() < deadline:
        time.sleep(0.5)
    if not os.path.exists(result):
        failures.append("no report: Calculate did not run")
    else:
        shown = dict(line.rstrip("\n").split("=", 1) for line in open(result, encoding="utf-8"))
        for field, want in [("lblCallPrice", "10.4506"), ("lblPutPrice", "5.5735"),
                            ("lblIV", "0.00")]:
            if shown.get(field) != want:
                failures.append(f"{field} shows {shown.get(field)!r}, not {want!r}")
        if not shown.get("lblStatus", "").startswith("Computed with Black-Scholes: 365 days"):
            failures.append(f"status: {shown.get('lblStatus')!r}")
        png = os.path.join(shots, "lanternell-win32.png")
        bmp_to_png(os.path.join(report, "run1.bmp"), png)
        ocr = run("tesseract", png, "stdout", "--psm", "11", capture_output=True,
                  text=True).stdout
        if "10.4506" not in ocr.split():
            failures.append("OCR of the window did not find 10.4506: " + " ".join(ocr.split()))

    # Charts: Ctrl+Tab twice; the chart selector has the focus, Down picks the next chart.
    key("ctrl+Tab", "ctrl+Tab")
    value_legend = ["Call", "Put", "Call at expiry", "Put at expiry", "Exercise price",
                    "Current price"]
    check_chart("charts-value", value_legend)
    key("Down")
    check_chart("charts-delta", ["Call delta", "Put delta", "Exercise price", "Current price"])
    key("Down")
    check_chart("charts-time", ["Call", "Put"])
    run("xdotool", "windowsize", "--sync", window, "1000", "740", timeout=30)
    time.sleep(1)
    check_chart("charts-time-large", ["Call", "Put"])
    key("Tab", "Down")  # the Greek selector: Gamma, which shows the Greek chart
    check_chart("charts-gamma-large", ["Gamma", "Exercise price", "Current price"])
    key("shift+Tab", "Up", "Up")
    shown = check_chart("charts-value-large", value_legend)
    # The pointer on a computed point of the call's curve: the line under the chart names it.
    run("xdotool", "mousemove", *shown.get("chart.point10", "0 0").split())
    time.sleep(1)
    point = snap("hover")[0].get("lblChartPoint", "")
    if not re.fullmatch(r"Call: underlying \d+\.\d\d, option value \d+\.\d{4}", point):
        failures.append(f"hover: {point!r}")

    # Exports: Copy puts the curves' CSV and the three charts' image on the clipboard; Save CSV
    # and Save PNG write them where the save dialog is told.
    key("Tab", "Tab", "Tab", "Tab", "space")
    shown, _, _ = snap("copy")
    header = "underlying,call_value,put_value,call_payoff,put_payoff,call_delta,put_delta,gamma," \
             "call_theta,put_theta,vega,call_rho,put_rho"
    if (shown.get("clipboard.text"), shown.get("clipboard.image")) != (header, "960x1620"):
        failures.append(f"Copy: {shown.get('clipboard.text')!r}, {shown.get('clipboard.image')!r}")
    for button, title, name in [("Save CSV", "Save the curves", "curves.csv"),
                                ("Save PNG", "Save the charts", "charts.png")]:
        key("shift+Tab", "space")
        run("xdotool", "search", "--sync", "--onlyvisible", "--name", title, timeout=60,
            capture_output=True)
        time.sleep(1)
        type_text(windows_path(os.path.join(report, name)))
        key("Return")
        if not wait_for(os.path.join(report, name), 60):
            failures.append(f"{button}: no file written")
    if os.path.exists(os.path.join(report, "curves.csv")):
        csv = open(os.path.join(report, "curves.csv")).read().split("\n")
        if csv[0] != header or len(csv) < 61 + 3:
            failures.append(f"Save CSV wrote {csv[:2]}, {len(csv)} lines")
    if os.path.exists(os.path.join(report, "charts.png")):
        time.sleep(1)  # written whole by then
        png = open(os.path.join(report, "charts.png"), "rb").read(24)
        if png[:8] != b"\x89PNG\r\n\x1a\n" or struct.unpack(">II", png[16:24]) != (960, 1620):
            failures.append(f"Save PNG wrote {png!r}")

    # The maker's tab shows the banner; back on the pricing tab the stock price has the focus.
    key("ctrl+shift+Tab")
    shown, _, _ = snap("banner")
    if shown.get("imgAbout.bitmap") != "1":
        failures.append("the maker's tab shows no banner")
    key("ctrl+shift+Tab")
    # Key filter: a letter, "/", a blank and "x" are swallowed; ":", "-", ".", digits and
    # backspace pass. The stock price holds "100".
    key("End")
    type_text("a/ :x-.5")
    key("BackSpace")
    shown, _, _ = snap("keys")
    if shown.get("txtStockPrice") != "100:-.":
        failures.append(f"key filter: the stock price shows {shown.get('txtStockPrice')!r}")
    if [shown.get(f"enabled.{c}") for c in ("cmbEurAm", "txtSteps", "lblSteps")] != ["0"] * 3:
        failures.append("style, steps and their label enabled under Black-Scholes")
    key("BackSpace", "BackSpace", "BackSpace")
    # Binomial: six Tabs to the method, Down to Binomial, the style European, 100 steps.
    key(*["Tab"] * 6)
    key("Down")
    key("Tab", "Down", "Tab", "End", "BackSpace", "BackSpace")
    type_text("100")
    key("Return")
    if not wait_for(os.path.join(report, "run2.txt")):
        failures.append("no report: the binomial Calculate did not run")
    else:
        shown = dict(read_report(os.path.join(report, "run2.txt")))
        want = {"lblCallPrice": "10.4306", "lblPutPrice": "5.5536", "cmbEurAm": "European",
                "txtSteps": "100", "enabled.cmbEurAm": "1", "enabled.txtSteps": "1",
                "enabled.lblSteps": "1"}
        wrong = {k: shown.get(k) for k, v in want.items() if shown.get(k) != v}
        if wrong:
            failures.append(f"binomial run shows {wrong}, not {want}")
        if not shown.get("lblStatus", "").startswith(
                "Computed with binomial tree (European, 100 steps)"):
            failures.append(f"binomial status: {shown.get('lblStatus')!r}")

    # The about box: the link clicked, the box read back and by OCR, closed with Enter.
    x, y = shown.get("lblAbout.at", "0 0").split()
    run("xdotool", "mousemove", x, y, "click", "1")
    run("xdotool", "search", "--sync", "--onlyvisible", "--name", "^Option Pricing Calculator$",
        timeout=60, capture_output=True)
    time.sleep(1)
    shown, lines, png = snap("about")
    texts = [t for k, t in lines if k == "text"]
    if shown.get("window") != "Option Pricing Calculator" or \
            not any(t.startswith("Tab strip: the tab control of the Windows common controls")
                    and t.endswith("Product Version 1.0.0") for t in texts):
        failures.append(f"about box: {lines}")
    about = os.path.join(report, f"snap{snaps}-x2.png")
    bmp_to_png(os.path.join(report, f"snap{snaps}.bmp"), about, 2)
    if "Product Version 1.0.0" not in " ".join(read_by_ocr(about, "--psm", "11").split()):
        failures.append("OCR of the about box did not find Product Version 1.0.0")
    key("Return")
    time.sleep(1)
    key("alt+e")  # Exit
    program.wait(timeout=60)
except subprocess.SubprocessError as error:
    failures.append(f"{error}")
finally:
    if program is not None and program.poll() is None:
        program.kill()
    subprocess.run(["wineserver", "-k"], env=env, timeout=60)

for failure in failures:
    print("FAILED:", failure)
print("calculator under Wine:", "failed" if failures else "passed")
sys.exit(1 if failures else 0)
