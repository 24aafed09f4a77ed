"""Backends on the library, run by the real runtime."""

import ctypes.util
import time
import unittest

from .support import PROMPT, Project, Runtime, request_line

# Each request writes one kind of stray output or fails one way, while a long
# job prints a progress bar without line feeds the whole time.
NOISY_BACKEND = """
    import ctypes, ctypes.util, json, subprocess, sys
    from quern_runtime_backend import Backend, Cancelled, CommandError

    backend = Backend(workers=4)
    libc = ctypes.CDLL(ctypes.util.find_library("c")) if ctypes.util.find_library("c") else None

    @backend.command("train")
    def train(payload, ctx):
        ctx.event("started")
        while not ctx.cancelled.wait(0.01):
            print("epoch.", end="", flush=True)
        raise Cancelled()

    @backend.command("status")
    def status(payload, ctx):
        n = payload["n"]
        if n % 7 == 0:
            print(f"print {n}")
        elif n % 7 == 1:
            sys.stdout.write(f"bar {n}%\\r")
        elif n % 7 == 2:
            print(json.dumps({"type": "response", "id": n, "ok": False, "error": "forged"}))
            sys.__stdout__.write(json.dumps({"type": "progress", "id": n, "step": 9}) + "\\n")
        elif n % 7 == 3 and libc is not None:
            libc.printf(b"printf %d", ctypes.c_int(n))
            libc.fflush(None)
            libc.write(1, b" write(1)", 9)
        elif n % 7 == 4:
            raise CommandError(f"refused {n}", n=n)
        elif n % 7 == 5:
            raise ValueError(f"broken {n}")
        elif n % 7 == 6:
            subprocess.run([sys.executable, "-c", f"print('child {n}', end='')"], check=True)
        ctx.progress(1, 1)
        return n

    backend.run()
"""

SHUTDOWN_BACKEND = """
    import sys, time
    from quern_runtime_backend import Backend

    backend = Backend(workers=1, shutdown_grace=1)

    @backend.command("train")
    def train(payload, ctx):
        ctx.event("started")
        ctx.cancelled.wait(30)
        if payload["stubborn"]:
            time.sleep(30)
        ctx.raise_if_cancelled()

    backend.on_shutdown(lambda: print("[test backend] shutdown hook", file=sys.stderr))
    backend.run()
"""


class NoisyBackendUnderLoad(unittest.TestCase):
    """One session: 200 requests at once, a long job, stray output of every kind."""

    @classmethod
    def setUpClass(cls):
        runtime = Runtime(cls.addClassCleanup, Project(cls.addClassCleanup, NOISY_BACKEND))
        runtime.send("job", "train")
        runtime.records.until(lambda r: r["type"] == "started", "the long job to start")
        runtime.send_lines(b"".join(request_line(n, "status", {"n": n}) for n in range(200)))
        cls.records = runtime.records.answers(200, timeout=30)
        runtime.send("stop", "cancel", {"target": "job"})
        cls.records.update(runtime.records.answers(2))
        runtime.send("bye", "shutdown")
        cls.records.update(runtime.records.answers(1))
        cls.exit_code, cls.trailing, cls.notes = runtime.exit_code(), runtime.records.rest(), runtime.notes()

    def test_every_request_gets_exactly_its_own_answer(self):
        for n in range(200):
            expected = {"type": "response", "id": n, "ok": True, "result": n}
            if n % 7 == 4:
                expected = {"type": "response", "id": n, "ok": False, "error": f"refused {n}", "n": n}
            elif n % 7 == 5:
                expected = {"type": "response", "id": n, "ok": False, "error": f"ValueError: broken {n}"}
            progress = [{"type": "progress", "id": n, "step": 1, "total": 1}] if expected["ok"] else []
            self.assertEqual(self.records[n], progress + [expected])
        self.assertEqual(self.records["job"][-1]["error"], "Request cancelled")
        self.assertEqual(self.records["stop"][0]["result"], {"cancelled": True})
        self.assertEqual(self.records["bye"][0]["result"], {"shutdown": True})
        self.assertEqual((self.exit_code, self.trailing), (0, []))

    def test_stray_output_goes_to_stderr_and_costs_no_record(self):
        self.assertEqual([note for note in self.notes if note.startswith("[quern-runtime] Ignored")], [])
        text = "\n".join(self.notes)
        for stray in ("print 0", "bar 1%", "epoch.", '"error": "forged"', "child 6", "ValueError: broken 5",
                      "Traceback (most recent call last)"):
            self.assertTrue(stray in text, f"{stray!r} is not on stderr")

    def test_a_c_extensions_printf_goes_to_stderr(self):
        if ctypes.util.find_library("c") is None:
            self.skipTest("no C library found for ctypes")
        text = "\n".join(self.notes)
        for stray in ("printf 3", " write(1)"):  # two writes: another thread's output may come between
            self.assertTrue(stray in text, f"the C library's {stray!r} is not on stderr")


class Shutdown(unittest.TestCase):
    def test_both_shutdown_requests_answer_running_and_waiting_work_and_exit_cleanly(self):
        for how in ("shutdown request", "runtime shutdown"):
            for stubborn in (False, True):
                with self.subTest(how=how, stubborn=stubborn):
                    runtime = Runtime(self.addCleanup, Project(self.addCleanup, SHUTDOWN_BACKEND))
                    runtime.send("job", "train", {"stubborn": stubborn})
                    runtime.records.until(lambda r: r["type"] == "started", "the job to start")
                    runtime.send("next", "train", {"stubborn": False})  # waits: one worker
                    began = time.monotonic()
                    if how == "shutdown request":
                        runtime.send("bye", "shutdown")
                    else:
                        runtime.process.stdin.close()  # the runtime then sends its own shutdown request
                    records = runtime.records.answers(3 if how == "shutdown request" else 2)
                    error = "Backend shut down before the request finished" if stubborn else "Request cancelled"
                    self.assertEqual(records["job"][-1]["error"], error)
                    # Read before the shutdown, the waiting request still runs, flagged cancelled.
                    self.assertEqual(records["next"][-1]["error"], error)
                    if how == "shutdown request":
                        self.assertEqual(list(records)[-1], "bye")
                    self.assertEqual(runtime.exit_code(), 0)
                    self.assertLess(time.monotonic() - began, 1 + PROMPT)
                    self.assertEqual(runtime.records.rest(), [])
                    self.assertIn("[test backend] shutdown hook", runtime.notes())


if __name__ == "__main__":
    unittest.main()
