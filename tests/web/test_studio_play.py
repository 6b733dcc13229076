"""Play mode of the studio in headless Chromium: a bundled puzzle's tray, pieces put into zones by
keyboard, by a click and by drag and drop, a wrong placement run to its verdict, and Hint (the
solver in a worker) leading to the shortest solution, each compared with the Python module."""

from pathlib import Path

import orv_session
import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from orv import studio, viewer

pytestmark = pytest.mark.skipif(not Path(viewer.CHROMIUM).exists(),
                                reason=f"{viewer.CHROMIUM} is not installed (Debian package chromium)")

FORGE = Path(studio.__file__).parents[1] / "campaign" / "03_the_forge.json"


@pytest.fixture
def browser(web_engine, tmp_path):
    page = studio.write_html(tmp_path / "studio.html", engine=web_engine)
    driver = viewer.launch_browser(tmp_path / "profile")
    try:
        studio.open_page(driver, page)
        yield driver
        problems = [e["message"] for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        assert problems == []  # no script error, and the policy let the solver's worker start
    finally:
        driver.quit()


def q(driver, testid):
    return driver.find_element(By.CSS_SELECTOR, f'[data-testid="{testid}"]')


def module_verdict(text, zones):
    session = orv_session.Session()
    session.load(text)
    session.place(zones)
    while not session.ended:
        session.step()
    return session.verdict()


def run_to_verdict(driver):
    q(driver, "play-run").click()
    WebDriverWait(driver, 30).until(lambda d: d.execute_script(
        "return document.querySelector('[data-testid=verdict]').dataset.verdict") not in ("ready", "running"))
    return driver.execute_script("return window.orvStudio.verdict()")


def drag_piece(driver, piece, zone_path):
    """Drags piece number `piece` from the tray onto the drawn zone whose id path is `zone_path`,
    with the events a browser fires for a drag and drop."""
    driver.execute_script("""
      const [piece, ids] = arguments;
      const zones = [...document.querySelectorAll('[data-testid=world] [data-testid=zone]')];
      const path = z => { const p = []; for (let n = z; n; n = n.parentElement.closest('[data-testid=zone]')) p.unshift(n.dataset.zoneId); return p.join('/'); };
      const zone = zones.find(z => path(z) === ids);
      const source = document.querySelectorAll('[data-testid=tray-piece] .piece-name')[piece];
      const data = new DataTransfer();
      const fire = (node, type) => node.dispatchEvent(new DragEvent(type, {bubbles: true, cancelable: true, dataTransfer: data}));
      fire(source, 'dragstart');
      fire(zone.querySelector('.zone-head'), 'dragover');
      fire(zone.querySelector('.zone-head'), 'drop');
      fire(source, 'dragend');""", piece, zone_path)


def test_place_wrongly_then_hint_to_solved(browser):
    text = FORGE.read_text(encoding="utf-8")
    Select(q(browser, "level-select")).select_by_visible_text(
        next(o.text for o in Select(q(browser, "level-select")).options if o.text.startswith("03_the_forge")))
    Select(q(browser, "speed")).select_by_value("0")
    session = orv_session.Session()
    session.load(text)
    labels = [e.text for e in browser.find_elements(By.CSS_SELECTOR, "[data-testid=tray-piece] .piece-name")]
    assert labels == session.pieces()
    zone_lists = [[o.get_attribute("value") for o in Select(s).options[1:]]
                  for s in browser.find_elements(By.CSS_SELECTOR, "[data-testid=piece-zone]")]
    assert zone_lists == [session.accepting()] * len(labels)
    assert q(browser, "play-run").get_attribute("disabled")  # pieces still in the tray

    # A wrong placement: the first piece by its zone list with the keyboard, the second picked
    # with Enter and then a click on the drawn zone, the third dragged onto it.
    wrong = ["anvil/quench"] * 3
    zone_select = browser.find_elements(By.CSS_SELECTOR, "[data-testid=piece-zone]")[0]
    zone_select.send_keys(Keys.END)
    focused = browser.switch_to.active_element  # the tray is drawn again, the focus kept
    assert (focused.get_attribute("data-testid"), focused.get_attribute("value")) == ("piece-zone", "anvil/quench")
    browser.find_elements(By.CSS_SELECTOR, "[data-testid=tray-piece] .piece-name")[1].send_keys(Keys.ENTER)
    browser.find_element(By.CSS_SELECTOR, '[data-testid=world] [data-zone-id="quench"] .zone-head').click()
    drag_piece(browser, 2, "anvil/quench")
    chosen = [Select(s).first_selected_option.get_attribute("value")
              for s in browser.find_elements(By.CSS_SELECTOR, "[data-testid=piece-zone]")]
    assert chosen == wrong
    expected = module_verdict(text, wrong)
    assert expected["verdict"] == "unsolved"
    assert run_to_verdict(browser) == {"status": "unsolved", "word": "UNSOLVED", "frames": expected["frames"],
                                       "reasons": expected["reasons"]}

    # Hint moves one piece a time to where the shortest solution puts it, in the engine's words.
    solution = orv_session.solve(text)["shortest"]
    browser.execute_script("""window.orvWorkers = 0; const Made = window.Worker;
      window.Worker = function (url) { window.orvWorkers++; return new Made(url); };""")
    assert all(zone != "anvil/quench" for zone in solution["zones"])
    for line in solution["lines"]:
        q(browser, "play-hint").click()
        WebDriverWait(browser, 30).until(lambda d: q(d, "play-note").text.startswith("Hint:"))
        assert q(browser, "play-note").text == f"Hint: {line}."
        browser.execute_script("document.querySelector('[data-testid=play-note]').textContent = ''")
    chosen = [Select(s).first_selected_option.get_attribute("value")
              for s in browser.find_elements(By.CSS_SELECTOR, "[data-testid=piece-zone]")]
    assert chosen == solution["zones"]
    assert browser.execute_script("return window.orvWorkers") == 1  # solved once, in a worker
    assert run_to_verdict(browser) == {"status": "solved", "word": "SOLVED", "frames": solution["frames"], "reasons": []}
    assert q(browser, "error").get_attribute("hidden")

    # Back to the tray: the engine holds the puzzle again, so the saved level keeps its pieces.
    q(browser, "play-clear").click()
    saved = orv_session.Session()
    saved.load(browser.execute_script("return window.orvStudio.levelText()"))
    assert saved.pieces() == session.pieces() and saved.placement is None


def test_engine_refusals_of_placements_and_searches_name_the_value(web_engine, tmp_path):
    """What play mode shows when the engine refuses: the same words as the Python module's."""
    import json
    import subprocess

    from conftest import needs_node, node_env

    text = FORGE.read_text(encoding="utf-8")
    script = tmp_path / "refusals.js"
    script.write_text("""
      const [engine, level] = process.argv.slice(2);
      require(engine)().then(e => {
        e.load(require("fs").readFileSync(level, "utf8"));
        const said = call => { try { call(); return null; } catch (err) { return err.message; } };
        const placements = [["anvil", "nowhere", "anvil"], ["anvil"], "anvil", [1, 2, 3]].map(z => said(() => e.place(z)));
        console.log(JSON.stringify({placements, placement: e.placement(), solve: said(() => e.solve("{"))}));
      });""", encoding="utf-8")
    out = subprocess.run([needs_node(), str(script), str(web_engine), str(FORGE)], capture_output=True, text=True,
                         env=node_env(), timeout=120, check=True).stdout
    said = json.loads(out)
    session = orv_session.Session()
    session.load(text)
    expected = []
    for zones in (["anvil", "nowhere", "anvil"], ["anvil"]):
        with pytest.raises(ValueError) as refused:
            session.place(zones)
        expected.append(str(refused.value))
    assert said["placements"] == expected + ['a placement is a list of zone paths, not "anvil"',
                                             "a zone path is text, not 1"]
    assert '"nowhere"' in expected[0]
    assert said["placement"] == {"zones": None, "lines": []}  # every refusal left the pieces in the tray
    with pytest.raises(ValueError) as refused:
        orv_session.solve("{")
    where, wanted, found = refused.value.args
    assert said["solve"] == f"{where}: expected {wanted}, found {found}"
