"""A private headless office with the add-in installed, for tests and for building the example.

The office runs in its own session so that its whole process group can be ended by id; a
watchdog does that if a call hangs (a blocked UNO call cannot be interrupted from Python).
"""
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException

START_SECONDS = 60
STEP_SECONDS = 60


def _props(**values):
    out = []
    for name, value in values.items():
        p = PropertyValue()
        p.Name, p.Value = name, value
        out.append(p)
    return tuple(out)


def _kill_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()


def _run_bounded(argv, env, seconds):
    process = subprocess.Popen(argv, env=env, start_new_session=True, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
    try:
        out, _ = process.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        _kill_group(process)
        raise RuntimeError(f"{argv[0]} did not finish within {seconds} s")
    finally:
        if process.poll() is None:
            _kill_group(process)
    if process.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} failed ({process.returncode}): {out}")
    return out


class Office:
    """with Office(oxt, registry_dir, limit_seconds) as office: office.desktop, office.context"""

    def __init__(self, oxt, registry_dir, limit_seconds=110):
        self.oxt = Path(oxt)
        self.registry_dir = Path(registry_dir)
        self.limit_seconds = limit_seconds
        self.process = None
        self.watchdog = None
        self.temp = None

    def __enter__(self):
        self.temp = Path(tempfile.mkdtemp(prefix="kx-calc-"))
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        env = dict(os.environ, KX_REGISTRY_DIR=str(self.registry_dir), HOME=str(self.temp))
        options = [f"-env:UserInstallation={(self.temp / 'profile').as_uri()}",
                   # Shared install into a private cache: unopkg refuses per-user adds as root.
                   f"-env:UNO_SHARED_PACKAGES_CACHE={(self.temp / 'shared').as_uri()}"]
        # A new profile's first start wipes extensions, so it comes before the install.
        _run_bounded(["soffice", "--headless", "--terminate_after_init", *options], env,
                     START_SECONDS)
        _run_bounded(["unopkg", "add", "--shared", "-f", str(self.oxt), *options], env,
                     STEP_SECONDS)
        pipe = f"kxcalc{os.getpid()}_{int(time.time() * 1000) % 100000}"
        self.process = subprocess.Popen(
            ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
             f"--accept=pipe,name={pipe};urp;", *options],
            env=env, start_new_session=True, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        self.watchdog = threading.Timer(self.limit_seconds, _kill_group, [self.process])
        self.watchdog.daemon = True
        self.watchdog.start()
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.monotonic() + START_SECONDS
        while True:
            try:
                self.context = resolver.resolve(
                    f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
                break
            except NoConnectException:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("the office did not accept a connection")
                time.sleep(0.2)
        self.desktop = self.context.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", self.context)

    def create(self, service):
        return self.context.ServiceManager.createInstanceWithContext(service, self.context)

    def new_sheet_document(self):
        return self.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                                 _props(Hidden=True))

    def load(self, path):
        return self.desktop.loadComponentFromURL(Path(path).resolve().as_uri(), "_blank", 0,
                                                 _props(Hidden=True))

    def __exit__(self, *exc):
        if self.watchdog:
            self.watchdog.cancel()
        if self.process:
            _kill_group(self.process)  # whatever happened, the whole group ends here
        if self.temp:
            shutil.rmtree(self.temp, ignore_errors=True)
        return False


def store_props(**values):
    return _props(**values)
