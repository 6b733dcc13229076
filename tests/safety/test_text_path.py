"""The module's text path: report, zone and charge text on small thread stacks, Ctrl-C while a huge
report is written, and the hand-over of ASCII and non-ASCII text. The attacks run in child
interpreters, so a crash fails the test instead of ending the run."""
import json
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import orv_engine as oe

SANITIZED = bool(os.environ.get("ORV_SANITIZED"))


def child_env():
    env = dict(os.environ)
    if SANITIZED:  # the child's sanitizer reports go to its stderr, which a failure shows
        env["ASAN_OPTIONS"] = f"{env.get('ASAN_OPTIONS', '')}:log_path=stderr"
        env["UBSAN_OPTIONS"] = f"{env.get('UBSAN_OPTIONS', '')}:log_path=stderr"
    return env


def run_child(script):
    child = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                           env=child_env(), timeout=600)
    assert child.returncode == 0, f"exit status {child.returncode}\n{child.stdout}\n{child.stderr[-8000:]}"
    return json.loads(child.stdout.strip().splitlines()[-1])


def test_small_thread_stacks_write_shallow_and_deep_texts():
    found = run_child("""
        import json, threading, orv_engine as oe

        def world(zones):
            root = zone = oe.Environment("z0")
            for i in range(1, zones):
                sub = oe.Environment(f"z{i}")
                zone.add_sub_environment(sub)
                zone = sub
            zone.add_charge(2.0, oe.POSITIVE, "a"); zone.add_charge(3.0, oe.NEGATIVE, "b"); zone.add_plus_magician("p")
            return root

        def texts():
            shallow, deep = world(2), world(4_000)  # the deep chain nests 8,001 JSON levels
            seq = oe.NarrativeSequencer(deep)
            return [oe.Charge(1, oe.POSITIVE, "a").to_json(), shallow.to_json(), deep.to_json(),
                    seq.next_frame(), seq.next_frame()]

        expected = texts()
        got = {}
        threading.stack_size(128 << 10)
        worker = threading.Thread(target=lambda: got.update(texts=texts()))
        worker.start(); worker.join()
        print(json.dumps([got.get("texts") == expected, len(expected[2]), expected[0]]))
    """)
    assert found == [True, found[1], '{"magnitude":1.0,"polarity":"positive","visual_id":"a"}']
    assert found[1] > 4_000 * 60


def test_ctrl_c_while_writing_a_huge_report_raises_keyboard_interrupt_with_the_frame_applied():
    # The child steps a world of a million charges until SIGINT arrives. An interrupt raised by the
    # call to next_frame comes with its frame applied and its report lost. The release of each huge
    # report happens in the loop, outside the call, and takes a sizeable share of the time (about a
    # tenth under the sanitizers): an interrupt that lands there is raised by the loop, with no frame
    # half done. The run is repeated until one lands in the call.
    for _ in range(8):
        returned, frame, usable, in_call = interrupted_run()
        assert returned < 200, "the run ended before the signal came"
        assert frame == returned + in_call, f"interrupted {'in' if in_call else 'outside'} next_frame: frame {frame}, {returned} reports returned"
        assert usable
        if in_call:
            break
    assert in_call, "no interrupt in eight runs landed in next_frame"


def interrupted_run():
    script = textwrap.dedent("""
        import dis, json, signal, sys, orv_engine as oe
        # A shell that starts the tests in the background hands its children SIGINT ignored, and the
        # interpreter then leaves it so: the child asks for KeyboardInterrupt itself.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        root = oe.Environment("huge")
        root.charges = [oe.Charge(0.5, oe.NEGATIVE, "charge")] * 1_000_000
        for i in range(200):
            root.add_abs_magician(f"abs{i}")  # each casts once, so every frame changes the world
        seq = oe.NarrativeSequencer(root)
        returned = 0
        print("ready", flush=True)
        try:
            while True:
                text = seq.next_frame()  # the loop's only call
                returned += 1
                del text
        except KeyboardInterrupt as interrupt:
            where = interrupt.__traceback__
            while where.tb_next:
                where = where.tb_next
            raised_by = next(i.opname for i in dis.get_instructions(where.tb_frame.f_code) if i.offset == where.tb_lasti)
            print(json.dumps([returned, seq.current_frame, len(root.to_json()) > 0, raised_by == "CALL"]))
    """)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=child_env())
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(1.0)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=300)
    finally:
        child.kill()
    assert child.returncode == 0, f"exit status {child.returncode}\n{out}\n{err[-8000:]}"
    return json.loads(out.strip().splitlines()[-1])


def test_signal_handlers_run_while_a_huge_report_is_written_and_may_change_the_world():
    # A repeating timer's handler runs at the writer's polls, many times in one call; it grows the
    # list being written, adds sub-zones, then shrinks the list: the text stays well-formed JSON.
    found = run_child("""
        import json, signal, orv_engine as oe
        root = oe.Environment("huge")
        root.charges = [oe.Charge(0.5, oe.NEGATIVE, "charge")] * 1_000_000
        sub = oe.Environment("sub")
        root.add_sub_environment(sub)
        root.add_abs_magician("abs")
        seq = oe.NarrativeSequencer(root)
        ran = []
        def handler(*_):
            ran.append(len(ran))
            root.add_charge(1.0, oe.POSITIVE, "late")  # the list being written grows and moves
            sub.add_sub_environment(oe.Environment(f"s{len(ran)}"))
            if len(ran) == 3:
                root.charges = [oe.Charge(2.0, oe.POSITIVE, "kept")]
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
        text = seq.next_frame()
        during = len(ran)
        signal.setitimer(signal.ITIMER_REAL, 0)
        report = json.loads(text)
        print(json.dumps([during, seq.current_frame, report["meta"]["frame_index"]]))
    """)
    during, frame, index = found
    assert during >= 3, "signal handlers did not run while the report was written"
    assert frame == index == 1


@pytest.mark.parametrize("name", ["plain", "tab\there", "quote\"back\\", "del\x7f", "caf\u00e9", "\u20ac", "\U0001f600",
                                  "\u2028", "nul\x00"])
def test_texts_hand_over_ascii_and_non_ascii_names_exactly(name):
    root = oe.Environment(name)
    root.add_charge(1.5, oe.POSITIVE, name)
    root.add_equals_gate(name, -0.0)
    expected_charge = {"magnitude": 1.5, "polarity": "positive", "visual_id": name}
    expected_gate = {"is_open": False, "name": "Equals Gate", "priority": 0, "state": "dormant",
                     "target_value": -0.0, "visual_id": name}
    expected = {"agents": [expected_gate], "charges": [expected_charge], "id": name, "is_time_frozen": False,
                "sub_environments": []}

    def dumped(value):
        return json.dumps(value, separators=(",", ":"), ensure_ascii=False, sort_keys=True)

    assert root.charges[0].to_json() == dumped(expected_charge)
    assert root.to_json() == dumped(expected)
    report = oe.NarrativeSequencer(root).next_frame()
    assert json.loads(report)["id"] == name and report.isascii() == name.isascii()
