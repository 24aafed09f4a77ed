"""A test backend that reads all the time. Every request is answered at once
with {"order": N}, N counting the requests read, except: generate sends a
progress record, then is held until cancelled, or answered after payload "ms"
milliseconds; cancel answers as the protocol's convention says; benchmark
first answers an id never sent; shutdown ends the backend once answered."""
import json
import sys
import threading

lock = threading.Lock()
held = {}  # the JSON text of a held request's id -> its timer, or None


def emit(**record):
    with lock:
        sys.stdout.write(json.dumps(record) + "\n")
        sys.stdout.flush()


def finish(request_id, error=None):
    with lock:
        if json.dumps(request_id) not in held:
            return False
        timer = held.pop(json.dumps(request_id))
    if timer is not None:
        timer.cancel()
    emit(type="response", id=request_id, **({"ok": False, "error": error} if error else {"ok": True, "result": {}}))
    return True


print("order backend: reading", file=sys.stderr, flush=True)
for order, line in enumerate(sys.stdin, 1):
    request = json.loads(line)
    request_id, command, payload = request["id"], request["command"], request["payload"]
    if command == "generate":
        timer = threading.Timer(payload["ms"] / 1000, finish, (request_id,)) if "ms" in payload else None
        with lock:
            held[json.dumps(request_id)] = timer
        emit(type="progress", id=request_id)
        if timer is not None:
            timer.start()
        continue
    if command == "benchmark":
        emit(type="response", id="never-sent", ok=True, result={})
    result = {"cancelled": finish(payload["target"], "Request cancelled")} if command == "cancel" else {"order": order}
    emit(type="response", id=request_id, ok=True, result=result)
    if command == "shutdown":
        break
