"""Registers the built modules into a temporary registry; builds nothing.

The build folder is $KX_BUILD_DIR (default build/release); the package is imported from its
python/ folder when PYTHONPATH does not already point there.
"""

import os
import pathlib
import subprocess
import tempfile
import sys

import pytest

BUILD_DIR = pathlib.Path(os.environ.get(
    "KX_BUILD_DIR", pathlib.Path(__file__).resolve().parents[2] / "build" / "release"))
# Never the machine's registry either: an installed package must not show through.
os.environ["KX_MACHINE_REGISTRY_DIR"] = tempfile.mkdtemp(prefix="kx-machine-registry-")
if str(BUILD_DIR / "python") not in sys.path:
    sys.path.insert(0, str(BUILD_DIR / "python"))


def _register(registry, module):
    path = BUILD_DIR / "lib" / module
    if not path.exists():
        pytest.skip(f"{path} is not built")
    env = dict(os.environ, KX_REGISTRY_DIR=str(registry))
    subprocess.run([str(BUILD_DIR / "bin" / "kxregsvr"), str(path)], check=True, env=env,
                   timeout=60, stdout=subprocess.DEVNULL)
    return path


@pytest.fixture(scope="session")
def automation_registry(tmp_path_factory):
    """A temporary registry for this process, never the user's."""
    registry = tmp_path_factory.mktemp("kx-registry")
    os.environ["KX_REGISTRY_DIR"] = str(registry)
    return registry


@pytest.fixture(scope="session")
def registered_component(automation_registry):
    """The component's module path, registered."""
    return _register(automation_registry, "KorvaneX.so")


@pytest.fixture(scope="session")
def registered_recorder(automation_registry):
    """The platform's generic test class (KxTest.Recorder), registered."""
    return _register(automation_registry, "kx_test_recorder.so")
