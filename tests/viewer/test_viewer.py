"""The replay page in a real browser: headless Chromium driven through Selenium."""

import json
import re
import subprocess
import sys
from pathlib import Path

import orv_engine as engine
import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from orv import viewer
from orv.levels import bundled_levels, load_level
from orv.run import Run

ARTIFACTS = Path(__file__).resolve().parents[1] / "artifacts"
needs_browser = pytest.mark.skipif(not Path(viewer.CHROMIUM).exists(),
                                   reason=f"{viewer.CHROMIUM} is not installed (Debian package chromium)")
HOSTILE = "<b>&\"zone' ü</script><!--"

# Reads back what the page shows: header, and every zone box in document order.
SNAPSHOT_JS = """
const q = (s, n) => (n || document).querySelector(s), all = (s, n) => [...(n || document).querySelectorAll(s)];
return {
  pos: Number(q('[data-testid=viewer]').dataset.frame), playing: q('[data-testid=viewer]').dataset.playing,
  frame: q('[data-testid=frame]').textContent, status: q('[data-testid=status]').textContent,
  caption: q('[data-testid=caption]').textContent, scrubber: Number(q('[data-testid=scrubber]').value),
  event: all('[data-testid=event] dd').map(d => [d.dataset.field, d.textContent]),
  zones: all('[data-testid=zone]').map(z => ({
    id: z.dataset.zoneId, path: z.dataset.path, frozen: z.dataset.frozen === 'true', event: z.dataset.event || null,
    charges: all(':scope > .charges > [data-testid=charge]', z).map(c => q('b', c).textContent),
    fresh: all(':scope > .charges > [data-fresh]', z).length,
    agents: all(':scope > .agents > [data-testid=agent]', z).map(a => a.dataset.agentId),
    departed: all(':scope > .agents > [data-testid=departed-agent]', z).map(a => [a.dataset.agentId, a.textContent]),
    folded: all(':scope > .agents > [data-testid=collapsed-zone]', z).map(g => [g.dataset.zoneId, g.textContent])}))};
"""


def finish(sequencer):
    reports = [json.loads(sequencer.next_frame())]
    while reports[-1]["meta"]["status"] == "RUNNING":
        reports.append(json.loads(sequencer.next_frame()))
    return reports + [json.loads(sequencer.next_frame())]  # one "already finished" report too


def small_run():
    """Nested zones with odd ids: a cast deep down, collapses, a Judge, an Equals Gate, a NaN charge.
    The run is given without the world before frame 1, as `orv view` has it."""
    root, mid, deep, void = (engine.Environment(name) for name in (HOSTILE, "mid", "Tiefe ü", "void"))
    root.add_equals_gate("gate", 3.0)
    root.add_charge(1.0, engine.POSITIVE, "seed")
    root.add_charge(0.5, engine.NEGATIVE, "debt")
    mid.add_inequality_gate("judge", 0.0, ">=")
    deep.add_charge(4.0, engine.POSITIVE, "a")
    deep.add_charge(1.5, engine.POSITIVE, "b")
    deep.add_minus_magician("minus")
    void.add_charge(float("nan"), engine.NEUTRAL, "nothing")
    root.add_sub_environment(mid)
    mid.add_sub_environment(deep)
    root.add_sub_environment(void)
    return "Small </title> & run", None, finish(engine.NarrativeSequencer(root))


def campaign_run():
    """The first bundled level, with the world before frame 1 (so frame 1's event is placed exactly)."""
    return viewer.level_run()


def token(charge):
    m = charge["magnitude"]
    negative = charge["polarity"] != "positive"
    return ("\u2212" if negative else "+") + ("NaN/\u221e" if m is None else f"{m:g}")


def zones(world):
    stack = [world]
    while stack:
        zone = stack.pop()
        yield zone
        stack.extend(reversed(zone["sub_environments"]))


def paths(world):
    """The path of each zone, in the order of zones(): "" for the root, "/0/2" below."""
    stack = [(world, "")]
    while stack:
        zone, path = stack.pop()
        yield path
        stack.extend((sub, f"{path}/{i}") for i, sub in reversed(list(enumerate(zone["sub_environments"]))))


def cast_zone(event):
    return event["description"][len(event["agent_name"] + " executed operation in "):]


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    driver = viewer.launch_browser(tmp_path_factory.mktemp("chromium-profile"))
    yield driver
    driver.quit()


def zone_at(world, path):
    for i in path:
        world = world["sub_environments"][i]
    return world


def embedded(page) -> dict:
    """The run that a replay page holds."""
    return viewer.page_data(page.read_text(encoding="utf-8"))


def check_frame(shown, report, before, frame, verdict=None):
    """The page shows `report`, the world after `frame` (an entry of the embedded run, with the
    engine's record and words), marked where the record says the frame acted in `before`, the world
    before it (None when unknown); on the last frame, `verdict` replaces the report's status."""
    meta = report["meta"]
    status = {"solved": "SOLVED", "unsolved": "UNSOLVED", "limit": "FRAME LIMIT"}[verdict] if verdict else meta["status"]
    words, where = frame["told"]
    assert (shown["frame"], shown["status"], shown["caption"]) == \
        (str(meta["frame_index"]), status, words or meta["message"])
    event = meta["last_event"] or {"type": None}
    assert shown["event"] == [["type", event["type"] or "none"]] + ([["charges", where]] if where else [])
    world = list(zones(report))
    assert [z["id"] for z in shown["zones"]] == [z["id"] for z in world]
    assert [z["path"] for z in shown["zones"]] == list(paths(report))  # the boxes after a fold renumbered
    for box, zone in zip(shown["zones"], world):
        assert box["charges"] == [token(c) for c in zone["charges"]]
        assert box["agents"] == [a["visual_id"] for a in zone["agents"]]
        assert box["frozen"] == zone["is_time_frozen"]
    marked = [box for box in shown["zones"] if box["event"]]
    record = frame["record"]
    if record["action"] not in ("cast", "fold") or before is None:
        assert marked == []
        return
    (box,) = marked
    assert (box["path"], box["event"]) == ("".join(f"/{i}" for i in record["zone"]), record["action"])
    zone = zone_at(before, record["zone"])
    if record["action"] == "cast":
        agent = zone["agents"][record["index"]]
        [(agent_id, text)] = box["departed"]
        assert agent_id == agent["visual_id"] == event["visual_id"] and agent["name"] in text
        assert box["id"] == cast_zone(event)  # the report's own event names the same zone
    else:
        assert box["folded"] == [[zone["sub_environments"][record["index"]]["id"], words]]
        assert event["visual_id"] == "shield_" + box["folded"][0][0] and box["fresh"] == 1


@needs_browser
@pytest.mark.parametrize("make_run", [small_run, campaign_run], ids=["small", "campaign"])
def test_replay_follows_the_reports(browser, tmp_path, make_run):
    title, initial, reports = make_run()
    page = viewer.write_html(reports, tmp_path / "run.html", title, initial)
    html_text = page.read_text(encoding="utf-8")
    assert not re.search(r"(?i)(https?:|wss?:|ftp:)//|\b(src|href)\s*=|url\(|@import", html_text)
    browser.get(page.as_uri())

    assert browser.title == title
    assert browser.execute_script("return performance.getEntriesByType('resource').length") == 0
    shown = lambda: browser.execute_script(SNAPSHOT_JS)
    keys = ActionChains(browser)
    button = lambda name: browser.find_element(By.CSS_SELECTOR, f"[data-testid={name}]")
    decoded = browser.execute_script(
        "const out = []; for (let i = 1; i <= arguments[0]; i++) { orvPage.show(i); out.push(JSON.stringify(orvPage.world())); }"
        "orvPage.show(0); return out;", len(reports))
    assert [json.loads(d) for d in decoded] == json.loads(viewer.reports_json(reports))  # the changes give every report
    start = shown()  # frame 0: the world before frame 1, when the run has it
    assert (start["pos"], start["frame"], start["status"]) == (0, "0", "START")
    if initial is not None:
        assert [z["id"] for z in start["zones"]] == [z["id"] for z in zones(initial)]
    else:
        assert start["zones"] == [] and "not known" in start["caption"]
    verdict = viewer.judge(reports, initial).kind
    frames = embedded(page)["frames"]
    if make_run is campaign_run:  # a saved run is placed and told as the live run was
        live = Run(load_level(bundled_levels()[0])).frames()
        assert [[f["record"], f["told"]] for f in frames] == \
            [[{k: f.record[k] for k in ("action", "zone", "index")}, [f.words, f.where]] for f in live]
    befores = [initial] + reports[:-1]
    last = len(reports)
    assert {f["record"]["action"] for f in frames} >= {"cast", "fold", "finish"}
    for pos, report in enumerate(reports, 1):  # forwards, alternating the button and the arrow key
        button("next").click() if pos % 2 else keys.send_keys(Keys.ARROW_RIGHT).perform()
        state = shown()
        assert (state["pos"], state["scrubber"]) == (pos, pos)
        check_frame(state, report, befores[pos - 1], frames[pos - 1], verdict if pos == last else None)
        if pos == len(reports) // 2:
            ARTIFACTS.mkdir(exist_ok=True)
            browser.save_screenshot(str(ARTIFACTS / f"viewer_{make_run.__name__}.png"))
    for pos in reversed(range(1, last)):  # and back
        button("prev").click() if pos % 2 else keys.send_keys(Keys.ARROW_LEFT).perform()
        check_frame(shown(), reports[pos - 1], befores[pos - 1], frames[pos - 1])
    assert shown()["pos"] == 1
    browser.execute_script("const s = arguments[0]; s.value = arguments[1];"
                           "s.dispatchEvent(new Event('input'))", button("scrubber"), last // 2)
    check_frame(shown(), reports[last // 2 - 1], befores[last // 2 - 1], frames[last // 2 - 1])
    keys.send_keys(Keys.END).perform()
    assert shown()["pos"] == last
    keys.send_keys(Keys.HOME).perform()
    assert shown()["pos"] == 0
    Select(button("speed")).select_by_value("10")
    button("play").click()
    WebDriverWait(browser, 10).until(lambda _: shown()["pos"] == last and shown()["playing"] == "false")
    check_frame(shown(), reports[-1], befores[-1], frames[-1], verdict)


def test_embedded_reports_survive_hostile_text():
    reports = [{"id": HOSTILE, "charges": [{"magnitude": float("inf"), "polarity": "neutral", "visual_id": "</"}],
                "agents": [], "is_time_frozen": False, "sub_environments": [], "meta": {"message": "\u2028"}}]
    reports[0]["meta"] |= {"frame_index": 1, "status": "FINISHED", "last_event": None}
    page = viewer.render_html(reports, title=HOSTILE)
    data = re.search(r'<script type="application/json" id="orv-run".*?>(.*?)</script>', page, re.S).group(1)
    assert "</" not in data and "<!--" not in data
    reports[0]["charges"][0]["magnitude"] = None  # written as the engine writes it
    assert [frame["full"] for frame in viewer.page_data(page)["frames"]] == reports
    assert HOSTILE not in page.split("<style>")[0]  # the title is escaped in <title> and <h1>


HOSTILE_FRAMES = [  # (record, told, the caption the page shows: the words, else the report's message)
    ({"action": "cast", "zone": [5], "index": 0}, [None, 5], "message 1"),
    ({"action": "cast", "zone": [], "index": 3}, "words", "message 2"),
    ({"action": "fold", "zone": [0], "index": 0}, [7, None], "7"),
    ({"action": "fold", "zone": "/0", "index": "__proto__"}, None, "message 4"),
    ({"action": "cast", "zone": [0, -1], "index": -1}, [HOSTILE, ""], HOSTILE),
    ({"action": "cast", "zone": [1e300], "index": 0.5}, ["", {"a": 1}], "message 6"),
    ({"action": {"x": 1}, "zone": [], "index": 0}, [], "message 7"),
    (None, ["w"], "w"),
    ("cast", ["w"], "w"),
]


@needs_browser
def test_hostile_records_and_changes_neither_crash_nor_mislead(browser, tmp_path):
    """Records that point nowhere, words that are not text, and changes that do not fit the report
    before them: the page marks nothing it cannot place, and stops, saying so, at the frame it
    cannot build."""
    start = {"id": "root", "charges": [{"magnitude": 1.0, "polarity": "positive", "visual_id": "c"}],
             "agents": [{"name": "Plus Magician", "priority": 10, "state": "dormant", "visual_id": "p"}],
             "is_time_frozen": False, "sub_environments": [{"id": "s", "charges": [], "agents": [],
                                                            "is_time_frozen": False, "sub_environments": []}]}
    frames = []
    for i, (record, told, _) in enumerate(HOSTILE_FRAMES, 1):
        meta = {"frame_index": i, "status": "RUNNING", "message": f"message {i}", "last_event": None}
        frames.append({"changes": [{"op": "add" if i == 1 else "replace", "path": "/meta", "value": meta}],
                       "record": record, "told": told})
    frames.append({"changes": [{"op": "remove", "path": "/sub_environments/7"}], "record": None, "told": None})
    page = tmp_path / "hostile.html"
    page.write_text(viewer.page({"start": start, "frames": frames, "verdict": None}), encoding="utf-8")
    browser.get_log("browser")  # only what this page logs counts
    browser.get(page.as_uri())
    fault = browser.find_element(By.CSS_SELECTOR, "[data-testid=fault]")
    assert fault.text == 'Frame 10 cannot be shown: its changes do not fit the report before it: operation 1 ' \
                         '("remove" at "/sub_environments/7"): no place "7" in a list of 1'
    for pos, (_, _, caption) in enumerate(HOSTILE_FRAMES, 1):
        ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
        state = browser.execute_script(SNAPSHOT_JS)
        assert (state["pos"], state["caption"]) == (pos, caption)
        assert [z["id"] for z in state["zones"]] == ["root", "s"] and not any(z["event"] for z in state["zones"])
    ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
    assert browser.execute_script(SNAPSHOT_JS)["pos"] == len(HOSTILE_FRAMES)  # the last frame it could build
    assert [e for e in browser.get_log("browser") if e["level"] in ("SEVERE", "WARNING")] == []


ODD = [  # changes that fit the report before them but leave something that is not a zone, and the ids drawn
    ([{"op": "add", "path": "/charges/-", "value": {"magnitude": 2, "polarity": "negative"}}], ["root", "s"]),
    ([{"op": "replace", "path": "/charges/0/magnitude", "value": 9}], ["root", "s"]),  # a charge changed in place
    ([{"op": "replace", "path": "/sub_environments/0", "value": 7}], ["root", "undefined"]),
    ([{"op": "replace", "path": "/charges", "value": "abc"}, {"op": "add", "path": "/sub_environments/-", "value": None},
      {"op": "add", "path": "/sub_environments/-", "value": {"id": "t"}}], ["root", "undefined", "undefined", "t"]),
    ([{"op": "replace", "path": "/id", "value": {"x": 1}}, {"op": "add", "path": "/agents/-", "value": [1, 2]},
      {"op": "add", "path": "/sub_environments/2/charges", "value": [None, 3, {"magnitude": "x"}]}],
     ["[object Object]", "undefined", "undefined", "t"]),
    ([{"op": "replace", "path": "", "value": [1, 2]}], []),
    ([{"op": "replace", "path": "", "value": {"id": "back", "sub_environments": [{"id": "s"}]}}], ["back", "s"]),
]


@needs_browser
def test_changes_that_leave_no_zone_are_drawn_without_harm(browser, tmp_path):
    """Changes that fit but put a number, null or a list where a zone, its charges or its agents
    belong: each frame draws what it can, forward and back, and the page logs no error."""
    start = {"id": "root", "charges": [], "agents": [], "is_time_frozen": False,
             "sub_environments": [{"id": "s", "charges": [], "agents": [], "is_time_frozen": False, "sub_environments": []}]}
    frames = [{"changes": changes, "record": {"action": "cast", "zone": [0], "index": 0}, "told": ["odd", ""]}
              for changes, _ in ODD]
    page = tmp_path / "odd.html"
    page.write_text(viewer.page({"start": start, "frames": frames, "verdict": None}), encoding="utf-8")
    browser.get_log("browser")
    browser.get(page.as_uri())
    ids = "return [...document.querySelectorAll('[data-testid=zone]')].map(z => z.dataset.zoneId)"
    assert browser.execute_script(ids) == ["root", "s"]
    for pos, (_, drawn) in enumerate(ODD, 1):
        ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
        assert (browser.execute_script(SNAPSHOT_JS)["pos"], browser.execute_script(ids)) == (pos, drawn)
        if pos <= 2:  # the charge added, then changed where it stands
            assert browser.execute_script(SNAPSHOT_JS)["zones"][0]["charges"] == [{1: "\u22122", 2: "\u22129"}[pos]]
    for pos in reversed(range(len(ODD))):
        ActionChains(browser).send_keys(Keys.ARROW_LEFT).perform()
        assert browser.execute_script(ids) == (ODD[pos - 1][1] if pos else ["root", "s"])
    assert [e for e in browser.get_log("browser") if e["level"] in ("SEVERE", "WARNING")] == []


@needs_browser
def test_deep_and_wide_worlds_keep_their_shape(browser, tmp_path):
    """600 nested zones (past the HTML parser's nesting limit) and 300 siblings."""
    def zone(zone_id, subs=()):
        return {"id": zone_id, "charges": [{"magnitude": 1.0, "polarity": "positive", "visual_id": "c"}],
                "agents": [], "is_time_frozen": bool(subs), "sub_environments": list(subs)}
    deep = zone("d599")
    for i in reversed(range(599)):
        deep = zone(f"d{i}", [deep])
    world = zone("root", [deep] + [zone(f"w{i}") for i in range(300)])
    world["meta"] = {"frame_index": 1, "status": "RUNNING", "message": "", "last_event": None}
    browser.get(viewer.write_html([world], tmp_path / "big.html").as_uri() + "#frame=1")
    depth, count = browser.execute_script(
        "const z = document.querySelector('[data-zone-id=d599]'); let d = 0;"
        "for (let p = z.parentElement.closest('.zone'); p; p = p.parentElement.closest('.zone')) d++;"
        "return [d, document.querySelectorAll('[data-testid=zone]').length]")
    assert (depth, count) == (600, 901)


def play_html(tmp_path, world, *extra, check=True):
    """`orv play LEVEL --html PAGE` as a user runs it; returns the page and `orv check --json`."""
    level = tmp_path / "level.json"
    level.write_text(json.dumps(world))
    page = tmp_path / "page.html"
    subprocess.run([sys.executable, "-m", "orv", "play", str(level), "--html", str(page), *extra],
                   check=True, capture_output=True)
    if not check:
        return page, None
    done = subprocess.run([sys.executable, "-m", "orv", "check", "--json", str(level)], capture_output=True, text=True)
    return page, json.loads(done.stdout)


def zone_json(zid, charges=(), agents=(), subs=()):
    return {"id": zid, "agents": list(agents), "sub_environments": list(subs),
            "charges": [{"magnitude": m, "polarity": "positive", "visual_id": f"c{i}"} for i, m in enumerate(charges)]}


CARRIED = zone_json("root", subs=[zone_json("outer", [1], subs=[
    zone_json("inner", [2], [{"name": "equals", "visual_id": "goal", "target_value": 99}])])])

PANEL_JS = """
const q = s => document.querySelector(s);
return {pos: Number(q('[data-testid=viewer]').dataset.frame), status: q('[data-testid=status]').textContent,
  event: [...document.querySelectorAll('[data-testid=event] dd')].map(d => [d.dataset.field, d.textContent]),
  folded: [...document.querySelectorAll('[data-testid=collapsed-zone]')].map(g => g.textContent),
  caption: q('[data-testid=caption]').textContent,
  zones: [...document.querySelectorAll('[data-testid=zone]')].map(z => z.dataset.zoneId),
  verdict: q('[data-testid=verdict]') && q('[data-testid=verdict]').dataset.verdict,
  reasons: [...document.querySelectorAll('[data-testid=reason]')].map(r => r.textContent)};
"""


@needs_browser
def test_page_starts_before_frame_1_and_ends_on_the_verdict(browser, tmp_path):
    page, checked = play_html(tmp_path, CARRIED)
    browser.get(page.as_uri())
    panel = lambda: browser.execute_script(PANEL_JS)
    opened = panel()
    assert (opened["pos"], opened["status"], opened["zones"], opened["verdict"]) == \
        (0, "START", ["root", "outer", "inner"], None)
    ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
    folded = panel()
    assert folded["folded"] == [folded["caption"]] == ["zone outer folded into root"]  # the engine's words
    assert [row[0] for row in folded["event"]] == ["type", "charges"] and folded["event"][0][1] == "COLLAPSE_ZONE"
    assert "Chronomancer" not in browser.find_element(By.CSS_SELECTOR, "[data-testid=event]").text
    ActionChains(browser).send_keys(Keys.END).perform()
    end = panel()
    assert checked["verdict"] == "unsolved" and len(checked["reasons"]) == 2
    assert (end["pos"], end["status"], end["verdict"], end["reasons"]) == \
        (2, "UNSOLVED", checked["verdict"], checked["reasons"])


@needs_browser
def test_a_fold_among_siblings_of_one_id_names_the_one_that_went(browser, tmp_path):
    # The first b folds at frame 1; the second, with two charges and no agent, stays.
    twins = zone_json("root", subs=[zone_json("b", [5]), zone_json("b", [1, 2])])
    page, checked = play_html(tmp_path, twins)
    browser.get(page.as_uri())
    ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
    folded = browser.execute_script(PANEL_JS)["folded"]
    assert folded == ["zone root/b[1] folded into root"]
    assert checked["reasons"] == ["zone root/b is left with 2 charges"]


@needs_browser
def test_the_event_is_scrolled_into_view(browser, tmp_path):
    tall = [zone_json(f"z{i}", range(1, 40)) for i in range(40)]
    tall[-1]["agents"] = [{"name": "plus", "visual_id": "far"}]
    page, _ = play_html(tmp_path, zone_json("root", subs=tall), "--until", "1", check=False)
    browser.set_window_size(900, 700)
    browser.get(page.as_uri())
    ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
    seen = browser.execute_script(
        "const z = document.querySelector('.zone.hl'), s = document.querySelector('[data-testid=world]');"
        "const r = z.getBoundingClientRect(), b = s.getBoundingClientRect();"
        "return [z.dataset.zoneId, s.scrollHeight > s.clientHeight || document.body.scrollHeight > innerHeight,"
        "r.top >= b.top - 1 && r.top < Math.min(b.bottom, innerHeight) && r.top >= 0]")
    assert seen == ["z39", True, True]


@needs_browser
def test_a_long_run_of_a_wide_world_makes_a_small_page(browser, tmp_path):
    """1,100 zones folding one a frame until the frame limit: about 100 MB as whole reports, a page
    of about 0.2 MB with its run deflated, which the page inflates as it opens."""
    world = zone_json("root", subs=[zone_json(f"z{i}", [i]) for i in range(1100)])
    page, _ = play_html(tmp_path, world, check=False)
    assert page.stat().st_size < 400 * 1024 and 'data-encoding="deflate-raw"' in page.read_text()
    browser.get(page.as_uri() + "#frame=500")
    WebDriverWait(browser, 30).until(lambda driver: driver.execute_script("return !!window.orvPage"))
    shape = "orvPage.show(arguments[0]); const w = orvPage.world(); return [w.meta.frame_index, w.charges.length, " \
            "w.sub_environments.length, w.sub_environments[0].id, w.charges[w.charges.length - 1].magnitude]"
    assert browser.execute_script(shape, 500) == [500, 500, 600, "z500", 499.0]
    assert len(browser.find_elements(By.CSS_SELECTOR, "[data-testid=zone]")) == 601
    ActionChains(browser).send_keys(Keys.END).perform()
    assert browser.execute_script(shape, 1001) == [1000, 1000, 100, "z1000", 999.0]
    end = browser.execute_script(PANEL_JS)
    assert (end["verdict"], end["status"]) == ("limit", "FRAME LIMIT")
    assert end["reasons"][1] == "100 zones still to fold: z1000, z1001, z1002, z1003, z1004 and 95 more"


@pytest.mark.parametrize("frame", ["-1", "5"])
def test_frame_outside_the_run_is_refused(tmp_path, frame):
    done = subprocess.run([sys.executable, "-m", "orv.viewer", "01", "--screenshot", str(tmp_path / "x.png"),
                           "--frame", frame], capture_output=True, text=True)
    assert done.returncode == 2 and not (tmp_path / "x.png").exists()
    assert done.stderr == f"python -m orv.viewer: --frame {frame}: this run has frames 0 (the world before " \
                          "frame 1) to 4\n"


def test_screenshots_without_selenium_say_what_to_install(tmp_path):
    hide = "import sys; sys.modules['selenium'] = None; from orv.viewer import main; sys.exit(main(sys.argv[1:]))"
    done = subprocess.run([sys.executable, "-c", hide, "01", "--screenshot", str(tmp_path / "x.png")],
                          capture_output=True, text=True)
    assert done.returncode == 2 and "Traceback" not in done.stderr
    assert len(done.stderr.splitlines()) == 1 and "pip install '.[screenshot]'" in done.stderr
