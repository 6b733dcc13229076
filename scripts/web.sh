#!/usr/bin/env bash
# Builds the web engine with emscripten: the same engine sources and src/web compiled to
# WebAssembly, in one JavaScript file, build/web/src/web/orv_web.js (incremental; `orv studio`
# inlines it). Expects .venv (scripts/setup.sh makes it, and installs emscripten and node-acorn).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
cd "$ROOT"
export PATH="$VENV/bin:$PATH"  # the pinned cmake and ninja

for tool in emcmake emcc node; do
  command -v "$tool" >/dev/null || { echo "web: $tool not found: install Debian's emscripten (scripts/setup.sh does)" >&2; exit 1; }
done
# emscripten's JavaScript optimiser loads acorn, which Debian installs as a node module of its own.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"

if [ ! -f build/web/build.ninja ]; then
  emcmake cmake -S . -B build/web -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
    -DORV_BUILD_WEB=ON -DORV_BUILD_MODULE=OFF -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
fi
cmake --build build/web -j "$(nproc)"
echo "web: $ROOT/build/web/src/web/orv_web.js ($(stat -c %s build/web/src/web/orv_web.js) bytes)"
