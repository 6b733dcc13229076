// The studio: builds, plays and checks a level with the engine itself (its web build, inline in
// this page). The engine reads every level the page opens and writes every level it saves; the
// page keeps the level being edited as the engine wrote it, and every edit gives it to the engine
// again, so the run starts over. Each frame is placed, told and judged by the engine; worlds are
// drawn with the replay viewer's functions.
(function () {
  "use strict";

  var SIGN = { positive: "+", negative: "\u2212", neutral: "~" };

  function hook(id) { return document.querySelector('[data-testid="' + id + '"]'); }
  var ui = {};
  ["studio", "title", "frame", "status", "level-select", "open-file", "save-level", "save-run", "reset", "back",
   "step", "play", "speed", "verdict-box", "caption", "where", "error", "world", "level-title", "level-description",
   "zone-select", "zone-id", "rename-zone", "remove-zone", "new-zone-id", "add-zone", "charge-list",
   "charge-magnitude", "charge-polarity", "charge-visual", "add-charge", "agent-list", "agent-kind",
   "agent-visual", "agent-target", "agent-rule", "add-agent"].forEach(function (id) { ui[id] = hook(id); });

  // The bundled levels and the one to open first: {name, text}, texts as the engine writes levels.
  var levels = JSON.parse(document.getElementById("orv-levels").textContent);
  var start = JSON.parse(document.getElementById("orv-start").textContent);
  var engine = null;
  var kinds = [];        // the engine's agent kinds: {kind, className, name, priority, gate, takesRule, method}
  var level = null;      // the level file as the engine wrote it, as edited: what the designer edits
  var loadedText = null; // the level text that the engine holds for `level`
  var chosen = [];       // path (sub-zone indices) of the zone being edited
  var initial = null;    // the world before frame 1, as the engine wrote it
  var reports = [];      // parsed reports of the run so far; the engine stands at their last frame
  var texts = [];        // the same, as the engine wrote them
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

  function listOf(value) { return Array.isArray(value) ? value : []; }

  // ------------------------------------------------------------------ the level

  function zoneAt(path) {
    var zone = level.world;
    for (var i = 0; i < path.length; i++) zone = zone.sub_environments[path[i]];
    return zone;
  }

  // A magnitude or target of the level: a number as JSON.parse read it from the engine's text
  // (-0 included), or the engine's string for a value JSON has no number for ("inf", "-inf", "nan").
  function numberToken(value) {
    if (typeof value === "string" || value === null) return JSON.stringify(value);
    if (Object.is(value, -0)) return "-0.0";
    if (!isFinite(value)) return JSON.stringify(isNaN(value) ? "nan" : value > 0 ? "inf" : "-inf");
    return String(value);  // the shortest text that reads back as the same number
  }

  function shownNumber(value) {
    if (value === null) return "nan";
    return Object.is(value, -0) ? "-0" : String(value);
  }

  function Raw(text) { this.text = text; }

  // The edited level as a level file for the engine: every member as the engine wrote it (a
  // puzzle's pieces and accepting zones included) or as the editor set it, every number exact.
  // Written with a stack of its own, so that any depth of zones is written.
  function modelText(model) {
    var out = [], stack = [model];
    while (stack.length) {
      var item = stack.pop(), k;
      if (item instanceof Raw) {
        out.push(item.text);
      } else if (Array.isArray(item)) {
        out.push("[");
        stack.push(new Raw("]"));
        for (k = item.length - 1; k >= 0; k--) {
          stack.push(item[k]);
          if (k) stack.push(new Raw(", "));
        }
      } else if (item !== null && typeof item === "object") {
        var keys = Object.keys(item);
        out.push("{");
        stack.push(new Raw("}"));
        for (k = keys.length - 1; k >= 0; k--) {
          stack.push(item[keys[k]], new Raw(JSON.stringify(keys[k]) + ": "));
          if (k) stack.push(new Raw(", "));
        }
      } else {
        out.push(typeof item === "number" ? numberToken(item) : JSON.stringify(item));
      }
    }
    return out.join("") + "\n";
  }

  // Gives the engine a level text (a string or a file's bytes) and returns its world's JSON, since
  // the engine refuses to write a world nested too deep. A refused text leaves the engine as it
  // was; for a world it cannot write, the engine is given the current level again. The engine's
  // message is thrown.
  function loadIntoEngine(text) {
    engine.load(text);
    try {
      return engine.world();
    } catch (err) {
      restoreEngine();
      throw err;
    }
  }

  // The engine back on the current level, at the frame shown.
  function restoreEngine() {
    if (loadedText === null) return;
    engine.load(loadedText);
    stepEngine(reports.length);
  }

  function stepEngine(frames) {
    for (var i = 0; i < frames; i++) engine.step();
  }

  // Opens a level text (a string, or a file's bytes); the studio keeps its current level when the
  // engine refuses it, and says why in the engine's words.
  function openText(text, fallbackTitle) {
    var world, saved;
    try {
      world = loadIntoEngine(text);
    } catch (err) {
      showError("The level was not opened: " + err.message);
      return false;
    }
    try {
      // The engine has read the text, so it is one JSON document: a level, a bare zone or a report.
      var doc = JSON.parse(typeof text === "string" ? text : new TextDecoder().decode(text));
      saved = engine.levelText(typeof doc.title === "string" ? doc.title : fallbackTitle,
                               typeof doc.description === "string" ? doc.description : "");
    } catch (err) {
      restoreEngine();
      showError("The level was not opened: " + err.message);
      return false;
    }
    level = JSON.parse(saved);
    loadedText = saved;
    chosen = [];
    restart(world);
    return true;
  }

  // After an edit: the run starts over on the changed level, or the edit is taken back.
  function edit(change) {
    var path = chosen.slice();
    var message = change();
    if (message) { showError(message); return; }
    var text = modelText(level), world;
    try {
      world = loadIntoEngine(text);
    } catch (err) {
      var title = level.title, description = level.description;
      level = JSON.parse(loadedText);
      level.title = title;
      level.description = description;
      chosen = path;
      showError("The edit was not applied: " + err.message);
      drawEditor();
      return;
    }
    loadedText = text;
    restart(world);
  }

  // The level as the engine writes it: its world before frame 1, which the engine is taken back
  // to and then brought again to the frame shown.
  function savedLevelText() {
    var shown = reports.length;
    if (shown) engine.reset();
    try {
      return engine.levelText(level.title, level.description);
    } finally {
      stepEngine(shown);
    }
  }

  // ------------------------------------------------------------------ the run

  // The run from its start; `world` is the engine's world before frame 1 when the caller has it.
  function restart(world) {
    stop();
    engine.reset();
    initial = JSON.parse(typeof world === "string" ? world : engine.world());
    reports = [];
    texts = [];
    showError("");
    draw(true);
  }

  function ended() {
    return reports.length > 0 && reports[reports.length - 1].meta.status !== "RUNNING";
  }

  function advance() {
    var text = engine.step();
    reports.push(JSON.parse(text));
    texts.push(text);
  }

  // Runs the level again from its start up to `frames` frames.
  function replay(frames) {
    engine.reset();
    reports = [];
    texts = [];
    while (reports.length < frames) advance();
  }

  // One frame forward; false when the engine refused it. A frame whose report is lost may still
  // have been applied, so the run is replayed up to the frame shown, where the engine stands again.
  function step() {
    if (ended()) return true;
    var ok = true;
    try {
      advance();
    } catch (err) {
      stop();
      showError("The engine stopped: " + err.message);
      ok = false;
      try {
        replay(reports.length);
      } catch (again) {
        showError("The engine stopped: " + again.message);
      }
    }
    draw(false);
    return ok;
  }

  // One frame back: the run is replayed from the start up to the frame before.
  function back() {
    stop();
    if (!reports.length) return;
    try {
      replay(reports.length - 1);
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

  // How the run stands, as the engine judges it: the viewer's verdict once the run has ended.
  function verdictNode() {
    var verdict = engine.verdict();
    if (verdict.verdict !== "paused") return window.OrvReplay.verdictNode(verdict);
    var running = verdict.frames > 0;
    var node = el("p", "verdict " + (running ? "running" : "ready"), running ? "running, frame " + verdict.frames : "not run yet");
    node.setAttribute("data-testid", "verdict");
    node.setAttribute("data-verdict", running ? "running" : "ready");
    return node;
  }

  // Draws the current frame; `withEditor` also the editor (only the level's edits change it).
  function draw(withEditor) {
    var current = reports.length ? reports[reports.length - 1] : initial;
    var before = reports.length > 1 ? reports[reports.length - 2] : initial;
    var told = reports.length ? engine.told() : { words: "", where: "" };
    var hit = reports.length ? window.OrvReplay.place(before, current, engine.record(), told.words) : null;
    ui.world.replaceChildren(window.OrvReplay.buildWorld(current, hit));
    var meta = current.meta || { frame_index: 0, status: "READY", message: "Before frame 1: edit the level, then step or play." };
    ui.frame.textContent = String(meta.frame_index);
    ui.status.textContent = meta.status;
    ui.status.className = "status " + meta.status;
    // The frame as the engine tells it; a frame it could not follow keeps its report's message.
    ui.caption.textContent = told.words || meta.message;
    ui.where.textContent = told.where;
    ui["verdict-box"].replaceChildren(verdictNode());
    ui.studio.setAttribute("data-frames", String(reports.length));
    ui.title.textContent = level.title;
    document.title = "orv studio \u2013 " + level.title;
    if (!reports.length) {
      var mark = ui.world.querySelector('[data-testid="zone"][data-path="' + chosen.map(function (i) { return "/" + i; }).join("") + '"]');
      if (mark) mark.className += " chosen";
    }
    if (withEditor) drawEditor();
  }

  function removeButton(testid, action) {
    var button = el("button", null, "\u00d7");
    button.type = "button";
    button.setAttribute("data-testid", testid);
    button.title = "remove";
    button.addEventListener("click", action);
    return button;
  }

  function kindOf(value) {
    return kinds.filter(function (k) { return k.kind === value; })[0] || null;
  }

  var SHOWN_DEPTH = 12;  // indentation steps and path ids shown in the zone list

  function drawEditor() {
    ui["level-title"].value = level.title;
    ui["level-description"].value = level.description;
    var options = document.createDocumentFragment();
    // [zone, path, the ids along the path (the last SHOWN_DEPTH)]
    var stack = [[level.world, [], [String(level.world.id)]]];
    while (stack.length) {
      var item = stack.pop(), depth = item[1].length;
      var option = el("option", null, "\u00a0\u00a0".repeat(Math.min(depth, SHOWN_DEPTH)) + String(item[0].id));
      option.value = item[1].join("/");
      option.title = (depth >= SHOWN_DEPTH ? "\u2026 / " : "") + item[2].join(" / ");
      options.appendChild(option);
      var subs = listOf(item[0].sub_environments);
      for (var k = subs.length - 1; k >= 0; k--) {
        stack.push([subs[k], item[1].concat([k]), item[2].slice(-(SHOWN_DEPTH - 1)).concat([String(subs[k].id)])]);
      }
    }
    ui["zone-select"].replaceChildren(options);
    ui["zone-select"].value = chosen.join("/");
    var zone = zoneAt(chosen);
    ui["zone-id"].value = zone.id;
    ui["remove-zone"].disabled = chosen.length === 0;

    var charges = document.createDocumentFragment();
    listOf(zone.charges).forEach(function (c, i) {
      var row = el("li");
      row.setAttribute("data-testid", "charge-item");
      row.appendChild(el("span", null, (SIGN[c.polarity] || "?") + shownNumber(c.magnitude) + " " + c.polarity + " \u00b7 " + c.visual_id));
      row.appendChild(removeButton("remove-charge", function () {
        edit(function () { zoneAt(chosen).charges.splice(i, 1); });
      }));
      charges.appendChild(row);
    });
    ui["charge-list"].replaceChildren(charges);

    var agents = document.createDocumentFragment();
    listOf(zone.agents).forEach(function (a, i) {
      var row = el("li");
      row.setAttribute("data-testid", "agent-item");
      var test = a.target_value !== undefined ? " " + (a.rule || "=") + " " + shownNumber(a.target_value) : "";
      row.appendChild(el("span", null, a.name + " (" + a.visual_id + ")" + test));
      row.appendChild(removeButton("remove-agent", function () {
        edit(function () { zoneAt(chosen).agents.splice(i, 1); });
      }));
      agents.appendChild(row);
    });
    ui["agent-list"].replaceChildren(agents);
    var kind = kindOf(ui["agent-kind"].value);
    ui["agent-target"].disabled = !(kind && kind.gate);
    ui["agent-rule"].disabled = !(kind && kind.takesRule);
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

  // The lists of a zone that the engine's level text may leave out, made present for an edit.
  function lists(zone) {
    ["charges", "agents", "sub_environments"].forEach(function (key) { if (!Array.isArray(zone[key])) zone[key] = []; });
    return zone;
  }

  function addCharge() {
    var magnitude = readNumber(ui["charge-magnitude"], "magnitude");
    var visual = readText(ui["charge-visual"], "charge visual id");
    edit(function () {
      if (magnitude.error || visual.error) return magnitude.error || visual.error;
      lists(zoneAt(chosen)).charges.push({ magnitude: magnitude.value, polarity: ui["charge-polarity"].value, visual_id: visual.value });
    });
  }

  function addAgent() {
    var kind = kindOf(ui["agent-kind"].value);
    var visual = readText(ui["agent-visual"], "agent visual id");
    var target = kind && kind.gate ? readNumber(ui["agent-target"], "gate target") : {};
    edit(function () {
      if (!kind) return "agent kind: expected one of the engine's kinds, found " + JSON.stringify(ui["agent-kind"].value);
      if (visual.error || target.error) return visual.error || target.error;
      var agent = { name: kind.name, visual_id: visual.value };
      if (kind.gate) agent.target_value = target.value;
      if (kind.takesRule) agent.rule = ui["agent-rule"].value;
      lists(zoneAt(chosen)).agents.push(agent);
    });
  }

  function addZone() {
    var id = readText(ui["new-zone-id"], "sub-zone id");
    edit(function () {
      if (id.error) return id.error;
      var zone = lists(zoneAt(chosen));
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

  // A file is handed to the engine byte for byte: it alone says what is wrong with one.
  function openFile() {
    var file = ui["open-file"].files[0];
    if (!file) return;
    var reader = new FileReader();
    reader.onload = function () {
      if (openText(new Uint8Array(reader.result), file.name.replace(/\.json$/i, ""))) ui["level-select"].value = "";
    };
    reader.onerror = function () { showError(file.name + ": the file could not be read"); };
    reader.readAsArrayBuffer(file);
    ui["open-file"].value = "";
  }

  // ------------------------------------------------------------------ wiring

  function wire() {
    var pick = document.createDocumentFragment();
    var custom = el("option", null, "(the level being edited)");
    custom.value = "";
    pick.appendChild(custom);
    levels.forEach(function (entry, i) {
      var option = el("option", null, entry.name + " \u2013 " + JSON.parse(entry.text).title);
      option.value = String(i);
      pick.appendChild(option);
    });
    ui["level-select"].replaceChildren(pick);
    var choices = document.createDocumentFragment();
    kinds.forEach(function (k) {
      var option = el("option", null, k.name);
      option.value = k.kind;
      choices.appendChild(option);
    });
    ui["agent-kind"].replaceChildren(choices);

    ui["level-select"].addEventListener("change", function () {
      var i = ui["level-select"].value;
      if (i !== "") openText(levels[Number(i)].text, levels[Number(i)].name);
    });
    ui["open-file"].addEventListener("change", openFile);
    ui["save-level"].addEventListener("click", function () {
      var text;
      try {
        text = savedLevelText();
      } catch (err) {
        showError("The level was not saved: " + err.message);
        return;
      }
      save(fileStem() + ".json", text, "application/json");
    });
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

  window.createOrvEngine().then(function (module) {
    engine = module;
    kinds = engine.kinds();
    wire();
    if (!openText(start.text, start.name)) openText(levels[0].text, levels[0].name);
    var index = levels.map(function (entry) { return entry.text; }).indexOf(start.text);
    ui["level-select"].value = index >= 0 ? String(index) : "";
    ui.studio.setAttribute("data-ready", "true");
  }).catch(function (err) {
    showError("The engine did not start: " + (err && err.message ? err.message : err));
  });

  // For scripts that drive the page (tests, benchmarks): the level and the run as files hold them.
  window.orvStudio = {
    levelText: function () { return savedLevelText(); },
    runText: function () { return texts.map(function (t) { return t + "\n"; }).join(""); },
    verdict: function () { return engine.verdict(); },
    open: function (text, name) { return openText(text, name || "level"); },
    step: function () { step(); return reports.length; }
  };
})();
