#!/usr/bin/env bash
# Builds the web engine with emscripten: the same engine sources and src/web compiled to
# WebAssembly, in one JavaScript file, build/web/src/web/orv_web.js (`orv studio` inlines it), and
# the npm package made from it, build/web/src/web/npm/orv-engine-VERSION.tgz (incremental).
# Sets up what it needs first (scripts/setup.sh) when a tool is missing: the pinned cmake and ninja
# of .venv, emscripten, node and npm.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
TOOLS=(emcmake emcc node npm)
missing() {
  [ -x "$VENV/bin/cmake" ] && [ -x "$VENV/bin/ninja" ] || { echo "cmake and ninja in .venv"; return; }
  for tool in "${TOOLS[@]}"; do command -v "$tool" >/dev/null || { echo "$tool"; return; }; done
}
if [ -n "$(missing)" ]; then
  source "$ROOT/scripts/setup.sh"
  lacking="$(missing)"
  [ -z "$lacking" ] || { echo "web: $lacking still missing after scripts/setup.sh: install Debian's emscripten, node-acorn and npm" >&2; exit 1; }
fi
cd "$ROOT"
export PATH="$VENV/bin:$PATH"  # the pinned cmake and ninja

# Configured every time (a second or two), so that a build folder made with other tools is brought in line.
if ! said="$(emcmake cmake -S . -B build/web -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
       -DORV_BUILD_WEB=ON -DORV_BUILD_MODULE=OFF -DPython_EXECUTABLE="$VENV/bin/python" 2>&1)"; then
  echo "$said" >&2
  exit 1
fi
cmake --build build/web -j 2
echo "web: $ROOT/build/web/src/web/orv_web.js ($(stat -c %s build/web/src/web/orv_web.js) bytes)"
echo "web: $(ls "$ROOT"/build/web/src/web/npm/orv-engine-*.tgz) ($(stat -c %s "$ROOT"/build/web/src/web/npm/orv-engine-*.tgz) bytes)"
