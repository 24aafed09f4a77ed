#!/usr/bin/env python3
"""Puts small faults into the code, one at a time, and shows which tests catch each.

Each fault is one text substitution of the kind a tired developer makes (an
off-by-one bound, a dropped check, a swapped branch), in every layer of src/.
The sample runs in a scratch copy of the working tree (build/mutation/tree),
so the tree itself is never touched: the copy is built once, then for each
fault the file is changed, rebuilt, `ctest -LE 'slow|soak'` runs, and the file
is put back. A fault that fails no test, or whose text no longer occurs
exactly once, fails the run.

Usage: scripts/mutation-sample.py [--only NAME...] [--list] [--report FILE]
  --only NAME   run only the named faults
  --list        print the faults and check that each still applies, run nothing
  --report FILE also write the results as a Markdown table to FILE
"""

import argparse
import dataclasses
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
SCRATCH = REPO / "build" / "mutation"
TREE = SCRATCH / "tree"
CTEST_LABELS = "slow|soak"


@dataclasses.dataclass(frozen=True)
class Fault:
    name: str
    path: str  # relative to the repository
    old: str
    new: str
    what: str


FAULTS = [
    Fault("utf8-surrogates", "src/base/utf8.cpp",
          "if (code_point >= 0xD800 && code_point <= 0xDFFF) return 0;", "if (false) return 0;",
          "UTF-8 encoded surrogates pass as valid"),
    Fault("channel-capacity-off-by-one", "src/base/channel.hpp",
          "state_->values.size() + state_->taken >= state_->capacity", "state_->values.size() + state_->taken > state_->capacity",
          "a bounded channel takes one value more than its capacity"),
    Fault("windows-quote-backslashes", "src/platform/windows_rules/command_line.cpp",
          "line.append(backslashes * 2, u'\\\\');", "line.append(backslashes, u'\\\\');",
          "backslashes before a closing quote are not doubled"),
    Fault("posix-no-process-group", "src/platform/process_posix.cpp",
          "if (plan.new_process_group && ::setpgid(0, 0) != 0)", "if (false && ::setpgid(0, 0) != 0)",
          "the backend does not lead a process group of its own"),
    Fault("json-depth-limit", "src/json/parse.cpp",
          "if (stack_.size() >= static_cast<std::size_t>(kMaxDepth)) {", "if (stack_.size() > static_cast<std::size_t>(kMaxDepth)) {",
          "the parser accepts one level of nesting too many"),
    Fault("json-float-without-fraction", "src/json/float_notation.hpp",
          "out.append(static_cast<std::size_t>(whole - count), '0');\n            out += \".0\";",
          "out.append(static_cast<std::size_t>(whole - count), '0');",
          "a whole float is written without its \".0\""),
    Fault("json-keys-unsorted", "src/json/value.cpp",
          "bool key_less(const Member& a, const Member& b) { return a.key < b.key; }",
          "bool key_less(const Member& a, const Member& b) { return a.key > b.key; }",
          "object members are put in reverse key order"),
    Fault("protocol-session-bound", "src/protocol/request.cpp",
          "kMinSessionBytes = 16;", "kMinSessionBytes = 17;",
          "a session of 16 bytes is refused"),
    Fault("protocol-type-not-a-string", "src/protocol/records.cpp",
          "return type != nullptr && type->is_string();", "return type != nullptr;",
          "a record whose type is not a string counts as a protocol record"),
    Fault("protocol-exit-code-base", "src/protocol/records.cpp",
          "code, high_bit ? 16 : 10);", "code, high_bit ? 10 : 16);",
          "exit codes are shown in the other base"),
    Fault("relay-answer-not-settled", "src/protocol/record_relay.cpp",
          "answered_key_.emplace(*id);", "(void)id;",
          "a rewritten response settles no pending request"),
    Fault("line-reader-limit-off-by-one", "src/io/line_reader.cpp",
          "if (out.size() - start + piece.size() <= limit) {", "if (out.size() - start + piece.size() < limit) {",
          "a line of exactly the limit is refused as too long"),
    Fault("project-outside-check", "src/project/resolve_project.cpp",
          "if (!platform::path_is_inside(resolved.value(), project_dir)) {", "if (false) {",
          "an interpreter that links outside the project is accepted"),
    Fault("launch-utf8-mode", "src/project/launch_backend.cpp",
          "os_string_from_utf8(\"PYTHONUTF8\"), os_string_from_utf8(\"1\")",
          "os_string_from_utf8(\"PYTHONUTF8\"), os_string_from_utf8(\"0\")",
          "the backend is started without Python's UTF-8 mode"),
    Fault("loop-duplicate-id", "src/loop/requests.cpp",
          "if (state.pending.contains(key)) return refuse(loop, id, \"Request id is already pending\");",
          "if (false) return refuse(loop, id, \"Request id is already pending\");",
          "a pending id is accepted a second time"),
    Fault("loop-grace-period", "src/loop/timings.hpp",
          "kShutdownGracePeriod{75};", "kShutdownGracePeriod{74};",
          "the shutdown deadline is a second short"),
    Fault("loop-drain-window", "src/loop/supervision.cpp",
          "if (output_drained(state) || now - *state.backend_exit > kDrainWindow) return Supervision::Leave;",
          "if (output_drained(state) || now - *state.backend_exit >= std::chrono::seconds(0)) return Supervision::Leave;",
          "output written just before the backend's exit is not waited for"),
    Fault("app-help-flag", "src/app/command_line.cpp",
          "if (is_word(first, \"-h\") || is_word(first, \"--help\")) {", "if (is_word(first, \"--help\")) {",
          "-h is no longer taken for help"),
]


def check_applies(fault: Fault, root: Path) -> str:
    """The file's text, after checking that the fault's text occurs in it exactly once."""
    text = (root / fault.path).read_text(encoding="utf-8")
    count = text.count(fault.old)
    if count != 1:
        raise SystemExit(f"{fault.name}: its text occurs {count} times in {fault.path}, not once; update the sample")
    return text


def copy_tree() -> None:
    """The working tree as it stands, committed or not, without builds and installed packages."""
    ignore = shutil.ignore_patterns("build", ".git", "node_modules", ".venv", "__pycache__", "dist")
    if TREE.exists():
        shutil.rmtree(TREE)
    shutil.copytree(REPO, TREE, ignore=ignore, symlinks=True)


def run(command: list, log: Path) -> int:
    with open(log, "w", encoding="utf-8") as out:
        return subprocess.run(command, cwd=TREE, stdout=out, stderr=subprocess.STDOUT).returncode


def build(log: Path) -> bool:
    return run(["cmake", "--build", "--preset", "debug"], log) == 0


def failed_tests(log: Path) -> list:
    text = log.read_text(encoding="utf-8", errors="replace")
    return re.findall(r"^\s*\d+ - (\S+) \(", text, re.MULTILINE)


def try_fault(fault: Fault) -> dict:
    original = check_applies(fault, TREE)
    target = TREE / fault.path
    log_dir = SCRATCH / "logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    target.write_text(original.replace(fault.old, fault.new), encoding="utf-8")
    try:
        started = time.monotonic()
        if not build(log_dir / f"{fault.name}.build.log"):
            return {"fault": fault, "caught_by": ["(the build)"], "seconds": time.monotonic() - started}
        test_log = log_dir / f"{fault.name}.test.log"
        jobs = str(os.cpu_count() or 2)
        status = run(["ctest", "--preset", "debug", "-LE", CTEST_LABELS, "-j", jobs], test_log)
        seconds = time.monotonic() - started
        caught_by = failed_tests(test_log) if status != 0 else []
        if status != 0 and not caught_by:
            caught_by = ["(ctest failed; see its log)"]
        return {"fault": fault, "caught_by": caught_by, "seconds": seconds}
    finally:
        target.write_text(original, encoding="utf-8")


def report_table(results: list) -> str:
    lines = ["| Fault | What it breaks | Caught by | Tests failed | Build and tests |",
             "|---|---|---|---:|---:|"]
    for result in results:
        fault = result["fault"]
        caught = result["caught_by"]
        shown = ", ".join(f"`{name}`" for name in caught[:3]) + (f" and {len(caught) - 3} more" if len(caught) > 3 else "")
        lines.append(f"| `{fault.name}` ({fault.path}) | {fault.what} | {shown or '**nothing**'} | "
                     f"{len(caught)} | {result['seconds']:.0f} s |")
    return "\n".join(lines) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", nargs="+", metavar="NAME")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--report", type=Path)
    args = parser.parse_args()

    faults = FAULTS
    if args.only:
        unknown = set(args.only) - {fault.name for fault in FAULTS}
        if unknown:
            raise SystemExit(f"unknown faults: {', '.join(sorted(unknown))}")
        faults = [fault for fault in FAULTS if fault.name in args.only]
    if args.list:
        for fault in faults:
            check_applies(fault, REPO)
            print(f"{fault.name:32} {fault.path}: {fault.what}")
        return 0

    for fault in faults:
        check_applies(fault, REPO)
    SCRATCH.mkdir(parents=True, exist_ok=True)
    print(f"copying the working tree to {TREE.relative_to(REPO)} and building it once", flush=True)
    copy_tree()
    if run(["cmake", "--preset", "debug"], SCRATCH / "configure.log") != 0 or not build(SCRATCH / "build.log"):
        raise SystemExit(f"the unchanged copy does not build; see {SCRATCH / 'build.log'}")

    results = []
    for fault in faults:
        print(f"{fault.name}: {fault.what} ...", end=" ", flush=True)
        result = try_fault(fault)
        results.append(result)
        caught = result["caught_by"]
        print(f"caught by {len(caught)} in {result['seconds']:.0f} s" if caught else "NOT CAUGHT", flush=True)

    table = report_table(results)
    print()
    print(table)
    if args.report:
        args.report.write_text(table, encoding="utf-8")
    missed = [result["fault"].name for result in results if not result["caught_by"]]
    slowest = max(results, key=lambda result: result["seconds"])
    print(f"{len(results) - len(missed)} of {len(results)} faults caught; the slowest, "
          f"{slowest['fault'].name}, took {slowest['seconds']:.0f} s to build and test")
    if missed:
        print("not caught: " + ", ".join(missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
