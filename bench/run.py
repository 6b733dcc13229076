"""The engine's benchmarks: prints figures for the generated worlds (see worlds.py).

For each world, in a process of its own (so that its peak resident memory is its own):
time per next_frame and report bytes per second, to_json of the root, a whole run to the end,
and on the same report json.dumps and orjson.dumps of the parsed document. Then the frame time
of the wide world at twice its size, the frame phases measured by the C++ frame_phases program
when it is given (--phases), and the judge's cost per frame from judge_frame, built next to it. Every figure is the median of several repetitions
(time.perf_counter). The last lines hold the ratios that the engine is tuned for.

    python bench/run.py [--engine DIR] [--phases PROGRAM] [--quick]

--engine DIR loads orv_engine from DIR (a build tree's src/bindings) instead of the installed module.
"""

import argparse
import glob
import importlib.metadata
import importlib.util
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
MAX_FRAMES = 1000  # the sequencer's frame limit

# Repetitions per figure: frames timed (each with one json.dumps and one orjson.dumps), to_json
# calls, whole runs, and frame pairs of the scaling test.
FULL = {"frames": 15, "to_json": 7, "runs": 3, "scaling_pairs": 21}
QUICK = {"frames": 5, "to_json": 3, "runs": 1, "scaling_pairs": 5}


def load_engine(directory):
    """Imports orv_engine, from `directory` when given (an editable install's import hook would
    otherwise win over PYTHONPATH)."""
    if directory:
        found = glob.glob(os.path.join(directory, "orv_engine*.so"))
        if not found:
            sys.exit(f"no orv_engine module in {directory}")
        module_spec = importlib.util.spec_from_file_location("orv_engine", found[0])
        module = importlib.util.module_from_spec(module_spec)
        sys.modules["orv_engine"] = module
        module_spec.loader.exec_module(module)
    import orv_engine

    sys.path.insert(0, HERE)
    return orv_engine


def median_time(call, repetitions):
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def peak_rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def current_rss_mib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def measure_world(name, reps):
    """Figures of one world, as a dict (run in a process of its own)."""
    import orv_engine
    import worlds

    result = {"world": name}
    rss_before = current_rss_mib()
    start = time.perf_counter()
    root = worlds.build(name)
    result["build_s"] = time.perf_counter() - start
    sequencer = orv_engine.NarrativeSequencer(root)
    text = sequencer.next_frame()  # warm-up: first allocations, caches
    result["rss_world_mib"] = current_rss_mib() - rss_before
    result["rss_before_mib"] = rss_before
    result["to_json_s"] = median_time(root.to_json, reps["to_json"])
    result["to_json_bytes"] = len(root.to_json().encode())

    runs = []
    for _ in range(reps["runs"]):
        run_root = worlds.build(name)
        run = orv_engine.NarrativeSequencer(run_root)
        frames = 0
        start = time.perf_counter()
        while not run.is_finished:
            run.next_frame()
            frames += 1
        runs.append(time.perf_counter() - start)
        result["run_frames"] = frames
        result["run_end"] = "ERROR" if run.current_frame >= MAX_FRAMES else "FINISHED"
        del run_root, run
    result["run_s"] = statistics.median(runs)
    # Before the report is parsed into Python objects below, which would count too.
    result["peak_rss_mib"] = peak_rss_mib()

    # Frames of the first world, each followed by Python's serialisers on a parsed report of it
    # (dumped compactly), so that a change of load on the machine weighs on all three alike.
    raw = text.encode()
    try:
        document = json.loads(text)
    except RecursionError as error:
        document = None
        result["json_error"] = result["orjson_error"] = f"cannot even parse it ({error.__class__.__name__})"
    dumpers = {}
    if document is not None:
        dumpers["json"] = lambda: json.dumps(document, separators=(",", ":"), ensure_ascii=False).encode()
        try:
            import orjson

            dumpers["orjson"] = lambda: orjson.dumps(document)
        except ImportError:
            result["orjson_error"] = "orjson is not installed (pip install -r bench/requirements.txt)"
        for tool, dump in list(dumpers.items()):
            try:
                written = dump()
            except (RecursionError, ValueError, TypeError) as error:  # orjson.JSONEncodeError is a TypeError
                result[f"{tool}_error"] = f"{error.__class__.__name__}: {error}"
                del dumpers[tool]
                continue
            result[f"{tool}_same"] = written == raw
            result[f"{tool}_out_bytes"] = len(written)
    times = {"frame": [], "json": [], "orjson": []}
    rates = []
    for _ in range(reps["frames"]):
        start = time.perf_counter()
        text = sequencer.next_frame()
        elapsed = time.perf_counter() - start
        size = len(text.encode())
        times["frame"].append(elapsed)
        rates.append(size / elapsed)
        for tool, dump in dumpers.items():
            times[tool].append(median_time(dump, 1))
    result["frame_s"] = statistics.median(times["frame"])
    result["frame_bytes_per_s"] = statistics.median(rates)
    result["report_bytes"] = size
    for tool in dumpers:
        result[f"{tool}_s"] = statistics.median(times[tool])
        result[f"{tool}_bytes_per_s"] = result[f"{tool}_out_bytes"] / result[f"{tool}_s"]
    return result


def measure_scaling(reps):
    """Frame time of the wide world at 1x and 2x, frames taken in turns so that load on the
    machine weighs on both alike; the ratio is the median of the ratios within each pair."""
    import orv_engine
    import worlds

    pair = [orv_engine.NarrativeSequencer(worlds.build("wide", scale)) for scale in (1.0, 2.0)]
    for sequencer in pair:
        sequencer.next_frame()
        sequencer.next_frame()
    times = ([], [])
    for _ in range(reps["scaling_pairs"]):
        for sequencer, bucket in zip(pair, times):
            start = time.perf_counter()
            sequencer.next_frame()
            bucket.append(time.perf_counter() - start)
    return {"wide_1x_s": statistics.median(times[0]), "wide_2x_s": statistics.median(times[1]),
            "ratio": statistics.median(two / one for one, two in zip(*times))}


def child(task, engine, quick):
    """Runs `task` (a world name or "scaling") in a new interpreter; returns its dict."""
    command = [sys.executable, os.path.abspath(__file__), "--task", task]
    if engine:
        command += ["--engine", engine]
    if quick:
        command.append("--quick")
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        sys.exit(f"benchmark task {task} failed:\n{done.stderr}")
    return json.loads(done.stdout.strip().splitlines()[-1])


def compiler_of(path):
    try:
        out = subprocess.run(["readelf", "-p", ".comment", path], capture_output=True, text=True).stdout
    except OSError:
        return "unknown"
    lines = [line.split("]", 1)[1].strip() for line in out.splitlines() if "]" in line and ("GCC" in line or "clang" in line)]
    return lines[0] if lines else "unknown"


def version(package):
    try:
        return importlib.metadata.version(package)
    except importlib.metadata.PackageNotFoundError:
        return "not installed"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def print_machine(engine_module):
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    print(f"machine   {cpu_model()}; {os.cpu_count()} cores ({usable} usable); {platform.system()} {platform.release()}")
    print(f"python    {platform.python_version()} ({sys.executable})")
    print(f"module    {engine_module.__file__}")
    print(f"compiler  {compiler_of(engine_module.__file__)} (of the module)")
    print(f"versions  pybind11 {version('pybind11')}, nlohmann-json {version('nlohmann-json')}, "
          f"orjson {version('orjson')}")


def mb(rate):
    return f"{rate / 1e6:7.1f} MB/s"


def ms(seconds):
    return f"{seconds * 1e3:8.2f} ms"


def print_world(r):
    name = r["world"]
    print(f"\n[{name}] report {r['report_bytes'] / 1e6:.2f} MB; world built in {r['build_s']:.2f} s")
    print(f"  next_frame          {ms(r['frame_s'])}  {mb(r['frame_bytes_per_s'])}")
    print(f"  to_json (root)      {ms(r['to_json_s'])}  {mb(r['to_json_bytes'] / r['to_json_s'])}")
    print(f"  whole run           {r['run_s']:8.2f} s   {r['run_frames']} frames to {r['run_end']}, "
          f"{r['run_s'] / r['run_frames'] * 1e3:.2f} ms/frame")
    print(f"  memory              peak RSS {r['peak_rss_mib']:.1f} MiB (whole process, runs included); "
          f"{r['rss_before_mib']:.1f} MiB before the world, +{r['rss_world_mib']:.1f} MiB with it and a frame")
    for tool, label in (("json", "json.dumps"), ("orjson", "orjson.dumps")):
        if f"{tool}_s" in r:
            same = "same bytes" if r[f"{tool}_same"] else "different bytes"
            ratio = r["frame_bytes_per_s"] / r[f"{tool}_bytes_per_s"]
            print(f"  {label:<18}  {ms(r[f'{tool}_s'])}  {mb(r[f'{tool}_bytes_per_s'])}  ({same}); "
                  f"next_frame/{label} = {ratio:.2f}")
        else:
            print(f"  {label:<18}  n/a: {r[f'{tool}_error']}")


def run_phases(program, quick):
    """Runs the C++ frame-phase benchmark; returns the non-JSON share of the wide frame (percent)."""
    if not program:
        return None
    frames = "5" if quick else "15"
    out = subprocess.run([program, "all", frames], capture_output=True, text=True, check=True).stdout
    print("\n[frame phases, C++ frame_phases]")
    share = None
    for line in out.splitlines():
        print("  " + line)
        if line.startswith("wide:"):
            share = float(line.rsplit("=", 1)[1].split("%")[0])
    return share


def run_judge(phases_program):
    """Runs the C++ judge benchmark, built next to frame_phases: the judge's cost per frame."""
    program = Path(phases_program).with_name("judge_frame") if phases_program else None
    if program is None or not program.exists():
        return
    out = subprocess.run([str(program)], capture_output=True, text=True, check=True).stdout
    print("\n[judge per frame, C++ judge_frame: CPU time]")
    for line in out.splitlines():
        print("  " + line)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", help="directory holding the orv_engine module to measure")
    parser.add_argument("--phases", help="path of the C++ frame_phases program")
    parser.add_argument("--quick", action="store_true", help="fewer repetitions, for a smoke run")
    parser.add_argument("--task", help=argparse.SUPPRESS)
    args = parser.parse_args()
    sys.setrecursionlimit(100000)
    engine = load_engine(args.engine)
    reps = QUICK if args.quick else FULL

    if args.task:
        result = measure_scaling(reps) if args.task == "scaling" else measure_world(args.task, reps)
        print(json.dumps(result))
        return

    started = time.perf_counter()
    print_machine(engine)
    results = {}
    for name in ("wide", "deep", "crowd"):
        results[name] = child(name, args.engine, args.quick)
        print_world(results[name])
    scaling = child("scaling", args.engine, args.quick)
    growth = scaling["ratio"]
    print(f"\n[scaling] wide 1x {ms(scaling['wide_1x_s'])}, 2x {ms(scaling['wide_2x_s'])} per frame "
          f"(medians, frames in turns): 2x/1x = {growth:.2f} (median of the pairs' ratios)")
    share = run_phases(args.phases, args.quick)
    run_judge(args.phases)

    wide = results["wide"]
    print("\n[targets, wide world]")
    if "orjson_bytes_per_s" in wide:
        ratio = wide["frame_bytes_per_s"] / wide["orjson_bytes_per_s"]
        print(f"  next_frame / orjson.dumps bytes/s  {ratio:5.2f}  (want >= 0.5)   {'met' if ratio >= 0.5 else 'NOT met'}")
    ratio = wide["frame_bytes_per_s"] / wide["json_bytes_per_s"]
    print(f"  next_frame / json.dumps bytes/s    {ratio:5.2f}  (want >= 4)     {'met' if ratio >= 4 else 'NOT met'}")
    print(f"  frame time 2x / 1x world           {growth:5.2f}  (want 1.6-2.4)  {'met' if 1.6 <= growth <= 2.4 else 'NOT met'}")
    if share is not None:
        print(f"  non-JSON share of a frame          {share:5.2f}% (want < 5%)    {'met' if share < 5 else 'NOT met'}")
    print(f"\nbench took {time.perf_counter() - started:.0f} s")


if __name__ == "__main__":
    main()
