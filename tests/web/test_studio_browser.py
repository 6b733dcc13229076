"""The studio page in a real browser: headless Chromium driven through Selenium."""

import json
import os
import subprocess
import sys
from pathlib import Path

import orv_session
import pytest
from conftest import KINDS, LEVEL_FILES, module_run, random_level
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from orv import studio, viewer

needs_browser = pytest.mark.skipif(not Path(viewer.CHROMIUM).exists(),
                                   reason=f"{viewer.CHROMIUM} is not installed (Debian package chromium)")
pytestmark = needs_browser


@pytest.fixture(scope="module")
def page(web_engine, tmp_path_factory):
    return studio.write_html(tmp_path_factory.mktemp("studio") / "studio.html", engine=web_engine)


@pytest.fixture
def browser(page, tmp_path):
    downloads = tmp_path / "downloads"
    downloads.mkdir()
    driver = viewer.launch_browser(tmp_path / "profile")
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    driver.downloads = downloads
    try:
        studio.open_page(driver, page)
        yield driver
        problems = [e["message"] for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        assert problems == []  # no script error, nothing the page's policy had to block
    finally:
        driver.quit()


def q(driver, testid):
    return driver.find_element(By.CSS_SELECTOR, f'[data-testid="{testid}"]')


def fill(driver, testid, text):
    field = q(driver, testid)
    field.clear()
    field.send_keys(text)


def choose_zone(driver, label):
    Select(q(driver, "zone-select")).select_by_visible_text(label)


def state(driver):
    """What the page shows: the frame, the verdict and its reasons, the error, the frame's words,
    the zones drawn and the one marked as where the frame acted."""
    return driver.execute_script("""
      const q = s => document.querySelector('[data-testid=' + s + ']'), all = s => [...document.querySelectorAll(s)];
      const verdict = q('verdict'), hit = document.querySelector('[data-testid=world] .hl');
      const under = s => hit ? [...hit.querySelectorAll(':scope > .agents > [data-testid=' + s + ']')] : [];
      return {frame: Number(q('frame').textContent), verdict: verdict.textContent, status: verdict.dataset.verdict,
              reasons: all('[data-testid=reason]').map(r => r.textContent),
              error: q('error').hidden ? '' : q('error').textContent, title: q('title').textContent,
              caption: q('caption').textContent, where: q('where').textContent,
              zones: all('[data-testid=world] [data-testid=zone]').map(z => z.dataset.zoneId),
              hit: hit && {path: hit.dataset.path, event: hit.dataset.event,
                           departed: under('departed-agent').map(a => a.dataset.agentId),
                           folded: under('collapsed-zone').map(g => [g.dataset.zoneId, g.textContent])}};""")


def downloaded(driver, name):
    path = driver.downloads / name
    WebDriverWait(driver, 10).until(lambda _: path.exists() and not list(driver.downloads.glob("*.crdownload")))
    return path


def orv(*args):
    return subprocess.run([sys.executable, "-m", "orv", *args], capture_output=True, text=True)


def play_to_end(driver):
    Select(q(driver, "speed")).select_by_value("0")
    q(driver, "play").click()
    WebDriverWait(driver, 30).until(lambda d: d.execute_script(
        "return document.querySelector('[data-testid=verdict]').dataset.verdict") not in ("ready", "running"))


def first_light(driver):
    """Opens the first bundled level with its piece placed (the apprentice in the hearth)."""
    from test_web_engine import solved

    text = solved((Path(studio.__file__).parents[1] / "campaign" / "01_first_light.json").read_text(encoding="utf-8"))
    assert driver.execute_script("return window.orvStudio.open(arguments[0], 'first_light')", text)


def test_edit_play_to_solved_save_and_check(browser, tmp_path):
    first_light(browser)
    assert (state(browser)["verdict"], state(browser)["status"]) == ("not run yet", "ready")
    # First Light: the hearth's 2 and 3 make 5 for the door. Make it 2 + 3 + 4 and a zone with 1
    # more, and ask a Judge for at least 10 instead.
    choose_zone(browser, "\u00a0\u00a0hearth")
    fill(browser, "zone-id", "forge")
    q(browser, "rename-zone").click()
    fill(browser, "charge-magnitude", "4")
    fill(browser, "charge-visual", "spark")
    q(browser, "add-charge").click()
    choose_zone(browser, "door")
    q(browser, "remove-agent").click()
    Select(q(browser, "agent-kind")).select_by_value("judge")
    fill(browser, "agent-visual", "judge")
    fill(browser, "agent-target", "10")
    Select(q(browser, "agent-rule")).select_by_value(">=")
    q(browser, "add-agent").click()
    fill(browser, "new-zone-id", "annex")
    q(browser, "add-zone").click()
    Select(q(browser, "charge-polarity")).select_by_value("positive")
    fill(browser, "charge-magnitude", "1")
    fill(browser, "charge-visual", "ember")
    q(browser, "add-charge").click()
    assert state(browser)["zones"] == ["door", "forge", "annex"]

    play_to_end(browser)
    end = state(browser)
    assert (end["status"], end["reasons"], end["zones"]) == ("solved", [], ["door"])

    q(browser, "save-level").click()
    level = downloaded(browser, "first_light.json")
    saved = json.loads(level.read_text(encoding="utf-8"))
    assert [{k: a[k] for k in ("name", "visual_id", "target_value", "rule")} for a in saved["world"]["agents"]] == \
        [{"name": "The Judge", "visual_id": "judge", "target_value": 10, "rule": ">="}]
    check = orv("check", str(level))
    assert check.returncode == 0 and check.stdout == f"first_light.json: solved in {end['frame']} frames\n"

    q(browser, "save-run").click()
    run = downloaded(browser, "first_light.jsonl")
    reports = [json.loads(line) for line in run.read_text(encoding="utf-8").splitlines()]
    assert len(reports) == end["frame"] and reports[-1]["meta"]["status"] == "FINISHED"
    play = orv("play", str(level), "--jsonl")
    assert play.stdout == run.read_text(encoding="utf-8")  # the run is the module's, byte for byte
    view = orv("view", str(run), "--html", str(tmp_path / "run.html"))
    assert view.returncode == 0, view.stderr


def test_step_back_reset_and_every_agent_kind(browser):
    first_light(browser)
    for _ in range(3):
        q(browser, "step").click()
    three = browser.execute_script("return window.orvStudio.runText()")
    assert state(browser)["frame"] == 3
    q(browser, "back").click()
    assert state(browser)["frame"] == 2
    q(browser, "step").click()
    assert browser.execute_script("return window.orvStudio.runText()") == three  # replayed the same
    q(browser, "reset").click()
    assert (state(browser)["frame"], state(browser)["status"]) == (0, "ready")
    # The Judge's rules offered are the engine's.
    rules = browser.execute_script("return ['agent-rule', 'edit-rule'].map(id => "
                                   "[...document.querySelector('[data-testid=' + id + ']').options].map(o => o.value))")
    assert rules == [orv_session.judge_rules()] * 2 and q(browser, "agent-rule").get_attribute("value") == ">="

    fill(browser, "new-zone-id", "menagerie")
    q(browser, "add-zone").click()
    for kind in KINDS:
        Select(q(browser, "agent-kind")).select_by_value(kind)
        fill(browser, "agent-visual", f"{kind}-1")
        if kind in ("equals", "judge"):
            fill(browser, "agent-target", "0.5")
        q(browser, "add-agent").click()
    items = browser.find_elements(By.CSS_SELECTOR, '[data-testid="agent-item"]')
    assert len(items) == len(KINDS) == 13 and state(browser)["error"] == ""
    fill(browser, "charge-magnitude", "")
    fill(browser, "charge-visual", "nothing")
    q(browser, "add-charge").click()
    assert state(browser)["error"] == 'magnitude: expected a number, found ""'
    assert browser.find_elements(By.CSS_SELECTOR, '[data-testid="charge-item"]') == []
    browser.find_elements(By.CSS_SELECTOR, '[data-testid="remove-agent"]')[KINDS.index("chronomancer")].click()
    level = json.loads(browser.execute_script("return window.orvStudio.levelText()"))
    menagerie = level["world"]["sub_environments"][1]
    assert [a["name"] for a in menagerie["agents"]] == [k["name"] for k in orv_session.kinds() if k["kind"] != "chronomancer"]
    q(browser, "remove-zone").click()
    assert state(browser)["zones"] == ["door", "hearth"]


def test_open_level_files_and_bundled_levels(browser, tmp_path):
    good = tmp_path / "mine.json"
    good.write_text(json.dumps({"id": "vault", "charges": [{"magnitude": 3, "polarity": "negative", "visual_id": "x"}],
                                "agents": [{"name": "abs", "visual_id": "pure"}]}), encoding="utf-8")
    q(browser, "open-file").send_keys(str(good))
    WebDriverWait(browser, 10).until(lambda d: state(d)["zones"] == ["vault"])
    assert q(browser, "title").text == "mine"
    q(browser, "step").click()
    deep = tmp_path / "deep.json"  # more nesting than the engine writes (10,000 levels), in the page as in Python
    deep.write_text('{"id":"z","sub_environments":[' * 5000 + '{"id":"leaf"}' + "]}" * 5000, encoding="utf-8")
    q(browser, "open-file").send_keys(str(deep))
    WebDriverWait(browser, 10).until(lambda d: "nested" in state(d)["error"])
    session = orv_session.Session()
    session.load(deep.read_bytes())
    with pytest.raises(ValueError) as refused:  # the module cannot write its world either
        session.world()
    assert state(browser)["error"] == "The level was not opened: " + str(refused.value)
    assert (state(browser)["zones"], state(browser)["frame"]) == (["vault"], 1)
    play_to_end(browser)  # from frame 1, where the engine was put back
    assert (state(browser)["status"], state(browser)["frame"]) == ("solved", 2)  # the Purifier acted, then nothing was left
    assert browser.execute_script("return window.orvStudio.runText()") == \
        "".join(f["text"] + "\n" for f in module_run(good.read_bytes())["frames"])

    Select(q(browser, "level-select")).select_by_value("9")
    assert q(browser, "title").text == "The Grand Ritual"
    play_to_end(browser)
    text = browser.execute_script("return JSON.parse(document.getElementById('orv-levels').textContent)[9].text")
    verdict = module_run(text)["verdict"]  # the level as the page holds it
    end = state(browser)
    assert (end["status"], end["frame"], end["reasons"]) == (verdict["verdict"], verdict["frames"], verdict["reasons"])


# The world as the stage draws it, box by box in document order: id, path, frozen, the charges'
# polarities and visual ids, the agents' visual ids; and the page's copy of the world.
DRAWN_JS = """
const all = (s, n) => [...(n || document).querySelectorAll(s)];
return [all('[data-testid=world] [data-testid=zone]').map(z => [z.dataset.zoneId, z.dataset.path, z.dataset.frozen === 'true',
    all(':scope > .charges > [data-testid=charge]', z).map(c => [c.dataset.polarity, c.querySelector('small')?.textContent ?? '']),
    all(':scope > .agents > [data-testid=agent]', z).map(a => a.dataset.agentId)]),
  JSON.stringify(window.orvStudio.world())];
"""


def drawn(driver):
    boxes, world = driver.execute_script(DRAWN_JS)
    return boxes, json.loads(world)


def drawing_of(world):
    """What DRAWN_JS reads from a stage that shows `world`, and the world itself."""
    boxes, stack = [], [(world, "")]
    while stack:
        zone, path = stack.pop()
        charges = [[c["polarity"] if c["polarity"] in ("positive", "negative") else "neutral", c["visual_id"]]
                   for c in zone["charges"]]
        boxes.append([zone["id"], path, zone["is_time_frozen"], charges, [a["visual_id"] for a in zone["agents"]]])
        stack.extend((sub, f"{path}/{i}") for i, sub in reversed(list(enumerate(zone["sub_environments"]))))
    return boxes, world


def engine_run(text):
    """The module's run of a level: the world before frame 1, then each frame's report, record and
    words, and the verdict."""
    session = orv_session.Session()
    session.load(text.encode())
    worlds, frames = [json.loads(session.world())], []
    while not session.ended:
        worlds.append(json.loads(session.step()))
        frames.append((worlds[-2], worlds[-1], session.record(), session.told()))
    return frames, session.verdict()


def zone_at(world, path):
    for i in path:
        world = world["sub_environments"][i]
    return world


def expected_frame(before, report, record, told):
    """What the page must show for one frame that the engine ran."""
    hit = None
    if record["action"] in ("cast", "fold"):
        zone = zone_at(before, record["zone"])
        hit = {"path": "".join(f"/{i}" for i in record["zone"]), "event": record["action"], "departed": [], "folded": []}
        if record["action"] == "cast":
            hit["departed"] = [zone["agents"][record["index"]]["visual_id"]]
        else:
            hit["folded"] = [[zone["sub_environments"][record["index"]]["id"], told[0]]]
    return {"frame": report["meta"]["frame_index"], "caption": told[0] or report["meta"]["message"], "where": told[1],
            "hit": hit}


def test_the_page_shows_what_the_engine_says(browser):
    """Frame by frame, the page draws the engine's world, marks where the engine says the frame acted
    and shows its words, and at the end the engine's verdict; stepped back to frame 0 and forward
    again, by the changes that undo each frame and then by the frames' own, it draws each world
    again: over the verdict cases (totals that reports write as null, gates carried off, zones that
    share an id), zones with hostile ids that fold before their siblings, and random worlds."""
    from test_web_engine import VERDICT_CASES

    if os.environ.get("ORV_SANITIZED"):
        pytest.skip("the page runs alike in both stages; the plain stage runs it")
    hostile = "<b>&\"zone' \u00fc</script><!--"
    folding = {"id": hostile, "charges": [], "agents": [], "sub_environments": [
        {"id": f"{hostile}{i}", "charges": [{"magnitude": i, "polarity": "negative", "visual_id": "<i>"}],
         "agents": [], "sub_environments": [{"id": "__proto__", "charges": [], "agents": [], "sub_environments": []}]
         if i % 2 else []} for i in range(5)] + [{"id": "last", "charges": [], "agents": [], "sub_environments": []}]}
    levels = [json.dumps({"format": 1, "title": f"case {i}", "world": case}) for i, case in enumerate(VERDICT_CASES)]
    levels += [json.dumps({"format": 1, "title": "hostile", "world": folding})]
    levels += [json.dumps(random_level(seed)) for seed in range(12)]
    seen = set()
    for text in levels:
        frames, verdict = engine_run(text)
        assert browser.execute_script("return window.orvStudio.open(arguments[0], 'level')", text)
        worlds = [frames[0][0] if frames else json.loads(orv_session_world(text))]
        assert drawn(browser) == drawing_of(worlds[0]), text
        for before, report, record, told in frames:
            q(browser, "step").click()
            shown = state(browser)
            assert {k: shown[k] for k in ("frame", "caption", "where", "hit")} == \
                expected_frame(before, report, record, told), text
            assert drawn(browser) == drawing_of(report), text
            worlds.append(report)
            seen.add(record["action"])
        end = state(browser)
        assert (end["status"], end["frame"], end["reasons"]) == (verdict["verdict"], verdict["frames"], verdict["reasons"])
        for back in reversed(range(len(frames))):
            q(browser, "back").click()
            assert (state(browser)["frame"], drawn(browser)) == (back, drawing_of(worlds[back])), text
        for again in range(1, len(frames) + 1):
            q(browser, "step").click()
            assert drawn(browser) == drawing_of(worlds[again]), text
            assert state(browser)["hit"] == expected_frame(*frames[again - 1])["hit"], text
        assert state(browser) == end, text
    assert seen == {"cast", "fold", "finish"}


def orv_session_world(text):
    session = orv_session.Session()
    session.load(text.encode())
    return session.world()


def test_a_wide_world_is_redrawn_only_where_a_frame_changed_it(browser):
    """2,000 zones that fold one a frame, the first first: each frame draws one box again (the
    root's) and takes one out, the boxes after it keep their nodes and take their new paths, and
    the world drawn is the engine's, forward and back."""
    world = {"id": "root", "sub_environments": [
        {"id": f"z{i}", "charges": [{"magnitude": i, "polarity": "positive", "visual_id": f"c{i}"}]} for i in range(2000)]}
    text = json.dumps({"format": 1, "title": "wide", "world": world})
    assert browser.execute_script("return window.orvStudio.open(arguments[0], 'wide')", text)
    session = orv_session.Session()
    session.load(text.encode())
    worlds = [json.loads(session.world())] + [json.loads(session.step()) for _ in range(3)]
    kept = """
      const boxes = [...document.querySelectorAll('[data-testid=world] [data-testid=zone]')];
      const old = window.marked || []; window.marked = boxes;
      return [boxes.length, boxes.filter(b => old.includes(b)).length];"""
    assert browser.execute_script(kept) == [2001, 0]
    for frame in (1, 2, 3):
        q(browser, "step").click()
        assert drawn(browser) == drawing_of(worlds[frame])
        # Every box but the one that went is the same node (the root's own parts are drawn again inside it).
        assert browser.execute_script(kept) == [2001 - frame, 2001 - frame]
    for frame in (2, 1, 0):
        q(browser, "back").click()
        assert drawn(browser) == drawing_of(worlds[frame])
        assert browser.execute_script(kept) == [2001 - frame, 2001 - frame - 1]  # all but the one that came back
    # 250 frames on, past the first chunks of boxes, and back, which puts 250 boxes into one chunk.
    chunks = "return [...document.querySelectorAll('[data-testid=world] .chunk')].map(c => c.children.length)"
    browser.execute_script("for (let i = 0; i < 250; i++) window.orvStudio.step()")
    for _ in range(247):
        session.advance()
    far = drawing_of(json.loads(session.world()))
    assert drawn(browser)[0] == far[0] and browser.execute_script(chunks) == [50] * 35  # five chunks gone
    browser.execute_script("const back = document.querySelector('[data-testid=back]'); for (let i = 0; i < 250; i++) back.click()")
    assert drawn(browser) == drawing_of(worlds[0])
    # The first chunk took them in, split in two whenever it held more than 100.
    sizes = browser.execute_script(chunks)
    assert sum(sizes) == 2000 and max(sizes) <= 100 and min(sizes) > 0 and len(sizes) > 35


def test_level_files_open_and_save_as_the_module_does(browser, tmp_path):
    """Each file of the table, opened from disk: refused in one line with the engine's message (the
    open level stays), or opened, edited there and back (a sub-zone added and removed) and saved
    exactly as the module saves it: -0.0, infinities and NaN kept, 3,000 nested zones and all."""
    good = json.dumps({"format": 1, "title": "good", "world": {"id": "root"}})
    for stem, data, says in LEVEL_FILES:
        assert browser.execute_script("return window.orvStudio.open(arguments[0], 'good')", good)
        path = tmp_path / f"{stem}.json"
        path.write_bytes(data)
        q(browser, "open-file").send_keys(str(path))
        module = module_run(data)
        if says is not None:
            WebDriverWait(browser, 10).until(lambda d: state(d)["error"])
            shown = state(browser)
            assert shown["error"] == "The level was not opened: " + module["error"], stem
            assert (shown["title"], shown["zones"]) == ("good", ["root"]), stem
            continue
        session = orv_session.Session()
        session.load(data)
        title = session.title if session.title is not None else stem
        WebDriverWait(browser, 30).until(lambda d: state(d)["title"] == title)
        shown = state(browser)
        assert (shown["error"], len(shown["zones"])) == ("", session.world().count('"sub_environments":')), stem
        fill(browser, "new-zone-id", "extra")
        q(browser, "add-zone").click()
        q(browser, "remove-zone").click()
        assert state(browser)["error"] == "", stem
        saved = browser.execute_script("return window.orvStudio.levelText()")
        assert saved == session.level_text(title, session.description), stem
