"""Running out of memory: under an address-space cap every operation raises MemoryError or succeeds,
and the world stays whole, usable and droppable. Each sweep runs in a child interpreter and steps the
cap's headroom over the whole range in which the operation runs out part way."""
import subprocess
import sys
import textwrap

import pytest

from child import SANITIZED, run_child

pytestmark = pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve terabytes of shadow memory, so an "
                                                   "address-space cap (RLIMIT_AS) cannot be set under them")

PRELUDE = """
import json, resource, orv_engine as oe
INF = resource.RLIM_INFINITY

def mapped():
    return int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()

def capped(headroom_kib, call):
    '''call() with the address space capped at what is mapped now plus the headroom'''
    resource.setrlimit(resource.RLIMIT_AS, (mapped() + (headroom_kib << 10), INF))
    try:
        call()
        return "ok"
    except MemoryError:
        return "MemoryError"
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (INF, INF))

def world(zones, root_id="root"):
    '''one-charge sub-zones under a root with two gates; every tenth sub-zone also holds a gate'''
    root = oe.Environment(root_id)
    root.add_equals_gate("never", -1.0)
    root.add_inequality_gate("judge", -1e9, "<")
    for i in range(zones):
        sub = oe.Environment(f"s{i}")
        sub.add_charge(1.0, oe.POSITIVE, "c")
        if i % 10 == 0:
            sub.add_equals_gate("shut", -1.0)
        root.add_sub_environment(sub)
    return root

def shape(root):
    document = json.loads(root.to_json())
    return [len(document["sub_environments"]), len(document["charges"]), len(document["agents"])]
"""
SWEEP = range(0, 24 << 10, 512)  # headroom in KiB: none at all up to beyond what the operation needs


def outcomes_cross_over(outcomes):
    """Runs out at first, then succeeds once the headroom suffices."""
    return outcomes[0] == "MemoryError" and outcomes[-1] == "ok" and set(outcomes) == {"ok", "MemoryError"}


def test_to_json_under_every_cap():
    found = run_child(prelude=PRELUDE, script=f"""
        root = world(20_000)
        whole = root.to_json()
        outcomes = [capped(headroom, root.to_json) for headroom in {list(SWEEP)}]
        print(json.dumps([outcomes, root.to_json() == whole]))
    """)
    assert outcomes_cross_over(found[0]) and found[1]


def test_next_frame_under_every_cap_leaves_the_world_consistent():
    found = run_child(prelude=PRELUDE, script=f"""
        root = world(20_000)
        sequencer = oe.NarrativeSequencer(root)
        outcomes, applied = [], 0
        for headroom in {list(SWEEP)}:
            before = sequencer.current_frame
            outcomes.append(capped(headroom, sequencer.next_frame))
            applied += sequencer.current_frame - before
            if outcomes[-1] == "MemoryError" and sequencer.current_frame > before:
                outcomes[-1] = "MemoryError, frame applied"
        report = json.loads(sequencer.next_frame())
        print(json.dumps([outcomes, applied, shape(root), report["meta"]["frame_index"], len(report["charges"])]))
    """)
    outcomes, applied, (subs, charges, agents), frame_index, reported = found
    assert outcomes_cross_over([o.split(",")[0] for o in outcomes])
    assert "MemoryError, frame applied" in outcomes  # ran out while writing the report of a finished frame
    # Each applied frame folded one sub-zone into the root, whether or not its report was written.
    assert charges == applied + 1 and subs == 20_000 - applied - 1 and agents == 2
    assert frame_index == applied + 1 and reported == charges


def test_building_until_memory_runs_out_then_dropping_under_the_cap():
    found = run_child(prelude=PRELUDE, script="""
        built = []
        def build():
            root = oe.Environment("root")
            middle = oe.Environment("middle")
            root.add_sub_environment(middle)
            try:
                while True:  # wide below one zone, with a chain beside it
                    sub = oe.Environment("s")
                    sub.add_charge(1.0, oe.POSITIVE, "c")
                    middle.add_sub_environment(sub)
                    link = oe.Environment("link")
                    sub.add_sub_environment(link)
                    built.append(1)
            finally:
                del root, middle  # dropped while memory is still exhausted
        outcomes = [capped(headroom, build) for headroom in range(512, 16 << 10, 1536)]
        print(json.dumps([outcomes, len(built), shape(world(10))]))
    """)
    assert set(found[0]) == {"MemoryError"} and found[1] > 10_000 and found[2] == [10, 0, 2]


@pytest.mark.parametrize("kind", ["wide", "deep", "two levels"])
def test_dropping_a_large_world_with_no_headroom(kind):
    found = run_child(prelude=PRELUDE, script=f"""
        root = zone = oe.Environment("root")
        for i in range(200_000):
            sub = oe.Environment("s")
            sub.add_charge(1.0, oe.POSITIVE, "c")
            if "{kind}" == "wide" or ("{kind}" == "two levels" and i % 500 == 0):
                root.add_sub_environment(sub)
                zone = sub
            else:
                zone.add_sub_environment(sub)
                if "{kind}" == "deep":
                    zone = sub
        del sub, zone
        def drop():
            global root
            del root
        print(json.dumps([capped(0, drop), shape(world(3))]))
    """)
    assert found == ["ok", [3, 0, 2]]


THREAD = """
import ctypes, json, resource, threading
INF = resource.RLIM_INFINITY
libc = ctypes.CDLL(None)
libc.malloc.restype = ctypes.c_void_p

def exhaust():
    '''caps the address space near what is mapped and uses up the C library's heap'''
    mapped = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (mapped + (1 << 20), INF))
    size = 1 << 20
    while size >= 16:
        while libc.malloc(size):
            pass
        size //= 2

def on_a_new_thread(work):
    found = []
    thread = threading.Thread(target=lambda: found.append(work()))
    thread.start()
    thread.join()
    resource.setrlimit(resource.RLIMIT_AS, (INF, INF))
    print(json.dumps(found))
"""


def test_a_thread_that_used_the_module_survives_its_first_failure_with_memory_exhausted():
    found = run_child(prelude=THREAD, script="""
        import orv_engine as oe
        zone = oe.Environment("z")
        def work():
            zone.is_time_frozen  # the thread's first call into the module, while memory is to be had
            exhaust()
            try:
                oe.Environment(b"\\xff")
            except (ValueError, MemoryError) as error:  # MemoryError, or the invalid UTF-8 refused
                return type(error).__name__
        on_a_new_thread(work)
    """)
    assert found in (["MemoryError"], ["ValueError"])


def test_the_c_library_ends_a_thread_whose_first_use_of_the_cxx_runtime_finds_no_memory():
    """The abort that remains comes from below the module: the C library sets up the C++ runtime's
    thread-local state on a thread's first use and ends the process when it cannot. The module does
    that on every call (so a thread's first exception finds it ready), but a thread whose very first
    call comes with memory already exhausted meets it, as this child without the module does."""
    child = subprocess.run([sys.executable, "-c", THREAD + textwrap.dedent("""
        runtime = ctypes.CDLL("libstdc++.so.6")  # the C++ runtime alone, without orv_engine
        def work():
            exhaust()
            return runtime._ZSt19uncaught_exceptionsv()  # its first use on this thread
        on_a_new_thread(work)
    """)], capture_output=True, text=True, timeout=120)
    assert (child.returncode, child.stderr.strip()) == (127, "cannot allocate memory for thread-local data: ABORT")
