#!/usr/bin/env bash
# Benchmarks of the engine: sets up what is missing (scripts/setup.sh), installs the benchmark-only
# requirements (bench/requirements.txt) into .venv, builds the C++ benchmark programs, then prints
# the figures of bench/run.py for the installed orv_engine module. Arguments go to bench/run.py
# (--quick for fewer repetitions); --build-only stops after the build (for bench/solver.py).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
cd "$ROOT"

stamp="$VENV/.bench-requirements.sha256"
want="$(sha256sum bench/requirements.txt | cut -d' ' -f1)"
if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
  echo "[bench] installing bench/requirements.txt" >&2
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check -r bench/requirements.txt
  echo "$want" > "$stamp"
fi

echo "[bench] building the C++ benchmark programs (build/bench-phases)" >&2
cmake -S bench -B build/bench-phases -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
cmake --build build/bench-phases -j 2 >/dev/null

[ "${1:-}" = --build-only ] && exit 0
exec "$VENV/bin/python" bench/run.py --phases build/bench-phases/frame_phases "$@"
