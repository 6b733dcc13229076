"""The studio's editor driven as a designer drives it, in headless Chromium: a level built from
blank, edited in place, reordered, undone and redone, kept across a reload, shared as a link that
a fresh browser opens, played to solved, saved and checked; then a hostile user's inputs."""

import base64
import json
import zlib
from contextlib import contextmanager

import orv_session
import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait
from test_studio_browser import downloaded, fill, needs_browser, orv, q, state

from orv import studio, viewer

pytestmark = needs_browser

GREY, RED, GREEN = "rgb(138, 145, 158)", "rgb(179, 38, 30)", "rgb(47, 143, 78)"


@pytest.fixture(scope="module")
def page(web_engine, tmp_path_factory):
    return studio.write_html(tmp_path_factory.mktemp("editor") / "studio.html", engine=web_engine)


@contextmanager
def chromium(tmp_path, name, width=1280):
    downloads = tmp_path / f"{name}-downloads"
    downloads.mkdir()
    driver = viewer.launch_browser(tmp_path / f"{name}-profile", width, 900)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    driver.downloads = downloads
    try:
        yield driver
        problems = [e["message"] for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        assert problems == []  # no script error, nothing the page's policy had to block
    finally:
        driver.quit()


def keys(driver, *strokes):
    """Presses keys on the page itself, as a designer does with nothing focused."""
    driver.execute_script("document.activeElement && document.activeElement.blur()")
    ActionChains(driver).send_keys(*strokes).perform()


def chords(driver, *strokes):
    """Presses chords on the page itself: each stroke is (modifiers..., key)."""
    chain = ActionChains(driver)
    for stroke in strokes:
        for modifier in stroke[:-1]:
            chain.key_down(modifier)
        chain.send_keys(stroke[-1])
        for modifier in reversed(stroke[:-1]):
            chain.key_up(modifier)
    driver.execute_script("document.activeElement && document.activeElement.blur()")
    chain.perform()


UNDO, REDO, REDO_Y = (Keys.CONTROL, "z"), (Keys.CONTROL, Keys.SHIFT, "z"), (Keys.CONTROL, "y")


def rows(driver, testid):
    return [r.text for r in driver.find_elements(By.CSS_SELECTOR, f'[data-testid="{testid}"] [data-testid$="-pick"]')]


def drawn(driver, zone_path, testid):
    return driver.find_elements(By.CSS_SELECTOR, f'[data-testid=world] [data-path="{zone_path}"] > .row > [data-testid={testid}]')


def drag(driver, source, target):
    """Drags with the mouse and drops on the left part of `target` (before it)."""
    ActionChains(driver).click_and_hold(source).move_to_element_with_offset(target, -target.size["width"] // 4, 0) \
        .release().perform()


def verdict_colour(driver):
    return driver.execute_script("return getComputedStyle(document.querySelector('[data-testid=verdict]')).borderLeftColor")


def level_text(driver):
    return driver.execute_script("return window.orvStudio.levelText()")


def play_with_space(driver):
    keys(driver, " ")
    WebDriverWait(driver, 30).until(lambda d: state(d)["status"] not in ("ready", "running"))
    return state(driver)


def add_charge(driver, magnitude, visual):
    fill(driver, "charge-magnitude", magnitude)
    fill(driver, "charge-visual", visual)
    q(driver, "add-charge").click()


def add_agent(driver, kind, visual, target=None):
    Select(q(driver, "agent-kind")).select_by_value(kind)
    fill(driver, "agent-visual", visual)
    if target is not None:
        fill(driver, "agent-target", target)
    q(driver, "add-agent").click()


# Whether the drawing, kept through edits by redrawing only the zones that changed, is the world's
# drawing made afresh (the editor's marks, picked and draggable, aside).
FRESH_JS = """
const fresh = document.createElement('div');
new window.OrvReplay.Drawing(fresh, '').draw(window.orvStudio.world(), null);
const clean = (html) => html.replace(/ picked| draggable="true"/g, '');
return clean(document.querySelector('[data-testid=world]').innerHTML) === clean(fresh.innerHTML);
"""


def test_designer_builds_undoes_reloads_shares_and_solves(page, tmp_path):
    with chromium(tmp_path, "designer") as browser:
        studio.open_page(browser, page)
        q(browser, "new-level").click()
        assert (state(browser)["zones"], state(browser)["title"], verdict_colour(browser)) == (["root"], "New level", GREY)
        fill(browser, "level-title", "Two Gates\t")
        fill(browser, "zone-id", "vault")
        q(browser, "rename-zone").click()
        add_agent(browser, "equals", "door", "8")
        assert (q(browser, "agent-visual").get_attribute("value"), q(browser, "agent-target").get_attribute("value")) == ("", "")
        fill(browser, "new-zone-id", "cellar")
        q(browser, "add-zone").click()
        add_charge(browser, "3", "b")  # the order decides what the Minus Magician makes: 3 - 10
        add_charge(browser, "10", "a")
        assert rows(browser, "charge-list") == ["+3 (b)", "+10 (a)"]  # each entry on its own, the fields emptied
        add_agent(browser, "minus", "m")
        browser.find_element(By.CSS_SELECTOR, '[data-testid=world] [data-path=""] > .zone-head').click()  # the vault, picked
        fill(browser, "new-zone-id", "attic")
        q(browser, "add-zone").click()
        add_charge(browser, "1", "c")
        add_agent(browser, "judge", "j", "1")
        assert rows(browser, "agent-list") == ["The Judge (j) wants >= 1"]
        assert state(browser)["zones"] == ["vault", "cellar", "attic"] and state(browser)["error"] == ""

        end = play_with_space(browser)
        assert (end["status"], end["reasons"], verdict_colour(browser)) == \
            ("unsolved", ["Equals Gate (door) in zone vault did not open (total -6, wants = 8)"], RED)
        assert q(browser, "step").get_attribute("disabled") == "true"
        keys(browser, Keys.HOME)
        assert (state(browser)["frame"], q(browser, "back").get_attribute("disabled")) == (0, "true")

        # Reorder by dragging the 10 onto the 3 in the drawing; undo and redo it.
        drag(browser, drawn(browser, "/0", "charge")[1], drawn(browser, "/0", "charge")[0])
        WebDriverWait(browser, 5).until(lambda d: rows(d, "charge-list") == ["+10 (a)", "+3 (b)"])
        assert browser.execute_script(FRESH_JS)
        fixed = level_text(browser)
        chords(browser, UNDO)
        assert rows(browser, "charge-list") == ["+3 (b)", "+10 (a)"]
        chords(browser, REDO)
        assert level_text(browser) == fixed
        chords(browser, UNDO, REDO_Y)
        assert level_text(browser) == fixed

        # Edit in place: the 3, picked in the drawing, becomes 1e999 (inf), moves up with Alt+Up, is
        # deleted with Delete; each undone. The Judge moves to the vault and back by undo.
        drawn(browser, "/0", "charge")[1].click()
        assert q(browser, "inspector-title").text == "Charge 2 of 2 in zone vault/cellar"
        fill(browser, "edit-magnitude", "1e999\t")
        assert rows(browser, "charge-list") == ["+10 (a)", "+inf (b)"]
        chords(browser, (Keys.ALT, Keys.ARROW_UP))
        assert rows(browser, "charge-list") == ["+inf (b)", "+10 (a)"]
        keys(browser, Keys.DELETE)
        assert rows(browser, "charge-list") == ["+10 (a)"]
        chords(browser, UNDO, UNDO, UNDO)
        assert level_text(browser) == fixed and browser.execute_script(FRESH_JS)
        drawn(browser, "/1", "agent")[0].click()
        Select(q(browser, "move-to")).select_by_visible_text("vault")
        assert rows(browser, "agent-list") == ["Equals Gate (door) wants = 8", "The Judge (j) wants >= 1"]
        chords(browser, UNDO)
        assert browser.execute_script(FRESH_JS)
        keys(browser, Keys.ESCAPE)
        assert q(browser, "inspector").is_displayed() is False and browser.find_elements(By.CSS_SELECTOR, ".picked") == []

        # A hundred and twenty steps, every one undone.
        drawn(browser, "/0", "charge")[0].click()
        before = int(q(browser, "studio").get_attribute("data-undo"))
        chords(browser, *[(Keys.ALT, Keys.ARROW_DOWN), (Keys.ALT, Keys.ARROW_UP)] * 60)
        assert int(q(browser, "studio").get_attribute("data-undo")) == before + 120
        chords(browser, *[UNDO] * 120)
        assert level_text(browser) == fixed and q(browser, "undo").get_attribute("disabled") is None

        # The work survives a reload: leaving asks first, and the page offers the level back.
        assert q(browser, "studio").get_attribute("data-unsaved") == "true"
        assert browser.execute_script(
            "const e = new Event('beforeunload', {cancelable: true}); window.dispatchEvent(e); return e.defaultPrevented")
        browser.refresh()
        studio.open_page(browser, page)
        assert "\u201cTwo Gates\u201d" in q(browser, "drafts").text
        q(browser, "restore-draft").click()
        assert level_text(browser) == fixed and q(browser, "drafts").is_displayed() is False

        q(browser, "copy-link").click()
        WebDriverWait(browser, 10).until(lambda d: "#level=" in d.current_url)
        assert q(browser, "notice").text.startswith("Link copied")
        link = browser.current_url

    with chromium(tmp_path, "friend", width=420) as fresh:  # another browser, a phone's width
        fresh.get(link)
        WebDriverWait(fresh, 30).until(lambda d: d.execute_script("return document.getElementById('studio').dataset.ready") == "true")
        assert (state(fresh)["error"], level_text(fresh)) == ("", fixed)
        world, panel = (fresh.execute_script(f"return document.querySelector('[data-testid={t}]').getBoundingClientRect().toJSON()")
                        for t in ("world", "editor"))
        assert world["bottom"] <= panel["top"] and world["width"] >= 380  # the panel is under the world, not over it
        end = play_with_space(fresh)
        assert (end["status"], end["frame"], verdict_colour(fresh)) == ("solved", 6, GREEN)
        fresh.execute_script("arguments[0].click()", q(fresh, "save-level"))
        saved = downloaded(fresh, "two_gates.json")
        check = orv("check", str(saved))
        assert (check.returncode, check.stdout) == (0, "two_gates.json: solved in 6 frames\n")


def deflated(data: bytes) -> str:
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return base64.urlsafe_b64encode(packer.compress(data) + packer.flush()).decode().rstrip("=")


def reopen(driver, page, fragment=""):
    driver.get("about:blank")
    driver.get(page.resolve().as_uri() + fragment)
    WebDriverWait(driver, 30).until(lambda d: d.execute_script("return document.getElementById('studio').dataset.ready") == "true")


def test_hostile_links_storage_ids_and_huge_levels(page, tmp_path):
    from conftest import module_run

    with chromium(tmp_path, "hostile") as browser:
        said = "The level in the link was not opened: "
        for fragment, says in [
            ("#level=", said + 'expected the level after "#level=", found nothing'),
            ("#level=%%%", said + 'expected base64url text (letters, digits, "-" and "_"), found "%" at character 1'),
            ("#level=A", said + "expected base64url text, found 1 character, a length that no bytes have"),
            ("#level=AAAA", said + "expected a level that the studio packed (deflate), found bytes that do not inflate"),
            ("#level=" + deflated(bytes(70 << 20)), said + "the level inflates to more than 67,108,864 bytes"),
            ("#level=" + deflated(b'{"id": "r", "colour": 1}'), "The level was not opened: " + module_run(b'{"id": "r", "colour": 1}')["error"]),
        ]:
            reopen(browser, page, fragment)
            assert (state(browser)["error"], state(browser)["title"]) == (says, "First Light"), fragment

        # Hostile ids, pasted as level text: shown as they are, never run as markup.
        hostile = {"format": 1, "title": "<b>x</b>", "world": {"id": '<img src=x onerror="window.pwned=1">', "sub_environments": [
            {"id": "__proto__", "charges": [{"magnitude": 2, "polarity": "negative", "visual_id": "\"]'><script>window.pwned=2</script>"}],
             "agents": [{"name": "equals", "visual_id": "constructor", "target_value": 7}]}]}}
        q(browser, "text-io").click()
        fill(browser, "level-text-area", "{")
        q(browser, "open-text").click()
        assert q(browser, "text-error").text == "The level was not opened: " + module_run(b"{")["error"]
        browser.execute_script("arguments[0].value = arguments[1]", q(browser, "level-text-area"), json.dumps(hostile))
        q(browser, "open-text").click()
        assert q(browser, "text-dialog").get_attribute("open") is None
        assert state(browser)["zones"] == [hostile["world"]["id"], "__proto__"]
        drawn(browser, "/0", "agent")[0].click()
        assert rows(browser, "agent-list") == ["Equals Gate (constructor) wants = 7"]  # a file's "equals", in the engine's words
        drawn(browser, "/0", "charge")[0].click()
        assert q(browser, "edit-visual").get_attribute("value") == hostile["world"]["sub_environments"][0]["charges"][0]["visual_id"]
        Select(q(browser, "move-to")).select_by_visible_text(hostile["world"]["id"])
        assert rows(browser, "charge-list") == ['-2 ("]\'><script>window.pwned=2</script>)']
        for typed, shown in (("inf", "-inf"), ("-0", "-0"), ("nan", "-nan"), ("1e999", "-inf")):
            fill(browser, "edit-magnitude", typed + "\t")
            assert rows(browser, "charge-list")[0].startswith(shown + " ("), typed
        fill(browser, "edit-magnitude", "abc\t")
        assert state(browser)["error"] == 'magnitude: expected a number, found "abc"'
        assert q(browser, "edit-magnitude").get_attribute("aria-invalid") == "true"
        assert browser.execute_script("return window.pwned") is None

        # A full storage is said, and the next edit after room is made is kept.
        browser.execute_script("""
          let size = 1 << 22, i = 0;
          while (size >= 1) { try { localStorage.setItem('junk' + i++, 'x'.repeat(size)); } catch (e) { size >>= 1; } }""")
        fill(browser, "new-zone-id", "attic")
        q(browser, "add-zone").click()
        assert q(browser, "editor-note").text.startswith("The level was not kept in this browser: its storage is full (")
        browser.execute_script("Object.keys(localStorage).filter(k => k.startsWith('junk')).forEach(k => localStorage.removeItem(k))")
        keys(browser, Keys.DELETE)  # the attic, picked when it was added
        assert q(browser, "editor-note").is_displayed() is False and state(browser)["zones"] == [hostile["world"]["id"], "__proto__"]
        browser.execute_script("localStorage.setItem('orv-studio:draft:broken', '{')")
        old = {"title": "Kept by an earlier page", "time": 1, "text": json.dumps({"id": "old\nzone"})}
        browser.execute_script("localStorage.setItem('orv-studio:draft:old', arguments[0])", json.dumps(old))
        reopen(browser, page)
        assert [r.text.split(", edited")[0] for r in browser.find_elements(By.CSS_SELECTOR, "[data-testid=draft-item]")] == \
            ["\u201c<b>x</b>\u201d", "\u201cKept by an earlier page\u201d", "a kept level that cannot be readdiscard"]

        # A zone of 5,000 charges: the list shows 200 rows around the one picked.
        big = {"id": "big", "charges": [{"magnitude": i, "polarity": "positive", "visual_id": f"c{i}"} for i in range(5000)]}
        assert browser.execute_script("return window.orvStudio.open(arguments[0], 'big')", json.dumps(big))
        assert browser.execute_script("return window.orvStudio.select('big:charge:4000')")
        assert (len(rows(browser, "charge-list")), q(browser, "charge-list").find_element(By.CSS_SELECTOR, ".picked").text[:12]) == \
            (200, "+3999 (c3999")
        keys(browser, Keys.DELETE)
        assert json.loads(level_text(browser))["world"]["charges"][3999]["visual_id"] == "c4000"
        chords(browser, UNDO)
        assert len(json.loads(level_text(browser))["world"]["charges"]) == 5000

        keys(browser, "?")
        assert q(browser, "keys-help").get_attribute("open") == "true"
        keys(browser, Keys.ESCAPE)
        assert q(browser, "keys-help").get_attribute("open") is None
        keys(browser, Keys.ARROW_RIGHT)
        assert (state(browser)["frame"], state(browser)["status"]) == (1, "solved")  # nothing to cast or fold
        keys(browser, Keys.ARROW_LEFT)
        assert state(browser)["frame"] == 0


def test_zones_move_and_a_puzzle_keeps_its_tray(page, tmp_path):
    from pathlib import Path

    mine = Path(studio.__file__).parents[1] / "campaign" / "05_the_deep_mine.json"
    with chromium(tmp_path, "puzzle") as browser:
        studio.open_page(browser, page)
        q(browser, "open-file").send_keys(str(mine))
        WebDriverWait(browser, 10).until(lambda d: state(d)["title"] == "The Deep Mine")
        assert q(browser, "tray").text == "A puzzle: its 2 pieces and the zones that take them are kept as they are through edits and saves."
        chords(browser, UNDO)  # opening a level is a step of undo too
        assert state(browser)["title"] == "First Light"
        chords(browser, REDO)
        assert state(browser)["zones"] == ["surface", "shaft", "gallery", "vein"]

        # The engine refuses a name that an accepting zone's path needs: the level stays.
        browser.find_element(By.CSS_SELECTOR, '[data-path="/0/0"] > .zone-head').click()
        fill(browser, "zone-id", "hall")
        q(browser, "rename-zone").click()
        assert state(browser)["error"].startswith("The edit was not applied: accepts[1]: ")
        assert state(browser)["zones"] == ["surface", "shaft", "gallery", "vein"]

        # A new zone dragged into the shaft, then above the gallery in the shaft's list of sub-zones.
        browser.find_element(By.CSS_SELECTOR, '[data-path=""] > .zone-head').click()
        fill(browser, "new-zone-id", "annex")
        q(browser, "add-zone").click()
        annex, shaft = (browser.find_element(By.CSS_SELECTOR, f'[data-path="{p}"]') for p in ("/1", "/0"))
        ActionChains(browser).click_and_hold(annex.find_element(By.CSS_SELECTOR, ".zone-head")) \
            .move_to_element_with_offset(shaft.find_element(By.CSS_SELECTOR, ":scope > .row.agents"), 0, 0).release().perform()
        WebDriverWait(browser, 5).until(lambda d: state(d)["zones"] == ["surface", "shaft", "gallery", "vein", "annex"])
        browser.find_element(By.CSS_SELECTOR, '[data-path="/0"] > .zone-head').click()
        assert rows(browser, "zone-list") == ["gallery", "annex"]
        gallery, annex = browser.find_elements(By.CSS_SELECTOR, "[data-testid=subzone-item]")
        ActionChains(browser).click_and_hold(annex).move_to_element_with_offset(gallery, 0, -gallery.size["height"] // 4) \
            .release().perform()
        WebDriverWait(browser, 5).until(lambda d: rows(d, "zone-list") == ["annex", "gallery"])

        # No zone goes into a zone inside it: the shaft dropped on the vein stays where it is.
        shaft, vein = (browser.find_element(By.CSS_SELECTOR, f'[data-path="{p}"]') for p in ("/0", "/0/1/0"))
        ActionChains(browser).click_and_hold(shaft.find_element(By.CSS_SELECTOR, ".zone-head")) \
            .move_to_element(vein.find_element(By.CSS_SELECTOR, ".row.charges")).release().perform()
        assert state(browser)["zones"] == ["surface", "shaft", "annex", "gallery", "vein"]
        assert browser.find_elements(By.CSS_SELECTOR, ".drop-into, .drop-before, .drop-after") == []

        browser.find_element(By.CSS_SELECTOR, '[data-path="/0/0"] > .zone-head').click()
        keys(browser, Keys.DELETE)
        q(browser, "save-level").click()
        saved = downloaded(browser, "the_deep_mine.json")
        original = json.loads(mine.read_text(encoding="utf-8"))
        level = json.loads(saved.read_text(encoding="utf-8"))
        assert ([p["visual_id"] for p in level["pieces"]], level["accepts"]) == (["daylight", "miner"], original["accepts"])
        check = orv("check", str(saved))
        assert (check.returncode, check.stdout) == \
            (0, "the_deep_mine.json: solvable: 1 solution among 9 placements, unique; the shortest in 8 frames\n")
        assert q(browser, "studio").get_attribute("data-unsaved") == "false"
