#!/usr/bin/env bash
# Sets up what is missing on this machine, then builds: Debian packages, the CPython 3.12
# virtual environment in .venv with the pinned requirements, and the orv package with its module.
# Sourced by the other scripts; safe to run again (each step is skipped when already done).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"

say() { printf '[setup] %s\n' "$*" >&2; }

# Debian packages the build and the tests need: GoogleTest, headless Chromium and its driver,
# emscripten with the acorn parser its JavaScript optimiser loads (the web build of the engine),
# patchelf (auditwheel repairs the wheel with it) and npm (the web engine's npm package), unless
# node came with an npm of its own.
APT_PACKAGES=(libgtest-dev chromium chromium-driver emscripten node-acorn patchelf)
missing=()
for pkg in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  say "installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

find_python312() {
  local candidate
  for candidate in python3.12 "$(command -v pyenv >/dev/null 2>&1 && pyenv root)"/versions/3.12*/bin/python3.12 \
                   /root/.pyenv/versions/3.12*/bin/python3.12 /usr/bin/python3.12 /usr/local/bin/python3.12; do
    if "$candidate" -c 'import sys; assert sys.version_info[:2] == (3, 12)' >/dev/null 2>&1; then
      command -v "$candidate" 2>/dev/null || echo "$candidate"
      return 0
    fi
  done
  return 1
}

if [ ! -x "$VENV/bin/python" ]; then
  PY312="$(find_python312)" || { say "CPython 3.12 (python3.12) is needed and was not found"; exit 1; }
  say "creating $VENV with $PY312"
  "$PY312" -m venv "$VENV"
fi

# Requirements: reinstalled only when requirements.txt changes.
stamp="$VENV/.requirements.sha256"
want="$(sha256sum "$ROOT/requirements.txt" | cut -d' ' -f1)"
if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
  say "installing pinned requirements"
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements.txt"
  echo "$want" > "$stamp"
fi

# The package, installed editable so that the toolkit runs from python/, and its module, built
# under build/editable (incremental). Run this again after a change to the C++ sources. The web
# engine is left out of this build: the studio takes scripts/web.sh's build/web from the source tree.
# (Wheels, `pip install .` and scripts/wheel.sh, build under build/<wheel tag> with the web engine.)
say "building and installing the orv package"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps \
  -C build-dir=build/editable -C cmake.define.ORV_PACKAGE_WEB=OFF -e "$ROOT"

# The scripts that source this one take cmake, ctest and ninja from the environment's pinned tools.
export PATH="$VENV/bin:$PATH"
