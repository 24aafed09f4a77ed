"""The two ways into a project: pip from this folder with no index, and the vendored copy."""

from __future__ import annotations

import filecmp
import os
import subprocess
import unittest

from .support import PACKAGE, REPO, Project, Runtime

WHERE_BACKEND = """
    import quern_runtime_backend
    from quern_runtime_backend import Backend

    backend = Backend()
    backend.command("status")(lambda payload, ctx: quern_runtime_backend.__file__)
    backend.run()
"""


def _tree(root) -> dict:
    return {path.relative_to(root).as_posix(): path for path in root.rglob("*")
            if path.is_file() and "__pycache__" not in path.parts}


class Install(unittest.TestCase):
    def test_pip_installs_from_the_folder_with_no_index_and_the_runtime_runs_it(self) -> None:
        before = _tree(PACKAGE.parent)
        project = Project(self.addCleanup, WHERE_BACKEND, vendored=False, with_pip=True)
        environment = {key: value for key, value in os.environ.items() if not key.startswith("PIP_")}
        pip = subprocess.run([str(project.python), "-m", "pip", "--isolated", "install", "--no-index",
                              str(PACKAGE.parent)], capture_output=True, text=True, env=environment, timeout=300)
        self.assertEqual(pip.returncode, 0, pip.stdout + pip.stderr)
        self.assertEqual(_tree(PACKAGE.parent), before, "the build left files in the source folder")
        runtime = Runtime(self.addCleanup, project)
        runtime.send(1, "status")
        installed = runtime.records.next("the answer")["result"]
        self.assertTrue(installed.startswith(str(project.root / ".venv")), installed)
        self.assertTrue(os.path.isfile(os.path.join(os.path.dirname(installed), "py.typed")))
        self.assertEqual(runtime.exit_code(), 0)


class Vendored(unittest.TestCase):
    def test_the_demo_projects_vendored_copy_is_this_package(self) -> None:
        vendored = REPO / "examples" / "demo-project" / PACKAGE.name
        ours, theirs = _tree(PACKAGE), _tree(vendored)
        refresh = "refresh it with: python3 clients/python/vendor.py examples/demo-project"
        self.assertEqual(sorted(theirs), sorted(ours), refresh)
        changed = [name for name in ours if not filecmp.cmp(ours[name], theirs[name], shallow=False)]
        self.assertEqual(changed, [], refresh)


if __name__ == "__main__":
    unittest.main()
