"""pip builds a wheel offline from the sources, and it installs and runs in a fresh venv."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tamlib

ROOT = Path(__file__).resolve().parents[2]
SOURCES = ["CMakeLists.txt", "README.md", "pyproject.toml", "setup.py", "cmake", "include", "src",
           "python"]


@pytest.mark.skipif(bool(os.environ.get("TAMLIB_SANITIZED")), reason="a plain build's job")
def test_wheel_installs_into_a_scratch_venv_and_runs_from_elsewhere(tmp_path):
    pytest.importorskip("pip")
    tree = tmp_path / "tree"
    for name in SOURCES:
        source = ROOT / name
        if source.is_dir():
            shutil.copytree(source, tree / name,
                            ignore=shutil.ignore_patterns("__pycache__", "build*", "*.egg-info"))
        else:
            tree.mkdir(exist_ok=True)
            shutil.copy2(source, tree / name)
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    # Debian's interpreter: its setuptools, wheel and pybind11 build the wheel without a download.
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    subprocess.run([python, "-m", "venv", "--system-site-packages", str(tmp_path / "venv")],
                   check=True, env=env)
    venv_python = str(tmp_path / "venv" / "bin" / "python")
    subprocess.run([venv_python, "-m", "pip", "wheel", "--no-build-isolation", "--no-index",
                    "--no-deps", "-w", str(tmp_path / "dist"), str(tree)],
                   check=True, env=env, capture_output=True)
    wheels = list((tmp_path / "dist").glob("tamlib-*.whl"))
    assert len(wheels) == 1
    text = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text).group(1)
    assert wheels[0].name.startswith(f"tamlib-{version}-")
    subprocess.run([venv_python, "-m", "pip", "install", "--no-index", "--no-deps",
                    str(wheels[0])], check=True, env=env, capture_output=True)

    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    code = ("import numpy as np, tamlib; t = np.arange(50) / 100.0;"
            "f = tamlib.resample({'a': (t, np.sin(7 * t))}, 40.0, 'linear');"
            "print(tamlib.__file__); print(tamlib.__version__); print(repr(f['a'].sum()))")
    out = subprocess.run([venv_python, "-c", code], cwd=elsewhere, env=env, check=True,
                         capture_output=True, text=True).stdout.split("\n")
    assert out[0].startswith(str(tmp_path / "venv"))
    assert out[1] == version
    t = np.arange(50) / 100.0
    expected = tamlib.resample({"a": (t, np.sin(7 * t))}, 40.0, "linear")["a"].sum()
    assert float(out[2]) == expected
