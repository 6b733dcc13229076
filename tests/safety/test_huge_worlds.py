"""Very deep, very wide and very busy worlds, and memory over a long run. Each world runs in a
child interpreter, so a crash shows as a failed test with its signal instead of ending the run.
The child prints one JSON line of findings, which the test compares."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

SANITIZED = bool(os.environ.get("ORV_SANITIZED"))


def run_world(script, asan_options=""):
    env = dict(os.environ)
    if SANITIZED:  # the child's sanitizer reports go to its stderr, which a failure shows
        env["ASAN_OPTIONS"] = f"{env.get('ASAN_OPTIONS', '')}:log_path=stderr{asan_options}"
        env["UBSAN_OPTIONS"] = f"{env.get('UBSAN_OPTIONS', '')}:log_path=stderr"
    child = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                           env=env, timeout=900)
    assert child.returncode == 0, f"exit status {child.returncode}\n{child.stdout}\n{child.stderr[-8000:]}"
    return json.loads(child.stdout.strip().splitlines()[-1])


DEEP_CHAIN = """
    import json, orv_engine as oe
    root = oe.Environment("z0")
    zone = root
    for i in range(1, 100_000):  # built from the top, so each attachment checks an empty zone for cycles
        sub = oe.Environment(f"z{i}")
        zone.add_sub_environment(sub)
        parent, zone = zone, sub
    parent.add_charge(1.0, oe.POSITIVE, "kept")
    zone.add_charge(2.0, oe.POSITIVE, "a"); zone.add_charge(3.0, oe.NEGATIVE, "b"); zone.add_plus_magician("p")

    def refusal(call):
        try:
            return len(call())
        except ValueError as error:
            return str(error)

    found = {"to_json": refusal(root.to_json), "frames": []}
    seq = oe.NarrativeSequencer(root)
    while not seq.is_finished:
        refused = refusal(seq.next_frame)
        found["frames"].append([seq.current_frame, seq.is_finished, len(parent.charges), len(zone.charges), refused])
    found["after_finish"] = [refusal(seq.next_frame), seq.current_frame]
    del root, parent, zone, sub, seq
    print(json.dumps(found))
"""


def test_chain_of_100000_nested_zones_steps_and_drops():
    found = run_world(DEEP_CHAIN)
    # Text this deep is refused before writing, with a message that says why (or it is written).
    refusals = [found["to_json"], *[frame.pop() for frame in found["frames"]], found["after_finish"][0]]
    for refusal, depth in zip(refusals, [200001, 200001, 199999, 199999, 199999]):
        assert isinstance(refusal, int) or refusal.startswith(f"cannot write a JSON document nested {depth} levels deep")
    # A cast at the bottom, the bottom zone folds into its parent, then nothing is left to do.
    assert found["frames"] == [[1, False, 1, 1], [2, False, 2, 1], [3, True, 2, 1]]
    assert found["after_finish"][1] == 3


MILLION_CHARGES = """
    import json, orv_engine as oe
    root = oe.Environment("wide")
    root.charges = [oe.Charge(0.5, oe.POSITIVE, "c")] * 1_000_000
    root.add_equals_gate("never", -1.0)
    document = json.loads(root.to_json())
    seq = oe.NarrativeSequencer(root)
    report = json.loads(seq.next_frame())
    seq.is_finished = False
    root.add_plus_magician("sum")
    summed = json.loads(seq.next_frame())
    print(json.dumps({"to_json": len(document["charges"]), "frame": [len(report["charges"]), report["meta"]["status"]],
                      "summed": [summed["charges"], summed["meta"]["message"]]}))
"""


def test_world_of_a_million_charges_serialises():
    found = run_world(MILLION_CHARGES)
    assert found["to_json"] == 1_000_000 and found["frame"] == [1_000_000, "FINISHED"]
    assert found["summed"] == [[{"magnitude": 500000.0, "polarity": "positive", "visual_id": "result_sum"}],
                               "Plus Magician executed operation in wide"]


BUSY_WORLD = """
    import json, orv_engine as oe
    root = oe.Environment("busy")
    root.add_charge(1.0, oe.POSITIVE, "c")
    for i in range(2_500):  # each of them acts on the single charge once and leaves
        root.add_abs_magician(f"abs{i}")
        root.add_factorial_magician(f"fact{i}")
    seq = oe.NarrativeSequencer(root)
    metas = {}
    for call in range(1, 1003):
        text = seq.next_frame()
        assert seq.current_frame == min(call, 1000), (call, seq.current_frame)
        if call in (1, 1000, 1001, 1002):
            report = json.loads(text)
            metas[call] = [report["meta"], len(report["agents"])]
    print(json.dumps(metas))
"""


def test_world_of_5000_agents_runs_into_the_frame_limit():
    metas = run_world(BUSY_WORLD)
    assert [metas[k][0]["frame_index"] for k in ("1", "1000", "1001", "1002")] == [1, 1000, 1000, 1000]
    assert [metas[k][1] for k in ("1", "1000", "1001", "1002")] == [4999, 4000, 4000, 4000]
    assert metas["1000"][0]["status"] == "RUNNING"
    for k in ("1001", "1002"):
        assert metas[k][0] == {"frame_index": 1000, "last_event": None, "status": "ERROR",
                               "message": "Max frame limit reached. Infinite loop detected."}


REFILLED_WORLD = """
    import json, os, sys, orv_engine as oe
    frames = int(sys.argv[1])
    agents = [(name, ("g", 1.5) + ((">=",) if name.endswith("inequality_gate") else ()) if name.endswith("gate") else ("a",))
              for name in dir(oe.Environment) if name.startswith("add_") and name not in ("add_charge", "add_sub_environment")]
    assert len(agents) == 13

    def resident():
        return int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def refused(call, *args):
        try:
            call(*args)
        except (TypeError, ValueError, RuntimeError):
            return
        raise AssertionError(call)

    for frame in range(frames):
        if frame % 50 == 0:  # a fresh world and sequencer now and then
            root = oe.Environment("root")
            seq = oe.NarrativeSequencer(root)
        elif frame % 25 == 0:
            seq.current_frame = 0
        sub = oe.Environment("sub")
        sub.add_charge(2.0, oe.POSITIVE, "a")
        sub.add_charge(3.0, oe.NEGATIVE, "b")
        sub.add_plus_magician("p")
        root.add_sub_environment(sub)
        name, args = agents[frame % 13]
        getattr(root, name)(*args)
        root.add_charge(float(frame), oe.NEUTRAL, "c")
        view = root.charges
        view[0].magnitude = 0.5
        if frame % 7 == 0:
            root.charges = view[:3]
            refused(setattr, view[0], "magnitude", 1.0)  # stale now
        if frame % 10 == 0:  # the refusals, which must not leak either
            refused(root.add_charge, 1.0, None, "x")
            refused(oe.Environment(b"\\xff").to_json)
            refused(getattr, oe.Environment(b"\\xff"), "id")
            refused(oe.NarrativeSequencer, None)
            refused(root.add_sub_environment, root)
        seq.is_finished = False
        seq.next_frame()
        if frame == frames // 5:
            warm = resident()
    print(json.dumps({"frames": frames, "warm": warm, "final": resident()}))
"""


def test_resident_memory_stays_flat_while_the_host_keeps_refilling():
    # Under the sanitizers a tenth of the frames, and no quarantine of freed memory, whose filling
    # would look like growth; LeakSanitizer checks the child at exit as well.
    frames = 20_000 if SANITIZED else 200_000
    found = run_world(REFILLED_WORLD.replace("sys.argv[1]", str(frames)), ":quarantine_size_mb=0")
    growth = found["final"] / found["warm"] - 1
    print(f"resident memory over {frames} frames: {found['warm']} -> {found['final']} bytes ({growth:+.2%})")
    assert growth < 0.05


AT_THE_DEPTH_LIMIT = """
    import json, re, threading, orv_engine as oe

    def chain(zones):
        root = zone = oe.Environment("z")
        for _ in range(zones - 1):
            sub = oe.Environment("z")
            zone.add_sub_environment(sub)
            zone = sub
        zone.add_charge(1.0, oe.POSITIVE, "c")  # one level below the deepest zone
        return root

    def write():
        try:
            chain(6_000).to_json()
        except ValueError as error:
            limit = int(re.search(r"at most (\\d+) levels", str(error)).group(1))
        zones = (limit - 1) // 2  # the deepest document that may be written here
        sizes = [len(chain(zones).to_json()), len(oe.NarrativeSequencer(chain(zones)).next_frame())]
        print(json.dumps({"limit": limit, "sizes": sizes}))

    threading.stack_size(STACK)
    thread = threading.Thread(target=write)
    thread.start()
    thread.join()
"""


UNDERESTIMATED = pytest.mark.xfail(SANITIZED, strict=True, reason="the depth guard assumes 2 KiB of stack per level in "
                                   "sanitized builds; the writer takes about 3 KiB, so text it allows overflows the stack")


@pytest.mark.parametrize("stack", [256 << 10, pytest.param(1 << 20, marks=UNDERESTIMATED), pytest.param(4 << 20, marks=UNDERESTIMATED)])
def test_text_as_deep_as_the_guard_allows_is_written_on_a_small_thread_stack(stack):
    found = run_world(AT_THE_DEPTH_LIMIT.replace("STACK", str(stack)))
    assert 0 < found["limit"] and min(found["sizes"]) > found["limit"] * 10
