"""The rules reference: `orv rules` prints it, and every example in it is played as written."""

import subprocess
import sys
from pathlib import Path

import pytest

from orv import rules
from orv.cli import main
from orv.levels import KINDS

ROOT = Path(__file__).resolve().parents[2]
DOC = (ROOT / "docs" / "rules.md").read_text(encoding="utf-8")
EXAMPLES = rules.examples(DOC)


def test_the_reference_covers_every_kind_and_the_frame():
    assert len(EXAMPLES) >= 20
    for kind in KINDS:
        section = rules.text(kind.kind)
        assert section.startswith(f"### {kind.name}\n")
        assert f"Priority {kind.priority}." in section and f"`{kind.kind}`" in section
        assert "untouched" in section or kind.kind == "chronomancer" or "closed" in section
        assert "```json" in section
    for words in ("## The frame", "frozen", "A fold takes everything below", "1,000 frames", "**solved**"):
        assert words in DOC


@pytest.mark.parametrize("level, told", EXAMPLES, ids=[f"example{i + 1}" for i in range(len(EXAMPLES))])
def test_each_example_plays_as_written(tmp_path, capsys, level, told):
    path = tmp_path / "example.json"
    path.write_text(level)
    assert main(["play", str(path), "--color", "never"]) == 0
    assert rules.told(capsys.readouterr().out) == told


def test_orv_rules_prints_the_reference_and_its_parts(capsys):
    assert main(["rules"]) == 0
    assert capsys.readouterr().out == DOC
    for name in ("judge", "The Judge", "JUDGE"):
        assert main(["rules", name]) == 0
        out = capsys.readouterr().out
        assert out.startswith("### The Judge\n") and out in DOC and "### Chronomancer" not in out
    done = subprocess.run([sys.executable, "-m", "orv", "rules", "wizard"], capture_output=True, text=True)
    assert done.returncode == 2 and "expected an agent kind" in done.stderr and "'wizard'" in done.stderr


def test_the_readme_links_the_reference_and_keeps_the_toolkit_name_free():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    assert "(docs/rules.md)" in readme and "orv rules" in readme
    assert "import orv_engine as orv" not in readme
