// The studio: builds, plays and checks a level with the engine itself (its web build, inline in
// this page). The engine reads every level the page opens and writes every level it saves; the
// page keeps the level being edited as the engine wrote it, and every edit gives it to the engine
// again, so the run starts over. Each frame is placed, told and judged by the engine and comes as
// its changes, which the replay viewer's Track (window.OrvReplay) applies to the page's copy of the
// world and its Drawing redraws where they touched; a step back applies the changes that undo a
// frame. The editor (editor.js, window.OrvEditor) changes the level through the core given to it below.
(function () {
  "use strict";

  function hook(id) { return document.querySelector('[data-testid="' + id + '"]'); }
  var ui = {};
  ["studio", "title", "frame", "status", "level-select", "open-file", "save-level", "save-run", "reset", "back",
   "step", "play", "speed", "verdict-box", "caption", "where", "error", "world"].forEach(function (id) { ui[id] = hook(id); });

  // The bundled levels and the one to open first: {name, text}, texts as the engine writes levels.
  var levels = JSON.parse(document.getElementById("orv-levels").textContent);
  var start = JSON.parse(document.getElementById("orv-start").textContent);
  var engine = null;
  var kinds = [];        // the engine's agent kinds: {kind, className, name, priority, gate, takesRule, method}
  var level = null;      // the level file as the engine wrote it, as edited: what the designer edits
  var loadedText = null; // the level text that the engine holds for `level`
  var editor = null;     // the editor's hooks: drawn, opened, saved, start
  var player = null;     // play mode's hooks (play.js): drawn
  var track = null;      // the run: the world at the frame shown, and every frame run so far (OrvReplay.Track)
  var drawing = null;    // the world drawn on the stage (OrvReplay.Drawing)
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

  // A magnitude or target of the level: a number as JSON.parse read it from the engine's text
  // (-0 included), or the engine's string for a value JSON has no number for ("inf", "-inf", "nan").
  function numberToken(value) {
    if (typeof value === "string" || value === null) return JSON.stringify(value);
    if (Object.is(value, -0)) return "-0.0";
    if (!isFinite(value)) return JSON.stringify(isNaN(value) ? "nan" : value > 0 ? "inf" : "-inf");
    return String(value);  // the shortest text that reads back as the same number
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

  // The engine back on the current level, at the last frame run.
  function restoreEngine() {
    if (loadedText === null) return;
    engine.load(loadedText);
    catchUp(0);
  }

  // The engine, standing at frame `from` of the run, run on to its last frame run (which a step back
  // leaves it at): frames run as changes, which cost what they changed.
  function catchUp(from) {
    for (var i = from; i < track.frames.length; i++) engine.stepChanges();
  }

  // The frame shown: 0 for the world before frame 1.
  function shown() { return track ? track.pos : 0; }

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
    var previous = level;
    level = JSON.parse(saved);
    loadedText = saved;
    if (editor) editor.opened(previous, saved.length);
    restart(world);
    return true;
  }

  // The editor's level in place of the current one: the engine reads it and the run starts over
  // (`rerun`), or only the title or description changed. Returns the level's text; throws the
  // engine's refusal, the current level staying.
  function setLevel(next, rerun) {
    var text = modelText(next);
    if (!rerun) {
      level = next;
      draw(false);
      return text;
    }
    var world = loadIntoEngine(text);
    level = next;
    loadedText = text;
    restart(world);
    return text;
  }

  // The level as the engine writes it: its world before frame 1, which the engine is taken back
  // to and then brought again to the last frame run.
  function savedLevelText() {
    var ran = track ? track.frames.length : 0;
    if (ran) engine.reset();
    try {
      return engine.levelText(level.title, level.description);
    } finally {
      if (ran) catchUp(0);
    }
  }

  // ------------------------------------------------------------------ the run

  // The run from its start; `world` is the engine's world before frame 1 when the caller has it.
  function restart(world) {
    stop();
    engine.reset();
    track = new window.OrvReplay.Track(JSON.parse(typeof world === "string" ? world : engine.world()));
    drawing.redraw(track.world);
    showError("");
    draw(true);
  }

  // Whether the frame shown ends the run (FINISHED or ERROR).
  function ended() {
    var meta = track.pos ? track.world.meta : null;
    return !!meta && meta.status !== "RUNNING";
  }

  // The engine's next frame, kept with its record, its words and the verdict after it (and the
  // verdict's heading once the run has ended).
  function runFrame() {
    var changes = JSON.parse(engine.stepChanges()), told = engine.told();
    var frame = track.add(changes, engine.record(), [told.words, told.where]);
    frame.verdict = engine.verdict();
    if (frame.verdict.verdict !== "paused") frame.heading = engine.summary()[0];
  }

  // One frame forward: the next frame already run (after a step back), or the engine's next one;
  // false when the engine refused it. The frames after the one shown are then forgotten and the
  // engine is run again up to it, since a frame that failed may still have been applied.
  function step() {
    if (ended()) return true;
    var ok = true;
    try {
      if (track.pos === track.frames.length) runFrame();
      track.forward(drawing);
    } catch (err) {
      stop();
      showError("The engine stopped: " + err.message);
      ok = false;
      track.frames.length = track.pos;
      try {
        engine.reset();
        catchUp(0);
      } catch (again) {
        showError("The engine stopped: " + again.message);
      }
    }
    draw(false);
    return ok;
  }

  // One frame back, by the changes that undo it; the engine stays where it is.
  function back() {
    stop();
    if (!track.pos) return;
    try {
      track.back(drawing);
    } catch (err) {
      showError("The world could not be taken back a frame: " + err.message);
      drawing.draw(track.world, track.hit());
    }
    draw(false);
  }

  // The reports of the run up to the frame shown, a line each, as the engine writes them: the
  // engine runs them again from the start and is then brought back to the last frame run. Throws
  // the engine's refusal (a report nested too deep to write).
  function runText() {
    var upTo = shown(), lines = [], fault = null;
    engine.reset();
    try {
      while (lines.length < upTo) lines.push(engine.step() + "\n");
    } catch (err) {
      fault = err;
      engine.reset();
    }
    catchUp(fault ? 0 : upTo);
    if (fault) throw fault;
    return lines.join("");
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

  // How the run stands at the frame shown, as the engine judged it when it ran that frame:
  // {status: "ready", "running", or once the run has ended the engine's verdict ("solved",
  // "unsolved", "limit"), frames, reasons}.
  function standing() {
    var verdict = shown() ? track.frames[shown() - 1].verdict : { verdict: "paused", frames: 0, reasons: [] };
    var status = verdict.verdict !== "paused" ? verdict.verdict : verdict.frames > 0 ? "running" : "ready";
    return { status: status, word: verdict.word, frames: verdict.frames, reasons: verdict.reasons };
  }

  // The verdict drawn as the replay page draws it once the run has ended, with the engine's heading.
  function verdictNode() {
    var now = standing();
    if (now.status !== "ready" && now.status !== "running") {
      return window.OrvReplay.verdictNode({ verdict: now.status, frames: now.frames, reasons: now.reasons },
                                          track.frames[shown() - 1].heading);
    }
    var node = el("p", "verdict " + now.status, now.status === "running" ? "running, frame " + now.frames : "not run yet");
    node.setAttribute("data-testid", "verdict");
    node.setAttribute("data-verdict", now.status);
    return node;
  }

  // Draws what goes with the frame shown (the world is drawn as the run moves); `withEditor` also
  // the editor (only the level's edits change it).
  function draw(withEditor) {
    var told = shown() ? track.frames[shown() - 1].told : ["", ""];
    var meta = shown() && track.world.meta ||
      { frame_index: 0, status: "READY", message: "Before frame 1: edit the level, then step or play." };
    ui.frame.textContent = String(meta.frame_index);
    ui.status.textContent = meta.status;
    ui.status.className = "status " + meta.status;
    // The frame as the engine tells it; a frame it could not follow keeps its report's message.
    ui.caption.textContent = told[0] || meta.message;
    ui.where.textContent = told[1];
    ui["verdict-box"].replaceChildren(verdictNode());
    ui.studio.setAttribute("data-frames", String(shown()));
    ui.title.textContent = level.title;
    document.title = "orv studio \u2013 " + level.title;
    controls();
    if (editor) editor.drawn(withEditor);
    if (player) player.drawn();
  }

  // Controls that would do nothing are off (back and reset before frame 1, step once the run has
  // ended), and an ended run's status is its verdict.
  function controls() {
    ui.back.disabled = shown() === 0;
    ui.reset.disabled = shown() === 0;
    ui.step.disabled = ended();
    if (ended()) {
      var word = standing().word;
      ui.status.textContent = word;
      ui.status.className = "status " + word.replace(/[^A-Z]/g, "");
    }
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

  // The page's lists of the Judge's rules hold the engine's rule texts; a list starts at ">=" (a
  // Judge is most often a floor, as the editor makes one), or at what it held.
  function fillRules(rules) {
    ["agent-rule", "edit-rule"].forEach(function (id) {
      var list = hook(id), chosen = list && list.value;
      if (!list) return;
      list.replaceChildren.apply(list, rules.map(function (rule) {
        var option = el("option", null, rule);
        option.value = rule;
        return option;
      }));
      list.value = rules.indexOf(chosen) >= 0 ? chosen : rules.indexOf(">=") >= 0 ? ">=" : rules[0];
    });
  }

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
      editor.saved();
    });
    ui["save-run"].addEventListener("click", function () {
      var text;
      try {
        text = runText();
      } catch (err) {
        showError("The run was not saved: " + err.message);
        return;
      }
      save(fileStem() + ".jsonl", text, "application/x-ndjson");
    });
    ui.reset.addEventListener("click", restart);
    ui.back.addEventListener("click", back);
    ui.step.addEventListener("click", function () { stop(); step(); });
    ui.play.addEventListener("click", play);
  }

  window.createOrvEngine().then(function (module) {
    engine = module;
    kinds = engine.kinds();
    drawing = new window.OrvReplay.Drawing(ui.world, "");
    fillRules(engine.judgeRules());
    wire();
    editor = window.OrvEditor({
      kinds: kinds,
      level: function () { return level; },
      setLevel: setLevel,
      open: function (text, name) { return openText(text, name); },
      levelText: savedLevelText,
      modelText: modelText,
      frames: shown,
      showError: showError
    });
    player = window.OrvPlay({
      engine: engine,
      levelText: function () { return loadedText; },
      frames: shown,
      restart: function () { restart(); },
      play: play,
      showError: showError
    });
    if (!openText(start.text, start.name)) openText(levels[0].text, levels[0].name);
    var index = levels.map(function (entry) { return entry.text; }).indexOf(start.text);
    ui["level-select"].value = index >= 0 ? String(index) : "";
    return editor.start();
  }).then(function () {
    ui.studio.setAttribute("data-ready", "true");
  }).catch(function (err) {
    showError("The engine did not start: " + (err && err.message ? err.message : err));
  });

  // For scripts that drive the page (tests, benchmarks): the level and the run as files hold them.
  window.orvStudio = {
    levelText: function () { return savedLevelText(); },
    runText: function () { return runText(); },
    world: function () { return track ? track.world : null; },  // the page's copy of the world at the frame shown
    verdict: function () { return standing(); },
    open: function (text, name) { return openText(text, name || "level"); },
    step: function () { step(); return shown(); }
  };
})();
