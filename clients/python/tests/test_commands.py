"""The allowed commands: one list, the runtime's table, and every copy held to it."""

from __future__ import annotations

import re
import unittest

from quern_runtime_backend import COMMANDS

from .support import REPO


class AllowedCommands(unittest.TestCase):
    def test_the_library_and_the_backend_guide_list_the_runtimes_table_in_order(self) -> None:
        table = (REPO / "src" / "protocol" / "command_table.cpp").read_text(encoding="utf-8")
        names = re.findall(r'^\s+"([a-z_]+)",?$', table, re.M)
        self.assertNotEqual(names, [])
        self.assertEqual(list(COMMANDS), names)
        guide = (REPO / "docs" / "backend.md").read_text(encoding="utf-8")
        section = guide[guide.index("## Allowed commands"):]
        self.assertEqual(re.findall(r"`([a-z_]+)`", section.split("\n## ")[0]), names)


if __name__ == "__main__":
    unittest.main()
