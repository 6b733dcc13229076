#!/usr/bin/env bash
# Builds the orv wheel and repairs it with auditwheel into a portable (manylinux) wheel:
# build/dist/orv-VERSION-cp312-cp312-manylinux_*.whl, or into the folder given as the argument.
# The wheel carries the web engine when emscripten is installed (see src/web/package.cmake).
# Builds with the pinned tools of .venv (sets them up first when missing), offline.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
if [ ! -x "$VENV/bin/auditwheel" ] || ! command -v patchelf >/dev/null; then
  source "$ROOT/scripts/setup.sh"
fi
OUT="$(mkdir -p "${1:-$ROOT/build/dist}" && cd "${1:-$ROOT/build/dist}" && pwd)"
RAW="$ROOT/build/wheel-raw"
rm -rf "$RAW" && mkdir -p "$RAW"
rm -f "$OUT"/orv-*.whl

# The build requirements are pyproject.toml's, pinned alike in requirements.txt and installed in .venv;
# with them, the web engine's build is scripts/web.sh's own (build/web, incremental).
"$VENV/bin/python" -m pip wheel -q --no-deps --no-build-isolation -w "$RAW" \
  -C "cmake.define.ORV_WEB_BUILD=$ROOT/build/web" "$ROOT"
"$VENV/bin/auditwheel" repair -w "$OUT" "$RAW"/orv-*.whl
wheel="$(ls "$OUT"/orv-*.whl)"
echo "wheel: $wheel ($(stat -c %s "$wheel") bytes)"
