"""Backends on the library, run by the real runtime."""

from __future__ import annotations

import ctypes.util
import time
import unittest

from .support import PROMPT, RUNTIME, Project, Runtime, RuntimeTest, request_line

# Each request writes one kind of stray output or fails one way, while a long
# job prints a progress bar without line feeds the whole time.
NOISY_BACKEND = """
    import ctypes, ctypes.util, json, os, subprocess, sys
    from quern_runtime_backend import Backend, Cancelled, CommandError

    backend = Backend(workers=4)
    name = ctypes.util.find_library("c")
    libc = ctypes.CDLL(name) if name else None

    @backend.command("train")
    def train(payload, ctx):
        ctx.event("started")
        while not ctx.cancelled.wait(0.01):
            print("epoch.", end="", flush=True)
        raise Cancelled()

    @backend.command("status")
    def status(payload, ctx):
        n = payload["n"]
        kind = n % 7
        if kind == 0:
            print(f"print {n}")
        elif kind == 1:
            sys.stdout.write(f"bar {n}%\\r")
            sys.stdout.flush()
        elif kind == 2:
            print(json.dumps({"type": "response", "id": n, "ok": False, "error": "forged"}), flush=True)
            sys.__stdout__.write(json.dumps({"type": "progress", "id": n, "step": 9}) + "\\n")
            sys.__stdout__.flush()
        elif kind == 3 and libc is not None:
            libc.printf(b"printf %d", ctypes.c_int(n))
            libc.fflush(None)
            libc.write(1, b" write(1)", 9)
        elif kind == 4:
            raise CommandError(f"refused {n}", n=n)
        elif kind == 5:
            raise ValueError(f"broken {n}")
        elif kind == 6:
            subprocess.run([sys.executable, "-c", f"print('child {n}', end='')"], check=True)
        ctx.progress(1, 1)
        return n

    backend.run()
"""

REQUESTS = 200


class NoisyBackendUnderLoad(unittest.TestCase):
    """One session: 200 requests at once, a long job, stray output of every kind."""

    @classmethod
    def setUpClass(cls) -> None:
        if not RUNTIME.is_file():
            raise unittest.SkipTest(f"no runtime at {RUNTIME} (make build, or set QUERN_RUNTIME)")
        cls.project = Project(NOISY_BACKEND)
        runtime = Runtime(cls.project)
        try:
            runtime.send("job", "train")
            runtime.records.until(lambda r: r["type"] == "started", "the long job to start")
            runtime.send_lines(b"".join(request_line(n, "status", {"n": n}) for n in range(REQUESTS)))
            cls.records = runtime.records.answers(REQUESTS, timeout=30)
            runtime.send("stop", "cancel", {"target": "job"})
            cls.records.update(runtime.records.answers(2))
            runtime.send("bye", "shutdown")
            cls.records.update(runtime.records.answers(1))
            cls.exit_code = runtime.exit_code()
            cls.trailing = runtime.records.rest()
            cls.notes = runtime.notes()
        finally:
            if runtime.process.poll() is None:
                runtime.process.kill()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.project.remove()

    def test_every_request_gets_exactly_its_own_answer(self) -> None:
        for n in range(REQUESTS):
            answers = [r for r in self.records[n] if r["type"] == "response"]
            if n % 7 == 4:
                expected = {"type": "response", "id": n, "ok": False, "error": f"refused {n}", "n": n}
            elif n % 7 == 5:
                expected = {"type": "response", "id": n, "ok": False, "error": f"ValueError: broken {n}"}
            else:
                expected = {"type": "response", "id": n, "ok": True, "result": n}
            self.assertEqual(answers, [expected])
            if expected["ok"]:
                self.assertEqual(self.records[n][0], {"type": "progress", "id": n, "step": 1, "total": 1})
        self.assertEqual(self.records["job"][-1]["error"], "Request cancelled")
        self.assertEqual(self.records["stop"], [{"type": "response", "id": "stop", "ok": True,
                                                 "result": {"cancelled": True}}])
        self.assertEqual(self.records["bye"][0]["result"], {"shutdown": True})
        self.assertEqual((self.exit_code, self.trailing), (0, []))

    def test_stray_output_goes_to_stderr_and_costs_no_record(self) -> None:
        dropped = [note for note in self.notes if note.startswith("[quern-runtime] Ignored")]
        self.assertEqual(dropped, [])
        text = "\n".join(self.notes)
        for stray in ("print 0", "bar 1%", "epoch.", '"error": "forged"', "child 6", "ValueError: broken 5",
                      "Traceback (most recent call last)"):
            self.assertTrue(stray in text, f"{stray!r} is not on stderr")

    def test_a_c_extensions_printf_goes_to_stderr(self) -> None:
        if ctypes.util.find_library("c") is None:
            self.skipTest("no C library found for ctypes")
        text = "\n".join(self.notes)
        # Two writes, and another thread's output may come between them.
        for stray in ("printf 3", " write(1)"):
            self.assertTrue(stray in text, f"the C library's {stray!r} is not on stderr")


SHUTDOWN_BACKEND = """
    import sys, time
    from quern_runtime_backend import Backend, Cancelled

    backend = Backend(shutdown_grace=1)

    @backend.command("train")
    def train(payload, ctx):
        ctx.event("started")
        ctx.cancelled.wait(30)
        if payload["stubborn"]:
            time.sleep(30)
        raise Cancelled()

    backend.on_shutdown(lambda: print("[test backend] shutdown hook", file=sys.stderr, flush=True))
    backend.run()
"""


class Shutdown(RuntimeTest):
    def test_each_way_of_stopping_answers_a_running_handler_and_exits_cleanly(self) -> None:
        for how in ("shutdown request", "runtime shutdown"):
            for stubborn in (False, True):
                with self.subTest(how=how, stubborn=stubborn):
                    runtime = self.run_backend(SHUTDOWN_BACKEND)
                    runtime.send("job", "train", {"stubborn": stubborn})
                    runtime.records.until(lambda r: r["type"] == "started", "the job to start")
                    began = time.monotonic()
                    if how == "shutdown request":
                        runtime.send("bye", "shutdown")
                    else:
                        runtime.close_input()  # the runtime then sends its own shutdown record
                    error = "Backend shut down before the request finished" if stubborn else "Request cancelled"
                    self.assertEqual(runtime.records.next("the job's answer"),
                                     {"type": "response", "id": "job", "ok": False, "error": error})
                    if how == "shutdown request":
                        self.assertEqual(runtime.records.next("the shutdown answer")["id"], "bye")
                    self.assertEqual(runtime.exit_code(), 0)
                    self.assertLess(time.monotonic() - began, 1 + PROMPT)
                    self.assertEqual(runtime.records.rest(), [])
                    self.assertIn("[test backend] shutdown hook", runtime.notes())


if __name__ == "__main__":
    unittest.main()
