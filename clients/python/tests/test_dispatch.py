"""The dispatch and the answers, served in-process over pipes."""

import asyncio
import threading
import unittest

from quern_runtime_backend import Backend, CommandError

from .support import Served

CANCELLED = {"type": "response", "ok": False, "error": "Request cancelled"}
SHUT_DOWN = {"type": "response", "id": "bye", "ok": True, "result": {"shutdown": True}}


class Answers(unittest.TestCase):
    """Raised errors and their tracebacks are tried through the runtime (test_runtime)."""

    def test_what_cannot_be_written_is_refused_and_still_answered(self):
        backend = Backend()

        @backend.command("status")
        def status(payload, ctx):
            ctx.event("log", text="hi")
            backend.event("loaded")
            for fields in [{"type": "response"}, {"id": 9}, {"value": float("inf")}]:
                with self.assertRaises(ValueError):
                    ctx.event(fields.pop("type", "log"), **fields)
            return {"score": float("nan")} if payload else {"x": object()}

        served = Served(self, backend)
        for request_id, payload in [(1, {}), (2, {"nan": 1})]:
            served.send(request_id, "status", payload)
        served.send(3, "generate")
        records = served.records.answers(3)
        self.assertEqual(records[1][0], {"type": "log", "id": 1, "text": "hi"})
        self.assertEqual(records[None], [{"type": "loaded"}] * 2)
        self.assertRegex(records[1][-1]["error"], r"^Result is not JSON: .*object")
        self.assertRegex(records[2][-1]["error"], r"^Result is not JSON: .*not JSON compliant")
        self.assertEqual(records[3][0]["error"], "The backend has no handler for 'generate'")
        served.close_input()
        self.assertEqual((served.stopped(), served.finished), ([], True))

    def test_mistakes_fail_where_they_are_made(self):
        backend = Backend()
        with self.assertRaisesRegex(ValueError, r"'trian' is not an allowed command.*command_table\.cpp.*'train'"):
            backend.command("trian")
        with self.assertRaisesRegex(ValueError, "answered by quern_runtime_backend itself"):
            backend.command("cancel")
        backend.command("train")(lambda payload, ctx: None)
        with self.assertRaisesRegex(ValueError, "has a handler already"):
            backend.command("train")
        with self.assertRaisesRegex(ValueError, "response's own members"):
            CommandError("x", ok=True)
        with self.assertRaises(RuntimeError):
            backend.event("loaded")


class Threads(unittest.TestCase):
    def test_exclusive_handlers_take_turns_and_async_ones_share_one_loop(self):
        running, order, loops = [], [], set()
        backend = Backend(workers=4)

        def job(payload, ctx):
            running.append(ctx.id)
            order.append((ctx.id, len(running)))
            threading.Event().wait(0.02)
            running.remove(ctx.id)

        async def async_job(payload, ctx):
            loops.add(asyncio.get_running_loop())
            await asyncio.sleep(0.01)
            if ctx.command == "pretrain":
                job(payload, ctx)

        backend.command("train", exclusive=True)(job)
        backend.command("pretrain", exclusive=True)(async_job)
        backend.command("generate")(async_job)
        served = Served(self, backend)
        for n in range(20):
            served.send(n, "generate" if n >= 8 else "train" if n % 2 else "pretrain")
        self.assertEqual(sorted(served.records.answers(20)), list(range(20)))
        self.assertEqual((order, len(loops)), ([(n, 1) for n in range(8)], 1))
        served.close_input()
        served.stopped()


class CancelAndShutdown(unittest.TestCase):
    def setUp(self):
        self.backend = Backend(workers=2, shutdown_grace=0.5)
        self.started, self.release, self.hooks = threading.Semaphore(0), threading.Event(), []
        self.addCleanup(self.release.set)

        @self.backend.command("train")
        def train(payload, ctx):
            self.started.release()
            ctx.cancelled.wait(10)
            if payload.get("hold"):
                self.release.wait(10)
            ctx.raise_if_cancelled()

        @self.backend.command("generate")
        async def generate(payload, ctx):
            self.started.release()
            await asyncio.sleep(10)

        self.backend.on_shutdown(lambda: self.hooks.append("hook"))

    def serve(self, requests, started):
        served = Served(self, self.backend)
        for request in requests:
            served.send(*request)
        for _ in range(started):
            self.assertTrue(self.started.acquire(timeout=5), "a handler did not start")
        return served

    def test_cancel_reaches_running_waiting_and_async_requests(self):
        served = self.serve([(1, "train"), ("async", "generate"), (2, "train"), ("wait", "train")], started=3)
        served.send("c1", "cancel", {"target": "wait"})
        # The cancel's own answer comes first, then the cancelled request's.
        self.assertEqual(served.records.next("the cancel's answer")["result"], {"cancelled": True})
        self.assertEqual(served.records.next("the waiting request's answer"), {**CANCELLED, "id": "wait"})
        for cancel_id, target in [("c2", 1.0), ("c3", 1), ("c4", "async")]:  # 1.0 is not the id 1
            served.send(cancel_id, "cancel", {"target": target})
        records = served.records.answers(5)
        self.assertEqual([records[c][0]["result"]["cancelled"] for c in ("c2", "c3", "c4")], [False, True, True])
        self.assertEqual([records[1], records["async"]], [[{**CANCELLED, "id": 1}], [{**CANCELLED, "id": "async"}]])
        served.send("c5", "cancel", {"target": 1})
        served.send("c6", "cancel", {})
        self.assertEqual(served.records.next("the answer to c5")["result"], {"cancelled": False})
        self.assertEqual(served.records.next("the answer to c6")["error"], 'cancel needs the payload {"target": ID}')
        served.send("bye", "shutdown")
        self.assertEqual(served.records.next("the answer to 2"), {**CANCELLED, "id": 2})
        self.assertEqual(served.stopped(), [SHUT_DOWN])

    def test_shutdown_waits_for_running_handlers_then_answers_last(self):
        for how in ("shutdown request", "runtime shutdown", "end of input"):
            with self.subTest(how=how):
                self.hooks.clear()
                served = self.serve([(1, "train"), (2, "train", {"hold": True}), (3, "train")], started=2)
                if how == "end of input":
                    served.close_input()
                else:
                    served.send("bye" if how == "shutdown request" else "__runtime_shutdown__", "shutdown")
                    served.send(4, "status")  # after shutdown began
                records = served.records.answers(3 if how == "end of input" else 4)
                self.assertEqual(records[1], [{**CANCELLED, "id": 1}])
                self.assertEqual(records[2][0]["error"], "Backend shut down before the request finished")
                # Read before the shutdown, 3 still runs, flagged cancelled; 4 came after.
                self.assertEqual(records[3][-1], {**CANCELLED, "id": 3})
                if how != "end of input":
                    self.assertEqual(records[4][0]["error"], "Backend is shutting down")
                self.assertEqual(served.stopped(), [SHUT_DOWN] if how == "shutdown request" else [])
                self.assertEqual((served.finished, self.hooks), (False, ["hook"]))
                self.release.set()
                self.release.clear()


if __name__ == "__main__":
    unittest.main()
