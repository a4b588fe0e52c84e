#!/usr/bin/python3
"""The setup program under Wine, in its own prefix under the build folder: a silent install, a
call of the installed component from a script, a silent uninstall, and then no file, key or
shortcut left. The prefix's Wine server is stopped at the end.
Run as: xvfb-run -a installer_test.py BUILD SETUP_EXE
"""
import os
import subprocess
import sys

build, setup = (os.path.abspath(a) for a in sys.argv[1:3])
prefix = os.path.join(build, "wine-prefix-setup")
env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
           WINEDLLOVERRIDES="mscoree,mshtml=")
drive_c = os.path.join(prefix, "drive_c")
install_dir = os.path.join(drive_c, "Program Files", "Fenwright", "Lanternell")
shortcut = os.path.join(drive_c, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                        "Option Pricing Calculator.lnk")
clsid = "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}"
keys = [rf"HKLM\Software\Classes\CLSID\{clsid}", r"HKLM\Software\Classes\Korvane.Quantorb",
        r"HKLM\Software\Classes\Korvane.Quantorb.1",
        r"HKLM\Software\Classes\TypeLib\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}",
        r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lanternell",
        r"HKCU\Software\Microsoft\Office\Excel\Addins\Korvane.Quantorb.1"]
failures = []


# The 64-bit loader, as scripts/wine-run.sh chooses it: with 32-bit Wine installed too, "wine"
# would start cscript as a 32-bit program, which cannot load the 64-bit DLL.
WINE = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"


def wine(*args, timeout=300):
    return subprocess.run([WINE, *args], env=env, timeout=timeout, capture_output=True,
                          text=True, errors="replace")


def settle():
    # The uninstaller copies itself away and finishes after its caller has returned.
    subprocess.run(["wineserver", "-w"], env=env, timeout=300)


def key_exists(key):
    return wine("reg", "query", key, "/reg:64", timeout=120).returncode == 0


def check(condition, what):
    if not condition:
        failures.append(what)


try:
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        wine("wineboot", "-i")
        settle()
    setup_path = "Z:" + setup.replace("/", "\\")
    check(wine(setup_path, "/S").returncode == 0, "setup /S failed")
    settle()
    for name in ("KorvaneX.dll", "Lanternell.exe", "Uninstall.exe"):
        check(os.path.isfile(os.path.join(install_dir, name)), f"{name} not installed")
    check(os.path.isfile(shortcut), "no Start-menu entry")
    for key in keys:
        check(key_exists(key), f"{key} not written")
    server = wine("reg", "query", rf"HKLM\Software\Classes\CLSID\{clsid}\InprocServer32", "/ve",
                  "/reg:64").stdout
    check("Program Files\\Fenwright\\Lanternell\\KorvaneX.dll" in server,
          "the class is not registered at the installed DLL: " + server.strip())

    # The installed component, created by its ProgID from a script.
    script = os.path.join(build, "installer_test_call.vbs")
    with open(script, "w") as out:
        out.write('Set q = CreateObject("Korvane.Quantorb")\r\n'
                  'WScript.Echo "call " & FormatNumber(q.BSCallPrice(100, 100, 0.05, 1, 0.2, 0), 4)'
                  '\r\n')
    answer = wine("cscript", "//nologo", "Z:" + script.replace("/", "\\")).stdout
    check("call 10.4506" in answer, "the script's call gave: " + answer.strip())

    uninstaller = "C:\\Program Files\\Fenwright\\Lanternell\\Uninstall.exe"
    check(wine(uninstaller, "/S").returncode == 0, "Uninstall.exe /S failed")
    settle()
    check(not os.path.exists(os.path.dirname(install_dir)), "Program Files\\Fenwright left: " +
          str(list(os.walk(os.path.dirname(install_dir)))))
    check(not os.path.exists(shortcut), "Start-menu entry left")
    for key in keys:
        check(not key_exists(key), f"{key} left")
except subprocess.SubprocessError as error:
    failures.append(str(error))
finally:
    subprocess.run(["wineserver", "-k"], env=env, timeout=60)

for failure in failures:
    print("FAILED:", failure)
print("installer under Wine:", "failed" if failures else "passed")
sys.exit(1 if failures else 0)
