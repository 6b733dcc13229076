"""mypy --strict on the README's example of the module, on docs/api.md's example of the toolkit, and
on the toolkit as a package (modules not yet annotated throughout are listed in pyproject.toml)."""

import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def test_examples_and_toolkit_pass_mypy_strict(tmp_path):
    examples = []
    for doc in (ROOT / "README.md", ROOT / "docs" / "api.md"):
        blocks = re.findall(r"```python\n(.*?)```", doc.read_text(encoding="utf-8"), re.S)
        assert blocks, f"{doc} has no Python example"
        examples.append(tmp_path / f"{doc.stem.lower()}_example.py")
        examples[-1].write_text("\n".join(blocks), encoding="utf-8")
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--config-file",
                             str(ROOT / "pyproject.toml"), *map(str, examples), str(ROOT / "python" / "orv")],
                            cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.startswith("Success: no issues found")
