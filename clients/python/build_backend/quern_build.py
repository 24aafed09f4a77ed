"""The build backend of quern-runtime-backend (PEP 517 and PEP 660).

Standard library only and kept in the source tree (`backend-path` in
pyproject.toml), so that `pip install --no-index clients/python` builds the
package with nothing to download. The package's metadata lives here rather
than in a [project] table: reading TOML needs Python 3.11.
"""

from __future__ import annotations

import base64
import hashlib
import io
import re
import tarfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional, Tuple

NAME = "quern-runtime-backend"
PACKAGE = "quern_runtime_backend"
SUMMARY = "Write a quern-runtime backend as a few handlers; the library owns the protocol and keeps stdout clean."
REQUIRES_PYTHON = ">=3.9"
ROOT = Path(__file__).resolve().parent.parent

# Zip and tar entries get one fixed time, so that a build is the same every time.
_EPOCH = (1980, 1, 1, 0, 0, 0)


def _version() -> str:
    text = (ROOT / PACKAGE / "__init__.py").read_text(encoding="utf-8")
    match = re.search(r'^__version__ = "([^"]+)"$', text, re.M)
    if match is None:
        raise RuntimeError(f"no __version__ in {PACKAGE}/__init__.py")
    return match.group(1)


def _dist_info() -> str:
    return f"{PACKAGE}-{_version()}.dist-info"


def _metadata() -> str:
    fields = [
        ("Metadata-Version", "2.1"),
        ("Name", NAME),
        ("Version", _version()),
        ("Summary", SUMMARY),
        ("Requires-Python", REQUIRES_PYTHON),
        ("Classifier", "Programming Language :: Python :: 3"),
        ("Classifier", "Typing :: Typed"),
        ("Description-Content-Type", "text/markdown"),
    ]
    header = "".join(f"{key}: {value}\n" for key, value in fields)
    return header + "\n" + (ROOT / "README.md").read_text(encoding="utf-8")


def _wheel_info() -> str:
    return "Wheel-Version: 1.0\nGenerator: quern_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"


def _package_files() -> List[Tuple[str, bytes]]:
    files = []
    for path in sorted((ROOT / PACKAGE).rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts and path.suffix != ".pyc":
            files.append((path.relative_to(ROOT).as_posix(), path.read_bytes()))
    return files


def _write_wheel(directory: str, files: List[Tuple[str, bytes]]) -> str:
    dist_info = _dist_info()
    files = files + [(f"{dist_info}/METADATA", _metadata().encode()), (f"{dist_info}/WHEEL", _wheel_info().encode())]
    record_lines = []
    for name, data in files:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record_lines.append(f"{name},sha256={digest},{len(data)}\n")
    record_lines.append(f"{dist_info}/RECORD,,\n")
    files.append((f"{dist_info}/RECORD", "".join(record_lines).encode()))
    wheel_name = f"{PACKAGE}-{_version()}-py3-none-any.whl"
    with zipfile.ZipFile(Path(directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files:
            entry = zipfile.ZipInfo(name, _EPOCH)
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(entry, data)
    return wheel_name


# -- PEP 517 -------------------------------------------------------------------

def get_requires_for_build_wheel(config_settings: Optional[Dict[str, object]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, object]] = None) -> List[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Optional[Dict[str, object]] = None) -> str:
    target = Path(metadata_directory) / _dist_info()
    target.mkdir(parents=True, exist_ok=True)
    (target / "METADATA").write_text(_metadata(), encoding="utf-8")
    (target / "WHEEL").write_text(_wheel_info(), encoding="utf-8")
    return target.name


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, object]] = None,
                metadata_directory: Optional[str] = None) -> str:
    return _write_wheel(wheel_directory, _package_files())


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, object]] = None) -> str:
    base = f"{PACKAGE}-{_version()}"
    files = [(name, data) for name, data in _package_files()]
    for extra in ("pyproject.toml", "README.md", "vendor.py", "build_backend/quern_build.py"):
        files.append((extra, (ROOT / extra).read_bytes()))
    files.append(("PKG-INFO", _metadata().encode()))
    sdist_name = f"{base}.tar.gz"
    with tarfile.open(Path(sdist_directory) / sdist_name, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for name, data in sorted(files):
            entry = tarfile.TarInfo(f"{base}/{name}")
            entry.size, entry.mode, entry.mtime = len(data), 0o644, 315532800
            sdist.addfile(entry, io.BytesIO(data))
    return sdist_name


# -- PEP 660: `pip install -e`, the package imported from this folder -----------

def get_requires_for_build_editable(config_settings: Optional[Dict[str, object]] = None) -> List[str]:
    return []


def prepare_metadata_for_build_editable(metadata_directory: str,
                                        config_settings: Optional[Dict[str, object]] = None) -> str:
    return prepare_metadata_for_build_wheel(metadata_directory, config_settings)


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, object]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    return _write_wheel(wheel_directory, [(f"{PACKAGE}.pth", f"{ROOT}\n".encode())])
