#!/usr/bin/env python3
"""Copies quern_runtime_backend into a project, next to its quern/ package.

Usage: python3 clients/python/vendor.py PROJECT_DIR

An older copy in PROJECT_DIR/quern_runtime_backend is replaced. The runtime
starts the backend with `python -m quern.gui_backend` in the project
directory, so `import quern_runtime_backend` then finds the copy with nothing
installed. The demo project's copy is refreshed with
`python3 clients/python/vendor.py examples/demo-project`.
"""

import shutil
import sys
from pathlib import Path

PACKAGE = Path(__file__).resolve().parent / "quern_runtime_backend"


def vendor(project: Path) -> Path:
    target = project / PACKAGE.name
    if target.exists():
        if not (target / "py.typed").is_file() or not (target / "dispatch.py").is_file():
            raise SystemExit(f"{target} exists and is not a copy of {PACKAGE.name}; not replacing it")
        shutil.rmtree(target)
    shutil.copytree(PACKAGE, target, ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
    return target


def main() -> None:
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    project = Path(sys.argv[1])
    if not project.is_dir():
        raise SystemExit(f"{project} is not a directory")
    print(f"copied {PACKAGE.name} to {vendor(project)}")


if __name__ == "__main__":
    main()
