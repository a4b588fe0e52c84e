#!/usr/bin/python3
"""Lanternell.exe under Wine on a private Xvfb: the reference option typed with xdotool, Enter
for Calculate, and the call price 10.4506 read back twice: from the controls (the test build's
report) and by OCR of the window's picture. Own Wine prefix under the build folder with the X11
driver (the other Windows tests use the null driver, which draws nothing); its Wine server is
stopped by the prefix at the end. Run as: xvfb-run -a calculator_gui_test.py BUILD EXE DLL
"""
import datetime
import os
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


def bmp_to_png(bmp, png):
    """24-bit bottom-up BMP (what the test build writes) to PNG, for the README."""
    data = open(bmp, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    w, h = struct.unpack_from("<ii", data, 18)
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        line = data[offset + y * stride: offset + y * stride + w * 3]
        rgb = bytearray(line)
        rgb[0::3], rgb[2::3] = line[2::3], line[0::3]  # BGR to RGB
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    with open(png, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def key(*keys):
    run("xdotool", "key", "--delay", "80", *keys)
    time.sleep(0.3)


def type_text(text):
    run("xdotool", "type", "--delay", "80", text)
    time.sleep(0.3)


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
