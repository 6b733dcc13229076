"""Runs a script in a child interpreter, so that a crash shows as a failed test and not as the end of
the run. The script prints its findings as JSON on its last line of output."""
import json
import os
import subprocess
import sys
import textwrap

SANITIZED = bool(os.environ.get("ORV_SANITIZED"))


def run_child(script, prelude="", timeout=600):
    """Runs `prelude` (unindented) and then `script` (indented as the caller likes)."""
    env = dict(os.environ)
    if SANITIZED:  # the child's sanitizer reports go to its stderr, which a failure shows
        env["ASAN_OPTIONS"] = f"{env.get('ASAN_OPTIONS', '')}:log_path=stderr"
        env["UBSAN_OPTIONS"] = f"{env.get('UBSAN_OPTIONS', '')}:log_path=stderr"
    child = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(script)], capture_output=True, text=True, env=env,
                           timeout=timeout)
    assert child.returncode == 0, f"exit status {child.returncode}\n{child.stdout[-4000:]}\n{child.stderr[-8000:]}"
    return json.loads(child.stdout.strip().splitlines()[-1])
