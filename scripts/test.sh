#!/usr/bin/env bash
# Builds everything that is missing, then runs every test: the engine's C++ tests (ctest)
# and the Python suite (pytest) against the installed module and the web engine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Each stage says when it starts, counted from the start of the command, so a log shows where the time went.
stage() { printf '== %s (at %d s)\n' "$1" "$SECONDS"; }
trap 'printf "== done (at %d s)\n" "$SECONDS"' EXIT
source "$ROOT/scripts/setup.sh"
cd "$ROOT"

stage "engine tests (C++)"
cmake -S . -B build/engine -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DORV_BUILD_TESTS=ON -DORV_BUILD_MODULE=OFF \
  -DORV_BUILD_EXAMPLES=ON -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
cmake --build build/engine -j "$(nproc)"
ctest --test-dir build/engine --output-on-failure -j "$(nproc)"

# The web engine (build/web, incremental), which the studio's tests run under node and in Chromium.
stage "web engine (emscripten)"
bash "$ROOT/scripts/web.sh"

stage "module and toolkit tests (Python)"
"$VENV/bin/python" -m pytest -q "$@"

# The same suites again against a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (build/asan); ORV_SANITIZE=0 skips this stage.
if [ "${ORV_SANITIZE:-1}" != 0 ]; then
  stage "sanitized engine, module and toolkit tests (ASan, UBSan)"
  bash "$ROOT/scripts/sanitize.sh" "$@"
fi
