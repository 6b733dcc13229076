#!/usr/bin/env bash
# Builds the web engine with emscripten: the same engine sources and src/web compiled to
# WebAssembly, in one JavaScript file, build/web/src/web/orv_web.js (`orv studio` inlines it), and
# the npm package made from it, build/web/src/web/npm/orv-engine-VERSION.tgz (incremental).
# Sets up what it needs first (scripts/setup.sh) when .venv lacks the pinned cmake and ninja.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
if [ ! -x "$VENV/bin/cmake" ] || [ ! -x "$VENV/bin/ninja" ]; then
  source "$ROOT/scripts/setup.sh"
fi
cd "$ROOT"
export PATH="$VENV/bin:$PATH"  # the pinned cmake and ninja

for tool in emcmake emcc node npm; do
  command -v "$tool" >/dev/null || { echo "web: $tool is not installed: run \`bash scripts/setup.sh\` (as root), which installs emscripten, node-acorn and npm" >&2; exit 1; }
done

# Configured every time (a second or two), so that a build folder made with other tools is brought in line.
emcmake cmake -S . -B build/web -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" -DCMAKE_BUILD_TYPE=Release \
  -DORV_BUILD_WEB=ON -DORV_BUILD_MODULE=OFF -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
cmake --build build/web -j 2
echo "web: $ROOT/build/web/src/web/orv_web.js ($(stat -c %s build/web/src/web/orv_web.js) bytes)"
echo "web: $(ls "$ROOT"/build/web/src/web/npm/orv-engine-*.tgz) ($(stat -c %s "$ROOT"/build/web/src/web/npm/orv-engine-*.tgz) bytes)"
