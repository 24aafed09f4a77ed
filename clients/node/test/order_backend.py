"""A backend for the client's tests that reads its input all the time.

status     answers at once: {"order": N}, N counting the requests read so far
generate   says it arrived with a progress record, then is held until
           cancelled, or answered after payload "ms" milliseconds
cancel     cancels payload "target" as the protocol's convention says
benchmark  answers an id never sent first, then itself
shutdown   answers, then ends
Every other command is answered with ok false.
"""

import json
import sys
import threading

output_lock = threading.Lock()
held_lock = threading.Lock()
held = {}  # the JSON text of a held request's id -> its timer, or None


def emit(record):
    line = json.dumps(record, separators=(",", ":")) + "\n"
    with output_lock:
        sys.stdout.write(line)
        sys.stdout.flush()


def answer(request_id, result=None, error=None):
    outcome = {"ok": True, "result": result} if error is None else {"ok": False, "error": error}
    emit({"type": "response", "id": request_id, **outcome})


def finish(request_id, error=None):
    with held_lock:
        if json.dumps(request_id) not in held:
            return False
        timer = held.pop(json.dumps(request_id))
    if timer is not None:
        timer.cancel()
    answer(request_id, {"done": True}, error)
    return True


print("order backend: reading", file=sys.stderr, flush=True)
order = 0
for line in sys.stdin:
    request = json.loads(line)
    order += 1
    request_id, command, payload = request["id"], request["command"], request["payload"]
    if command == "status":
        answer(request_id, {"order": order})
    elif command == "generate":
        timer = None
        if "ms" in payload:
            timer = threading.Timer(payload["ms"] / 1000, finish, (request_id,))
            timer.daemon = True
        with held_lock:
            held[json.dumps(request_id)] = timer
        emit({"type": "progress", "id": request_id})
        if timer is not None:
            timer.start()
    elif command == "cancel":
        answer(request_id, {"cancelled": finish(payload["target"], "Request cancelled")})
    elif command == "benchmark":
        answer("never-sent", {})
        answer(request_id, {})
    elif command == "shutdown":
        answer(request_id, {"shutdown": True})
        break
    else:
        answer(request_id, error=f"not here: {command}")
