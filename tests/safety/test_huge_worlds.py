"""Very deep, very wide and very busy worlds, and memory over a long run. Each world runs in a child
interpreter, so a crash fails its test with the signal instead of ending the run. The child prints
its findings as one JSON line, which the test compares."""
import json
import os
import resource
import subprocess
import sys
import textwrap

import pytest

SANITIZED = bool(os.environ.get("ORV_SANITIZED"))
PRELUDE = """
import json, os, re, threading, orv_engine as oe

def chain(zones):
    '''zones nested in one another, built from the top; the root, the second deepest and the deepest'''
    root = zone = parent = oe.Environment("z0")
    for i in range(1, zones):
        sub = oe.Environment(f"z{i}")
        zone.add_sub_environment(sub)
        parent, zone = zone, sub
    return root, parent, zone

def refusal(call):
    try:
        return len(call())
    except ValueError as error:
        return str(error)
"""


# What a child starts from: the variables this suite sets up, and nothing else of the calling shell,
# so that two runs of the same clone, or of two clones, start every child alike.
CHILD_VARIABLES = ("PATH", "HOME", "LANG", "LC_ALL", "TMPDIR", "PYTHONPATH", "PYTHONMALLOC", "LD_PRELOAD",
                   "SKBUILD_EDITABLE_SKIP", "ORV_SANITIZED", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
CHILD_STACK = 8 << 20


def fixed_limits():
    # The stack limit decides where the kernel lays out the child's memory and how large the sanitizer
    # runtime takes the main thread's stack to be; a shell with another limit must not change either.
    _, hard = resource.getrlimit(resource.RLIMIT_STACK)
    resource.setrlimit(resource.RLIMIT_STACK, (CHILD_STACK if hard == resource.RLIM_INFINITY else min(CHILD_STACK, hard), hard))


def run_world(script, asan_options=""):
    env = {name: os.environ[name] for name in CHILD_VARIABLES if name in os.environ}
    if SANITIZED:  # the child's sanitizer reports go to its stderr, which a failure shows
        env["ASAN_OPTIONS"] = f"{env.get('ASAN_OPTIONS', '')}:log_path=stderr{asan_options}"
        env["UBSAN_OPTIONS"] = f"{env.get('UBSAN_OPTIONS', '')}:log_path=stderr"
        # The leak check at the child's exit names each thread and range it scans, so that a failure
        # of the checker itself shows how far it got.
        env["LSAN_OPTIONS"] = f"{env.get('LSAN_OPTIONS', '')}:log_threads=1"
    child = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(script)], capture_output=True,
                           stdin=subprocess.DEVNULL, text=True, env=env, timeout=900, preexec_fn=fixed_limits)
    assert child.returncode == 0, f"exit status {child.returncode}\n{child.stdout}\n{child.stderr[-8000:]}"
    return json.loads(child.stdout.strip().splitlines()[-1])


def test_chain_of_100000_nested_zones_steps_and_drops():
    found = run_world("""
        root, parent, zone = chain(100_000)
        parent.add_charge(1.0, oe.POSITIVE, "kept")
        zone.add_charge(2.0, oe.POSITIVE, "a"); zone.add_charge(3.0, oe.NEGATIVE, "b"); zone.add_plus_magician("p")
        found = {"to_json": refusal(root.to_json), "frames": []}
        seq = oe.NarrativeSequencer(root)
        while not seq.is_finished:
            refused = refusal(seq.next_frame)
            found["frames"].append([seq.current_frame, seq.is_finished, len(parent.charges), len(zone.charges), refused])
        found["after"] = [refusal(seq.next_frame), seq.current_frame]
        del root, parent, zone, seq  # the whole chain goes with the root
        print(json.dumps(found))
    """)
    # Text this deep is refused before writing, with a message that says why (or it is written).
    refusals = [found["to_json"], *[frame.pop() for frame in found["frames"]], found["after"][0]]
    for refusal, depth in zip(refusals, [200001, 200001, 199999, 199999, 199999]):
        assert isinstance(refusal, int) or refusal.startswith(f"cannot write a JSON document nested {depth} levels deep")
    # A cast at the bottom, the bottom zone folds into its parent, then nothing is left to do.
    assert found["frames"] == [[1, False, 1, 1], [2, False, 2, 1], [3, True, 2, 1]] and found["after"][1] == 3


def test_world_of_a_million_charges_serialises():
    found = run_world("""
        root = oe.Environment("wide")
        root.charges = [oe.Charge(0.5, oe.POSITIVE, "c")] * 1_000_000
        root.add_equals_gate("never", -1.0)
        seq = oe.NarrativeSequencer(root)
        found = [len(json.loads(root.to_json())["charges"]), len(json.loads(seq.next_frame())["charges"])]
        seq.is_finished = False
        root.add_plus_magician("sum")
        print(json.dumps(found + [json.loads(seq.next_frame())["charges"]]))
    """)
    assert found == [1_000_000, 1_000_000, [{"magnitude": 500000.0, "polarity": "positive", "visual_id": "result_sum"}]]


def test_world_of_5000_agents_runs_into_the_frame_limit():
    reports = run_world("""
        root = oe.Environment("busy")
        root.add_charge(1.0, oe.POSITIVE, "c")
        for i in range(2_500):  # each of them acts on the single charge once and leaves
            root.add_abs_magician(f"abs{i}")
            root.add_factorial_magician(f"fact{i}")
        seq = oe.NarrativeSequencer(root)
        reports = {}
        for call in range(1, 1003):
            text = seq.next_frame()
            assert seq.current_frame == min(call, 1000), (call, seq.current_frame)
            if call in (1, 1000, 1001, 1002):
                report = json.loads(text)
                reports[call] = [len(report["agents"]), report["meta"]]
        print(json.dumps(reports))
    """)
    assert [reports[k][0] for k in ("1", "1000", "1001", "1002")] == [4999, 4000, 4000, 4000]
    assert [reports[k][1]["status"] for k in ("1", "1000")] == ["RUNNING", "RUNNING"]
    assert reports["1"][1]["frame_index"] == 1 and reports["1000"][1]["frame_index"] == 1000
    for k in ("1001", "1002"):
        assert reports[k][1] == {"frame_index": 1000, "last_event": None, "status": "ERROR",
                                 "message": "Max frame limit reached. Infinite loop detected."}


def test_resident_memory_stays_flat_while_the_host_keeps_refilling():
    # Under the sanitizers a tenth of the frames, and no quarantine of freed memory, whose filling
    # would look like growth; LeakSanitizer checks the child at exit as well.
    frames = 20_000 if SANITIZED else 200_000
    found = run_world(f"""
        agents = [(name, ("a", 1.5, ">=")[:name.count("gate") + name.count("inequality") + 1]) for name in dir(oe.Environment)
                  if name.startswith("add_") and name not in ("add_charge", "add_sub_environment")]
        def refused(call, *args):
            try:
                call(*args)
            except (TypeError, ValueError, RuntimeError):
                return
            raise AssertionError(call)
        for frame in range({frames}):
            if frame % 50 == 0:  # a fresh world and sequencer now and then, in between a rewound one
                root = oe.Environment("root")
                seq = oe.NarrativeSequencer(root)
            elif frame % 25 == 0:
                seq.current_frame = 0
            sub = oe.Environment("sub")
            sub.add_charge(2.0, oe.POSITIVE, "a"); sub.add_charge(3.0, oe.NEGATIVE, "b"); sub.add_plus_magician("p")
            root.add_sub_environment(sub)
            name, args = agents[frame % 13]
            getattr(root, name)(*args)
            root.add_charge(float(frame), oe.NEUTRAL, "c")
            view = root.charges
            view[0].magnitude = 0.5
            if frame % 7 == 0:
                root.charges = view[:3]
                refused(setattr, view[0], "magnitude", 1.0)  # stale now
            if frame % 10 == 0:  # refusals must not leak either
                refused(root.add_charge, 1.0, None, "x"); refused(oe.NarrativeSequencer, None)
                refused(oe.Environment, b"\\xff"); refused(root.add_sub_environment, root)
            seq.is_finished = False
            seq.next_frame()
            if frame == {frames} // 5:
                warm = int(open("/proc/self/statm").read().split()[1])
        print(json.dumps([warm, int(open("/proc/self/statm").read().split()[1]) * 1.0]))
    """, ":quarantine_size_mb=0")
    growth = found[1] / found[0] - 1
    print(f"resident memory over {frames} frames: {found[0]} -> {found[1]:.0f} pages ({growth:+.2%})")
    assert growth < 0.05


@pytest.mark.parametrize("stack", [256 << 10, 1 << 20, 4 << 20])
def test_text_as_deep_as_the_guard_allows_is_written_on_a_small_thread_stack(stack):
    found = run_world(f"""
        def write():
            limit = int(re.search(r"at most (\\d+) levels", refusal(chain(6_000)[0].to_json)).group(1))
            root, _, deepest = chain((limit - 1) // 2)  # with a charge below it, the deepest text allowed here
            deepest.add_charge(1.0, oe.POSITIVE, "c")
            print(json.dumps([limit, refusal(root.to_json), refusal(oe.NarrativeSequencer(root).next_frame)]))
        threading.stack_size({stack})
        thread = threading.Thread(target=write)
        thread.start()
        thread.join()
    """)
    assert found[0] > 0 and min(found[1:]) > found[0] * 10


def test_doubly_shared_chain_is_refused_before_it_is_built():
    # Each zone sits twice under the one above: 2**29 places from 30 zones. The address-space cap
    # turns a refusal that came too late into a failure instead of a swapping machine.
    found = run_world(f"""
        import resource
        if not {SANITIZED}:  # the sanitizers' shadow memory does not fit under the cap
            resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
        root = zone = oe.Environment("d0")
        for i in range(1, 30):
            sub = oe.Environment(f"d{{i}}")
            zone.add_sub_environment(sub); zone.add_sub_environment(sub)
            zone = sub
        zone.add_plus_magician("p")
        sequencer = oe.NarrativeSequencer(root)
        print(json.dumps([refusal(root.to_json), refusal(sequencer.next_frame), sequencer.current_frame]))
    """)
    assert found[:2] == [found[0]] * 2 and "more than 10000000 zones, charges and agents" in found[0]
    assert found[2] == 0  # the refused frame changed nothing
