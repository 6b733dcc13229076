"""Figures of the studio's editor on the wide world (1,000 zones, 10 charges and 3 agents each) in
headless Chromium: the time of one edit made in place (a charge's magnitude changed in the
inspector: the level copied where it changed, read by the engine, kept in the browser's storage,
the world and the panel drawn again), of one undo, and of a share link, and the link's length.

    .venv/bin/python bench/studio_edit.py [EDITS]

Needs the web build (bash scripts/web.sh).
"""

import statistics
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import worlds  # noqa: E402

import orv_session  # noqa: E402

from orv import studio, viewer  # noqa: E402

PAGE_TIMER = """
const done = arguments[arguments.length - 1], edits = arguments[0], edit = [], undo = [];
const field = document.querySelector('[data-testid=edit-magnitude]');
window.orvStudio.select('wide_root/zone_1:charge:1');
for (let i = 0; i < edits; i++) {
  let t0 = performance.now();
  field.value = String(i + 0.5);
  field.dispatchEvent(new Event('change'));
  document.body.offsetHeight;
  edit.push(performance.now() - t0);
  t0 = performance.now();
  document.body.dispatchEvent(new KeyboardEvent('keydown', {key: 'z', ctrlKey: true, bubbles: true, cancelable: true}));
  document.body.offsetHeight;
  undo.push(performance.now() - t0);
}
const t0 = performance.now();
window.orvStudio.copyLink().then(() => done([edit, undo, performance.now() - t0, location.href.length]));
"""


def main(edits: int = 10) -> int:
    session = orv_session.Session()
    session.load(worlds.wide().to_json())
    text = session.level_text("wide", "1,000 zones, 10 charges and 3 agents each")
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        page = studio.write_html(Path(tmp) / "studio.html")
        driver = viewer.launch_browser(Path(tmp) / "profile")
        try:
            driver.set_script_timeout(600)
            studio.open_page(driver, page)
            if not driver.execute_script("return window.orvStudio.open(arguments[0], 'wide')", text):
                print("the page did not open the wide world")
                return 1
            edit, undo, link, length = driver.execute_async_script(PAGE_TIMER, edits)
        finally:
            driver.quit()
    print(f"wide world, {len(text):,} characters of level text")
    print(f"edit in place (median of {edits}): {statistics.median(edit):.1f} ms")
    print(f"undo (median of {edits}): {statistics.median(undo):.1f} ms")
    print(f"copy link: {link:.1f} ms, a link of {length:,} characters")
    return 0


if __name__ == "__main__":
    sys.exit(main(*(int(a) for a in sys.argv[1:2])))
