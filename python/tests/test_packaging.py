"""pip install and the wheel, offline, in virtual environments made with Debian's Python, and
the README's examples run against the installed package (not the build folder's)."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("KX_BUILD_DIR", ROOT / "build" / "release")).resolve()
PYTHON = "/usr/bin/python3"
STEP_TIMEOUT = 600
VERSION = re.search(r"project\(KorvaneX VERSION ([0-9.]+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)


def run(*command, env, cwd=None):
    done = subprocess.run([str(c) for c in command], env=env, cwd=cwd, capture_output=True,
                          text=True, timeout=STEP_TIMEOUT)
    assert done.returncode == 0, f"{command}\n{done.stdout[-3000:]}\n{done.stderr[-3000:]}"
    return done.stdout


@pytest.fixture(scope="module")
def work():
    if not (BUILD_DIR / "CMakeCache.txt").exists():
        pytest.skip(f"{BUILD_DIR} is not a configured build")
    folder = pathlib.Path(tempfile.mkdtemp(prefix="packaging-", dir=BUILD_DIR))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="module")
def env(work):
    # Nothing of the build folder on the paths; a private registry; the build reuses the
    # configured build folder (setup.py builds the package's targets there with CMake).
    clean = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_LIBRARY_PATH")}
    clean.update(KX_CMAKE_BUILD_DIR=str(BUILD_DIR), KX_REGISTRY_DIR=str(work / "registry"),
                 KX_MACHINE_REGISTRY_DIR=str(work / "machine-registry"), PIP_NO_INDEX="1",
                 PIP_DISABLE_PIP_VERSION_CHECK="1", CMAKE_BUILD_PARALLEL_LEVEL="2")
    return clean


def venv(work, name, env):
    path = work / name
    run(PYTHON, "-m", "venv", "--system-site-packages", path, env=env)
    return path / "bin" / "python"


WHERE = ("import importlib.metadata as m, korvanex; "
         "print(korvanex.__version__, m.version('korvanex'), korvanex.__file__)")


def test_pip_install_from_the_source_tree(work, env):
    python = venv(work, "pip-venv", env)
    run(python, "-m", "pip", "install", "--no-build-isolation", "--no-index", ROOT, env=env)
    version, metadata, where = run(python, "-c", WHERE, env=env, cwd=work).split()
    assert version == metadata == VERSION
    assert pathlib.Path(where).is_relative_to(work / "pip-venv")


README_CLOSES = """date,AAA,BBB,CCC
2026-01-05,100.0,,20.0
2026-01-06,101.5,,20.4
2026-01-07,99.8,50.0,20.1
2026-01-08,102.3,51.2,19.7
2026-01-09,103.0,50.7,19.9
2026-01-12,101.1,52.0,20.3
"""


def readme_examples():
    """The README's Python examples, in order, but the one that needs a cluster's address."""
    text = (ROOT / "README.md").read_text()
    start = text.index("## Python: automation client")
    end = text.index("\n## ", text.index("## Python: models over numpy arrays") + 1)
    blocks = re.findall(r"```python\n(.*?)```", text[start:end], re.S)
    return [b for b in blocks if "scheduler.example" not in b]


def test_wheel_installs_in_a_fresh_venv_registers_and_runs_the_readme(work, env):
    dist = work / "dist"
    run(PYTHON, "-m", "build", "--wheel", "--no-isolation", "--outdir", dist, ROOT, env=env)
    (wheel,) = dist.glob("*.whl")
    # Built for Debian 12's Python on this machine's platform.
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
    assert wheel.name == f"korvanex-{VERSION}-{tag}-{tag}-linux_x86_64.whl"
    names = set(zipfile.ZipFile(wheel).namelist())
    assert {"korvanex/libkx_platform.so.1", "korvanex/KorvaneX.so", "korvanex/_version.py",
            "korvanex/models.pyi"} <= names
    python = venv(work, "wheel-venv", env)
    run(python, "-m", "pip", "install", "--no-index", wheel, env=env)
    version, _, where = run(python, "-c", WHERE, env=env, cwd=work).split()
    assert version == VERSION and pathlib.Path(where).is_relative_to(work / "wheel-venv")
    out = run(python, "-m", "korvanex", "register", env=env, cwd=work)
    assert "S_OK" in out and str(work / "wheel-venv") in out
    (work / "closes.csv").write_text(README_CLOSES)
    script = work / "readme_examples.py"
    examples = readme_examples()
    assert len(examples) >= 4
    script.write_text("\n".join(examples) + "\nprint('readme examples done')\n")
    assert run(python, script, env=env, cwd=work).strip().endswith("readme examples done")
