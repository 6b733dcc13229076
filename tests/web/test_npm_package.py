"""The web engine's npm package as a front-end developer meets it: the tarball of the web build
installs offline into a scratch folder, and examples/play_level.mjs (the README's script) imports it,
plays a bundled level to the verdict of `orv check`, and tells a broken level's fault in the
toolkit's form."""

import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import needs_node, node_env


ROOT = Path(__file__).resolve().parents[2]
pytestmark = pytest.mark.install

# "PATH: expected X, found Y", or for text that is not JSON "line L, column C: expected ...".
REFUSAL = re.compile(r"not a level: (line \d+, column \d+: expected .+|[\w.\[\]]+: expected .+, found .+)\n")


def test_npm_tarball_installs_offline_and_plays_a_level(tmp_path):
    node = needs_node()
    for tool in ("emcc", "npm"):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed, so the web build makes no npm package")
    subprocess.run(["bash", str(ROOT / "scripts" / "web.sh")], check=True, capture_output=True, timeout=600)
    built = list((ROOT / "build" / "web" / "src" / "web" / "npm").glob("orv-engine-*.tgz"))
    assert len(built) == 1

    scratch = tmp_path / "game"
    scratch.mkdir()
    (scratch / "package.json").write_text('{"private": true}\n', encoding="utf-8")
    shutil.copy(built[0], scratch)
    shutil.copy(ROOT / "examples" / "play_level.mjs", scratch)
    env = node_env() | {"npm_config_cache": str(tmp_path / "npm-cache")}
    subprocess.run(["npm", "install", "--offline", "--no-audit", "--no-fund", f"./{built[0].name}"], cwd=scratch,
                   env=env, check=True, capture_output=True, timeout=120)
    installed = json.loads((scratch / "node_modules" / "orv-engine" / "package.json").read_text(encoding="utf-8"))
    assert installed["type"] == "module" and installed["exports"]["."]["types"] == "./orv_engine.d.ts"

    def play(level: Path):
        return subprocess.run([node, "play_level.mjs", str(level)], cwd=scratch, env=env, capture_output=True,
                              text=True, timeout=120)

    # A finished world (the fourth bundled level before its agents moved into a tray).
    table = json.loads((ROOT / "tests" / "engine" / "verdict_table.json").read_text(encoding="utf-8"))
    world = next(e["world"] for e in table["entries"] if e["name"] == "campaign 04_the_well")
    level = tmp_path / "well.json"
    level.write_text(json.dumps({"format": 1, "title": "The Well", "world": world}), encoding="utf-8")
    checked = json.loads(subprocess.run([sys.executable, "-m", "orv", "check", "--json", str(level)],
                                        capture_output=True, text=True, check=True).stdout)
    played = play(level)
    assert played.returncode == 0, played.stderr
    assert played.stdout.splitlines()[-1] == f"{checked['verdict']} in {checked['frames']} frames"

    broken = {"syntax": '{"format": 1,\n  "world": {"id": }}', "shape": '{"format": 1, "world": {"id": 3}}'}
    for name, text in broken.items():
        (tmp_path / f"{name}.json").write_text(text, encoding="utf-8")
        refused = play(tmp_path / f"{name}.json")
        assert refused.returncode == 2 and REFUSAL.fullmatch(refused.stderr), (name, refused.stderr)
        assert "json.exception" not in refused.stderr
    print(f"{built[0].name}: {built[0].stat().st_size} bytes", file=sys.stderr if os.environ.get("CI") else sys.stdout)
