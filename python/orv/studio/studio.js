// The studio: builds, plays and checks a level with the engine itself (its web build, inline in
// this page). The level being edited lives here as its JSON; every edit loads it into the engine
// again, and the run starts over. Worlds are drawn with the replay viewer's functions.
(function () {
  "use strict";

  var KINDS = [
    ["plus", "Plus Magician"], ["minus", "Minus Magician"], ["multiply", "Multiply Magician"],
    ["divide", "Divide Magician"], ["power", "Power Sorcerer"], ["root", "The Extractor"],
    ["abs", "The Purifier"], ["factorial", "The Replicator"], ["modulo", "The Scavenger"],
    ["log", "The Architect"], ["chronomancer", "Chronomancer"], ["equals", "Equals Gate"], ["judge", "The Judge"]
  ];
  var SIGN = { positive: "+", negative: "\u2212", neutral: "~" };

  function hook(id) { return document.querySelector('[data-testid="' + id + '"]'); }
  var ui = {};
  ["studio", "title", "frame", "status", "level-select", "open-file", "save-level", "save-run", "reset", "back",
   "step", "play", "speed", "verdict", "caption", "error", "world", "level-title", "level-description",
   "zone-select", "zone-id", "rename-zone", "remove-zone", "new-zone-id", "add-zone", "charge-list",
   "charge-magnitude", "charge-polarity", "charge-visual", "add-charge", "agent-list", "agent-kind",
   "agent-visual", "agent-target", "agent-rule", "add-agent"].forEach(function (id) { ui[id] = hook(id); });

  var levels = JSON.parse(document.getElementById("orv-levels").textContent);
  var start = JSON.parse(document.getElementById("orv-start").textContent);
  var engine = null;
  var level = null;      // {format, title, description, world}: what the designer edits
  var chosen = [];       // path (sub-zone indices) of the zone being edited
  var initial = null;    // the world before frame 1, as the engine wrote it
  var reports = [];      // parsed reports of the run so far
  var texts = [];        // the same, as the engine wrote them
  var tracker = null;
  var timer = null;

  function el(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined) node.textContent = String(text);
    return node;
  }

  function showError(text) {
    ui.error.hidden = !text;
    ui.error.textContent = text || "";
  }

  // ------------------------------------------------------------------ the level

  function zoneAt(path) {
    var zone = level.world;
    for (var i = 0; i < path.length; i++) zone = zone.sub_environments[path[i]];
    return zone;
  }

  // A level document from a level, a bare zone or a frame report; lists filled in.
  function asLevel(doc, fallbackTitle) {
    var world = doc && (doc.format !== undefined || doc.world !== undefined) ? doc.world : doc;
    var out = {
      format: 1,
      title: doc && typeof doc.title === "string" ? doc.title : fallbackTitle,
      description: doc && typeof doc.description === "string" ? doc.description : "",
      world: JSON.parse(JSON.stringify(world))
    };
    if (out.world && typeof out.world === "object") delete out.world.meta;
    var stack = [out.world];
    while (stack.length) {
      var zone = stack.pop();
      if (!zone || typeof zone !== "object") continue;
      ["charges", "agents", "sub_environments"].forEach(function (key) { if (zone[key] === undefined) zone[key] = []; });
      if (Array.isArray(zone.sub_environments)) zone.sub_environments.forEach(function (z) { stack.push(z); });
    }
    return out;
  }

  function levelText() { return JSON.stringify(level, null, 2) + "\n"; }

  // Gives the engine a level and reads its world back (the engine refuses worlds it cannot write).
  // On a refusal the engine gets the current level again, and the message is thrown.
  function loadIntoEngine(candidate) {
    try {
      engine.load(JSON.stringify(candidate));
      JSON.parse(engine.world());
    } catch (err) {
      if (level) engine.load(JSON.stringify(level));
      throw err;
    }
  }

  // Opens `doc`; the studio keeps its current level when the engine refuses it.
  function openLevel(doc, fallbackTitle) {
    var candidate = asLevel(doc, fallbackTitle);
    try {
      loadIntoEngine(candidate);
    } catch (err) {
      showError("The level was not opened: " + err.message);
      return false;
    }
    level = candidate;
    chosen = [];
    restart();
    return true;
  }

  // After an edit: the run starts over on the changed level, or the edit is taken back.
  function edit(change) {
    var before = JSON.stringify(level), path = chosen.slice();
    var message = change();
    if (message) { showError(message); return; }
    var changed = level;
    level = JSON.parse(before);
    try {
      loadIntoEngine(changed);
    } catch (err) {
      chosen = path;
      showError("The edit was not applied: " + err.message);
      drawEditor();
      return;
    }
    level = changed;
    restart();
  }

  // ------------------------------------------------------------------ the run

  function restart() {
    stop();
    engine.reset();
    initial = JSON.parse(engine.world());
    reports = [];
    texts = [];
    tracker = new window.OrvVerdict.Tracker(initial, engine.numbers);
    showError("");
    draw(true);
  }

  function ended() {
    return reports.length > 0 && reports[reports.length - 1].meta.status !== "RUNNING";
  }

  function advance() {
    var text = engine.step();
    var report = JSON.parse(text);
    texts.push(text);
    reports.push(report);
    tracker.add(report);
  }

  // One frame forward; false when the engine refused it.
  function step() {
    if (ended()) return true;
    var ok = true;
    try {
      advance();
    } catch (err) {
      stop();
      showError("The engine stopped: " + err.message);
      ok = false;
    }
    draw(false);
    return ok;
  }

  // One frame back: the run is replayed from the start up to the frame before.
  function back() {
    stop();
    var target = reports.length - 1;
    if (target < 0) return;
    engine.reset();
    reports = [];
    texts = [];
    tracker = new window.OrvVerdict.Tracker(initial, engine.numbers);
    try {
      while (reports.length < target) advance();
    } catch (err) {
      showError("The engine stopped: " + err.message);
    }
    draw(false);
  }

  function stop() {
    if (timer !== null) clearTimeout(timer);
    timer = null;
    ui.play.textContent = "\u25b6 play";
    ui.studio.setAttribute("data-playing", "false");
  }

  function tick() {
    timer = null;
    if (ended()) { stop(); return; }
    if (!step() || ended()) { stop(); return; }
    var fps = Number(ui.speed.value);
    timer = setTimeout(tick, fps > 0 ? 1000 / fps : 0);
  }

  function play() {
    if (timer !== null) { stop(); return; }
    if (ended()) restart();
    showError("");
    ui.play.textContent = "\u275a\u275a pause";
    ui.studio.setAttribute("data-playing", "true");
    tick();
  }

  // ------------------------------------------------------------------ drawing

  // Draws the current frame; `withEditor` also the editor (only the level's edits change it).
  function draw(withEditor) {
    var current = reports.length ? reports[reports.length - 1] : initial;
    var before = reports.length > 1 ? reports[reports.length - 2] : initial;
    var replay = window.OrvReplay;
    var hit = reports.length ? replay.locate(before, current, replay.sharedIds(initial)) : null;
    ui.world.replaceChildren(replay.buildWorld(current, hit));
    var meta = current.meta || { frame_index: 0, status: "READY", message: "Before frame 1: edit the level, then step or play." };
    ui.frame.textContent = String(meta.frame_index);
    ui.status.textContent = meta.status;
    ui.status.className = "status " + meta.status;
    ui.caption.textContent = meta.message;
    var verdict = tracker.verdict();
    ui.verdict.textContent = verdict.text;
    ui.verdict.setAttribute("data-status", verdict.status);
    ui.studio.setAttribute("data-frames", String(reports.length));
    ui.title.textContent = level.title;
    document.title = "orv studio \u2013 " + level.title;
    if (!reports.length) {
      var mark = ui.world.querySelector('[data-testid="zone"][data-path="' + chosen.map(function (i) { return "/" + i; }).join("") + '"]');
      if (mark) mark.className += " chosen";
    }
    if (withEditor) drawEditor();
  }

  function zoneLabel(path) {
    var zone = level.world, names = [zone.id];
    path.forEach(function (i) { zone = zone.sub_environments[i]; names.push(zone.id); });
    return names.join(" / ");
  }

  function removeButton(testid, action) {
    var button = el("button", null, "\u00d7");
    button.type = "button";
    button.setAttribute("data-testid", testid);
    button.title = "remove";
    button.addEventListener("click", action);
    return button;
  }

  function drawEditor() {
    ui["level-title"].value = level.title;
    ui["level-description"].value = level.description;
    var options = document.createDocumentFragment();
    var stack = [[level.world, []]];
    while (stack.length) {
      var item = stack.pop();
      var option = el("option", null, "\u00a0\u00a0".repeat(item[1].length) + zoneLabel(item[1]).split(" / ").pop());
      option.value = item[1].join("/");
      option.title = zoneLabel(item[1]);
      options.appendChild(option);
      for (var k = item[0].sub_environments.length - 1; k >= 0; k--) stack.push([item[0].sub_environments[k], item[1].concat([k])]);
    }
    ui["zone-select"].replaceChildren(options);
    ui["zone-select"].value = chosen.join("/");
    var zone = zoneAt(chosen);
    ui["zone-id"].value = zone.id;
    ui["remove-zone"].disabled = chosen.length === 0;

    var charges = document.createDocumentFragment();
    zone.charges.forEach(function (c, i) {
      var row = el("li");
      row.setAttribute("data-testid", "charge-item");
      var m = c.magnitude === null ? "NaN" : String(c.magnitude);
      row.appendChild(el("span", null, (SIGN[c.polarity] || "?") + m + " " + c.polarity + " \u00b7 " + c.visual_id));
      row.appendChild(removeButton("remove-charge", function () {
        edit(function () { zoneAt(chosen).charges.splice(i, 1); });
      }));
      charges.appendChild(row);
    });
    ui["charge-list"].replaceChildren(charges);

    var agents = document.createDocumentFragment();
    zone.agents.forEach(function (a, i) {
      var row = el("li");
      row.setAttribute("data-testid", "agent-item");
      var test = a.target_value !== undefined ? " " + (a.rule || "=") + " " + (a.target_value === null ? "NaN" : a.target_value) : "";
      row.appendChild(el("span", null, a.name + " (" + a.visual_id + ")" + test));
      row.appendChild(removeButton("remove-agent", function () {
        edit(function () { zoneAt(chosen).agents.splice(i, 1); });
      }));
      agents.appendChild(row);
    });
    ui["agent-list"].replaceChildren(agents);
    var kind = ui["agent-kind"].value;
    ui["agent-target"].disabled = kind !== "equals" && kind !== "judge";
    ui["agent-rule"].disabled = kind !== "judge";
  }

  // ------------------------------------------------------------------ editing

  function readNumber(input, what) {
    var text = input.value.trim();
    var value = Number(text);
    if (text === "" || !isFinite(value)) return { error: what + ": expected a number, found " + JSON.stringify(input.value) };
    return { value: value };
  }

  function readText(input, what) {
    var text = input.value;
    if (text.trim() === "") return { error: what + ": expected a name, found nothing" };
    return { value: text };
  }

  function addCharge() {
    var magnitude = readNumber(ui["charge-magnitude"], "magnitude");
    var visual = readText(ui["charge-visual"], "charge visual id");
    edit(function () {
      if (magnitude.error || visual.error) return magnitude.error || visual.error;
      zoneAt(chosen).charges.push({ magnitude: magnitude.value, polarity: ui["charge-polarity"].value, visual_id: visual.value });
    });
  }

  function addAgent() {
    var kind = ui["agent-kind"].value;
    var name = KINDS.filter(function (k) { return k[0] === kind; })[0][1];
    var visual = readText(ui["agent-visual"], "agent visual id");
    var gate = kind === "equals" || kind === "judge";
    var target = gate ? readNumber(ui["agent-target"], "gate target") : {};
    edit(function () {
      if (visual.error || target.error) return visual.error || target.error;
      var agent = { name: name, visual_id: visual.value };
      if (gate) agent.target_value = target.value;
      if (kind === "judge") agent.rule = ui["agent-rule"].value;
      zoneAt(chosen).agents.push(agent);
    });
  }

  function addZone() {
    var id = readText(ui["new-zone-id"], "sub-zone id");
    edit(function () {
      if (id.error) return id.error;
      var zone = zoneAt(chosen);
      zone.sub_environments.push({ id: id.value, charges: [], agents: [], sub_environments: [] });
      chosen = chosen.concat([zone.sub_environments.length - 1]);
      ui["new-zone-id"].value = "";
    });
  }

  function renameZone() {
    var id = readText(ui["zone-id"], "zone id");
    edit(function () {
      if (id.error) return id.error;
      zoneAt(chosen).id = id.value;
    });
  }

  function removeZone() {
    if (!chosen.length) return;
    edit(function () {
      var parent = zoneAt(chosen.slice(0, -1));
      parent.sub_environments.splice(chosen[chosen.length - 1], 1);
      chosen = chosen.slice(0, -1);
    });
  }

  // ------------------------------------------------------------------ files

  function save(name, text, type) {
    var link = el("a");
    link.href = URL.createObjectURL(new Blob([text], { type: type }));
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 60000);
  }

  function fileStem() {
    return (level.title || "level").toLowerCase().replace(/[^a-z0-9]+/g, "_").replace(/^_+|_+$/g, "") || "level";
  }

  function openFile() {
    var file = ui["open-file"].files[0];
    if (!file) return;
    var reader = new FileReader();
    reader.onload = function () {
      var doc;
      try {
        doc = JSON.parse(String(reader.result));
      } catch (err) {
        showError(file.name + ": expected a level (JSON), found invalid JSON: " + err.message);
        return;
      }
      if (openLevel(doc, file.name.replace(/\.json$/i, ""))) ui["level-select"].value = "";
    };
    reader.onerror = function () { showError(file.name + ": the file could not be read"); };
    reader.readAsText(file);
    ui["open-file"].value = "";
  }

  // ------------------------------------------------------------------ wiring

  function wire() {
    var pick = document.createDocumentFragment();
    var custom = el("option", null, "(the level being edited)");
    custom.value = "";
    pick.appendChild(custom);
    levels.forEach(function (entry, i) {
      var option = el("option", null, entry.name + " \u2013 " + entry.level.title);
      option.value = String(i);
      pick.appendChild(option);
    });
    ui["level-select"].replaceChildren(pick);
    var kinds = document.createDocumentFragment();
    KINDS.forEach(function (k) {
      var option = el("option", null, k[1]);
      option.value = k[0];
      kinds.appendChild(option);
    });
    ui["agent-kind"].replaceChildren(kinds);

    ui["level-select"].addEventListener("change", function () {
      var i = ui["level-select"].value;
      if (i !== "") openLevel(levels[Number(i)].level, levels[Number(i)].name);
    });
    ui["open-file"].addEventListener("change", openFile);
    ui["save-level"].addEventListener("click", function () { save(fileStem() + ".json", levelText(), "application/json"); });
    ui["save-run"].addEventListener("click", function () {
      save(fileStem() + ".jsonl", texts.map(function (t) { return t + "\n"; }).join(""), "application/x-ndjson");
    });
    ui.reset.addEventListener("click", restart);
    ui.back.addEventListener("click", back);
    ui.step.addEventListener("click", function () { stop(); step(); });
    ui.play.addEventListener("click", play);
    ui["level-title"].addEventListener("change", function () { level.title = ui["level-title"].value; draw(false); });
    ui["level-description"].addEventListener("change", function () { level.description = ui["level-description"].value; });
    ui["zone-select"].addEventListener("change", function () {
      var value = ui["zone-select"].value;
      chosen = value === "" ? [] : value.split("/").map(Number);
      draw(true);
    });
    ui.world.addEventListener("click", function (e) {
      if (reports.length) return;
      var box = e.target.closest && e.target.closest('[data-testid="zone"]');
      if (!box) return;
      var path = box.getAttribute("data-path");
      chosen = path ? path.slice(1).split("/").map(Number) : [];
      draw(true);
    });
    ui["agent-kind"].addEventListener("change", drawEditor);
    ui["rename-zone"].addEventListener("click", renameZone);
    ui["remove-zone"].addEventListener("click", removeZone);
    ui["add-zone"].addEventListener("click", addZone);
    ui["add-charge"].addEventListener("click", addCharge);
    ui["add-agent"].addEventListener("click", addAgent);
  }

  wire();
  window.createOrvEngine().then(function (module) {
    engine = module;
    if (!openLevel(start.level, start.name)) {
      openLevel(levels[0].level, levels[0].name);
    }
    var index = levels.map(function (entry) { return JSON.stringify(entry.level); }).indexOf(JSON.stringify(start.level));
    ui["level-select"].value = index >= 0 ? String(index) : "";
    ui.studio.setAttribute("data-ready", "true");
  }, function (err) {
    showError("The engine did not start: " + (err && err.message ? err.message : err));
  });

  // For scripts that drive the page (tests, benchmarks): the level and the run as files hold them.
  window.orvStudio = {
    levelText: function () { return levelText(); },
    runText: function () { return texts.map(function (t) { return t + "\n"; }).join(""); },
    verdict: function () { return tracker.verdict(); },
    open: function (doc, name) { return openLevel(doc, name || "level"); },
    step: function () { step(); return reports.length; }
  };
})();
