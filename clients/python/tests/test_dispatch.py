"""The dispatch and the answers, served in-process over pipes."""

from __future__ import annotations

import asyncio
import threading
import unittest

from quern_runtime_backend import Backend, Cancelled, CommandError

from .support import Served


class Answers(unittest.TestCase):
    def test_each_outcome_of_a_handler_has_its_answer(self) -> None:
        backend = Backend()

        @backend.command("status")
        def status(payload, ctx):
            ctx.event("log", text="hi")
            ctx.progress(1, 2, note="half")
            return payload.get("value")

        @backend.command("train")
        def train(payload, ctx):
            raise CommandError("no data", code=7)

        @backend.command("evaluate")
        def evaluate(payload, ctx):
            raise KeyError("model")

        @backend.command("benchmark")
        def benchmark(payload, ctx):
            return {"score": float("nan")} if payload.get("nan") else {"bad": object()}

        served = Served(self, backend)
        for request_id, command, payload in [(1, "status", {"value": [1, "ü"]}), ("two", "status", {}),
                                             (3, "train", {}), (4, "evaluate", {}), (5, "benchmark", {}),
                                             (6, "benchmark", {"nan": True}), (7, "generate", {})]:
            served.send(request_id, command, payload)
        records = served.records.answers(7)
        self.assertEqual(records[1], [{"type": "log", "id": 1, "text": "hi"},
                                      {"type": "progress", "id": 1, "step": 1, "total": 2, "note": "half"},
                                      {"type": "response", "id": 1, "ok": True, "result": [1, "ü"]}])
        self.assertEqual(records["two"][-1]["result"], None)
        self.assertEqual(records[3], [{"type": "response", "id": 3, "ok": False, "error": "no data", "code": 7}])
        self.assertEqual(records[4][0]["error"], "KeyError: 'model'")
        self.assertIn("Traceback (most recent call last)", served.log.getvalue())
        self.assertIn('raise KeyError("model")', served.log.getvalue())
        self.assertRegex(records[5][0]["error"], r"^Result is not JSON: .*object")
        self.assertRegex(records[6][0]["error"], r"^Result is not JSON: .*not JSON compliant")
        self.assertEqual(records[7][0]["error"], "The backend has no handler for 'generate'")
        served.close_input()
        self.assertEqual(served.stopped(), [])
        self.assertTrue(served.finished)

    def test_ids_are_matched_as_exact_json_values(self) -> None:
        backend = Backend()
        backend.command("status")(lambda payload, ctx: ctx.id)
        served = Served(self, backend)
        for request_id in (7, "7", 7.0, 1e300):
            served.send(request_id, "status")
        answers = [served.records.next(f"answer {n}") for n in range(4)]
        self.assertEqual(sorted(repr(a["result"]) for a in answers), ["'7'", "1e+300", "7", "7.0"])
        self.assertTrue(all(repr(a["id"]) == repr(a["result"]) for a in answers))
        served.close_input()
        served.stopped()

    def test_a_fallback_takes_the_commands_without_a_handler(self) -> None:
        backend = Backend()

        @backend.fallback
        def anything(payload, ctx):
            raise CommandError(f"not here: {ctx.command}")

        served = Served(self, backend)
        served.send(1, "import_model")
        self.assertEqual(served.records.answer(1)["error"], "not here: import_model")
        served.close_input()
        served.stopped()

    def test_mistakes_are_caught_where_they_are_made(self) -> None:
        backend = Backend()
        with self.assertRaisesRegex(ValueError, r"'trian' is not an allowed command.*command_table\.cpp.*'train'"):
            backend.command("trian")
        for own in ("cancel", "shutdown"):
            with self.assertRaisesRegex(ValueError, "answered by quern_runtime_backend itself"):
                backend.command(own)
        backend.command("status")(lambda payload, ctx: None)
        with self.assertRaisesRegex(ValueError, "has a handler already"):
            backend.command("status")
        with self.assertRaisesRegex(ValueError, "response's own members"):
            CommandError("x", ok=True)
        with self.assertRaises(ValueError):
            Backend(workers=0)
        with self.assertRaises(RuntimeError):
            backend.event("loaded")

        @backend.command("train")
        def train(payload, ctx):
            for forged in [lambda: ctx.event("response", ok=True), lambda: ctx.event("log", id=9),
                           lambda: ctx.event("log", value=float("inf"))]:
                with self.assertRaises(ValueError):
                    forged()
            backend.event("loaded", model="tiny")
            return "checked"

        served = Served(self, backend)
        served.send(1, "train")
        self.assertEqual(served.records.next("the free event"), {"type": "loaded", "model": "tiny"})
        self.assertEqual(served.records.answer(1)["result"], "checked")
        served.close_input()
        served.stopped()


class Threads(unittest.TestCase):
    def test_a_long_command_holds_up_neither_others_nor_status(self) -> None:
        release = threading.Event()
        backend = Backend(workers=2)
        backend.command("train")(lambda payload, ctx: release.wait(10))
        backend.command("status")(lambda payload, ctx: "idle")
        served = Served(self, backend)
        served.send(1, "train")
        served.send(2, "status")
        served.send(3, "status")
        self.assertEqual([served.records.next("a status answer")["id"] for _ in range(2)], [2, 3])
        release.set()
        self.assertTrue(served.records.answer(1)["result"])
        served.close_input()
        served.stopped()

    def test_exclusive_commands_run_one_at_a_time_in_order(self) -> None:
        running, peak, order = [0], [0], []
        lock = threading.Lock()
        backend = Backend(workers=4)

        def job(payload, ctx):
            with lock:
                running[0] += 1
                peak[0] = max(peak[0], running[0])
                order.append(ctx.id)
            threading.Event().wait(0.02)
            with lock:
                running[0] -= 1

        async def async_job(payload, ctx):
            job(payload, ctx)

        backend.command("train", exclusive=True)(job)
        backend.command("pretrain", exclusive=True)(async_job)
        served = Served(self, backend)
        for n in range(8):
            served.send(n, "train" if n % 2 else "pretrain")
        self.assertEqual(sorted(served.records.answer(n)["id"] for n in range(8)), list(range(8)))
        self.assertEqual((order, peak[0]), (list(range(8)), 1))
        served.close_input()
        served.stopped()

    def test_async_handlers_share_one_event_loop(self) -> None:
        backend = Backend()
        loops = set()

        @backend.command("generate")
        async def generate(payload, ctx):
            loops.add(id(asyncio.get_running_loop()))
            await asyncio.sleep(0.05)
            ctx.progress(1, 1)
            if payload.get("fail"):
                raise CommandError("async failure")
            return payload["n"]

        served = Served(self, backend)
        for n in range(20):
            served.send(n, "generate", {"n": n, "fail": n == 5})
        answers = {}
        while len(answers) < 20:
            record = served.records.next(f"20 answers, have {len(answers)}")
            if record["type"] == "response":
                answers[record["id"]] = record
        self.assertEqual(answers[5]["error"], "async failure")
        self.assertEqual([answers[n].get("result") for n in range(20) if n != 5], [n for n in range(20) if n != 5])
        self.assertEqual(len(loops), 1)
        served.close_input()
        served.stopped()


class Cancel(unittest.TestCase):
    def test_cancel_reaches_running_waiting_and_async_requests(self) -> None:
        started = threading.Event()
        backend = Backend()

        @backend.command("train", exclusive=True)
        def train(payload, ctx):
            started.set()
            ctx.cancelled.wait(10)
            self.assertTrue(ctx.cancelled)
            ctx.raise_if_cancelled()

        @backend.command("generate")
        async def generate(payload, ctx):
            await asyncio.sleep(10)

        served = Served(self, backend)
        served.send("run", "train")
        served.send("wait", "train")
        served.send("async", "generate")
        self.assertTrue(started.wait(5), "the first train request did not start")
        cancelled = {"type": "response", "ok": False, "error": "Request cancelled"}
        served.send("c1", "cancel", {"target": "wait"})
        self.assertEqual(served.records.next("the waiting request's answer"), {**cancelled, "id": "wait"})
        self.assertEqual(served.records.next("the answer to c1")["result"], {"cancelled": True})
        served.send("c2", "cancel", {"target": "run"})
        served.send("c3", "cancel", {"target": "async"})
        records = served.records.answers(4)
        self.assertEqual([records[target] for target in ("run", "async")],
                         [[{**cancelled, "id": "run"}], [{**cancelled, "id": "async"}]])
        self.assertEqual([records[c][0]["result"] for c in ("c2", "c3")], [{"cancelled": True}] * 2)
        served.send("c4", "cancel", {"target": "run"})
        served.send("c5", "cancel", {})
        self.assertEqual(served.records.next("the answer to c4")["result"], {"cancelled": False})
        self.assertEqual(served.records.next("the answer to c5")["error"], 'cancel needs the payload {"target": ID}')
        served.close_input()
        self.assertEqual(served.stopped(), [])


class Shutdown(unittest.TestCase):
    def backend(self, grace: float) -> Backend:
        backend = Backend(workers=2, shutdown_grace=grace)
        self.hooks = []
        self.release = threading.Event()
        self.started = threading.Semaphore(0)

        @backend.command("train")
        def train(payload, ctx):
            self.started.release()
            ctx.cancelled.wait(10)
            if payload.get("hold"):
                self.release.wait(10 if payload["hold"] == "briefly" else 60)
            raise Cancelled()

        backend.on_shutdown(lambda: self.hooks.append("hook"))
        return backend

    def test_shutdown_cancels_running_work_and_is_answered_last(self) -> None:
        served = Served(self, self.backend(grace=5))
        served.send(1, "train")
        served.send(2, "train", {"hold": "briefly"})
        served.send(3, "train")  # waits: two workers
        for _ in range(2):
            self.assertTrue(self.started.acquire(timeout=5), "requests 1 and 2 did not start")
        served.send("bye", "shutdown")
        errors = {}
        for _ in range(2):
            record = served.records.next("the answers to 1 and 3")
            errors[record["id"]] = record["error"]
        self.assertEqual(errors, {1: "Request cancelled", 3: "Backend is shutting down"})
        served.send(4, "status")
        self.assertEqual(served.records.next("the answer to 4")["error"], "Backend is shutting down")
        self.assertEqual(self.hooks, [])
        self.release.set()
        self.assertEqual(served.records.next("the answer to 2")["error"], "Request cancelled")
        self.assertEqual(served.records.next("the shutdown answer"),
                         {"type": "response", "id": "bye", "ok": True, "result": {"shutdown": True}})
        self.assertEqual(self.hooks, ["hook"])
        self.assertEqual(served.stopped(), [])
        self.assertTrue(served.finished)

    def test_a_handler_past_the_grace_period_is_answered_before_the_end(self) -> None:
        for how in ("runtime shutdown", "end of input"):
            with self.subTest(how=how):
                served = Served(self, self.backend(grace=0.3))
                served.send(1, "train", {"hold": "long"})
                self.assertTrue(self.started.acquire(timeout=5), "request 1 did not start")
                if how == "end of input":
                    served.close_input()
                else:
                    served.send("__runtime_shutdown__", "shutdown")
                self.assertEqual(served.records.next("the answer to 1")["error"],
                                 "Backend shut down before the request finished")
                self.assertEqual(served.stopped(), [])  # the runtime's own shutdown is not answered
                self.assertEqual((served.finished, self.hooks), (False, ["hook"]))
                self.release.set()


if __name__ == "__main__":
    unittest.main()
