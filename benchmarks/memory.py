"""Memory per stored event, traced with tracemalloc: `python benchmarks/memory.py SIDE VARIANT` prints bytes.

SIDE is "module" (state_update of an executor) or "python" (the baseline's state_update into a dict of
lists); VARIANT is a key of workloads.EVENT_MAPS.  The event maps are made before tracing starts; what
is counted is everything a stored event keeps alive: the record, its metadata map, a timestamp made at
recording, and its slot in the list.  Run each measurement in a fresh process.
"""

from __future__ import annotations

import gc
import os
import sys
import tracemalloc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import baselines  # noqa: E402
import workloads  # noqa: E402

from brevant.zezuvo import ZeZuvoRuntime  # noqa: E402

EVENTS = 20_000


def bytes_per_event(side: str, variant: str) -> float:
    maps = [dict(workloads.EVENT_MAPS[variant]) for _ in range(EVENTS)]
    if side == "module":
        executor = workloads.Executor.from_string(ZeZuvoRuntime(), workloads.ENTRY)
        record = executor.state_update
        record("algo", maps[0])  # the name's list exists before tracing, as on the other side
    else:
        store: dict = {}
        baselines.state_update(store, "algo", maps[0])

        def record(name, data):
            baselines.state_update(store, name, data)

    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    for data in maps[1:]:
        record("algo", data)
    gc.collect()
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    return (after - before) / (EVENTS - 1)


if __name__ == "__main__":
    print(bytes_per_event(sys.argv[1], sys.argv[2]))
