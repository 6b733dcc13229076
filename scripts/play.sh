#!/usr/bin/env bash
# Builds what is missing, then plays a level with the orv command (the first bundled level
# when none is named). Arguments go to `orv play`.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
exec "$VENV/bin/orv" play "$@"
