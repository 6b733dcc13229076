// Play mode for puzzles (levels with pieces): the tray lists the pieces; the player puts each into
// a zone that accepts pieces, by dragging it onto the drawn zone or by keyboard (its zone list, or
// pick the piece and then a zone in the drawing), runs the world and sees the engine's verdict.
// Hint asks the engine's solver, in a Web Worker made from the engine inlined in this page, where
// one piece of a shortest solution goes. Pieces, zones, placements, runs and verdicts are the
// engine's; this file only keeps which zone the player has chosen for each piece.
(function () {
  "use strict";

  var PIECE_TYPE = "application/x-orv-piece";

  function el(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined) node.textContent = String(text);
    return node;
  }

  function testid(node, id) { node.setAttribute("data-testid", id); return node; }

  // The solver in a worker of its own: the engine's source and a few lines that solve one level
  // text and post the result (or the engine's message) back.
  function solveInWorker(engineSource, levelText) {
    var body = engineSource + "\n;self.onmessage = function (e) {\n" +
      "  createOrvEngine().then(function (engine) {\n" +
      "    try { self.postMessage({ result: engine.solve(e.data) }); }\n" +
      "    catch (err) { self.postMessage({ message: String(err && err.message || err) }); }\n" +
      "  }, function (err) { self.postMessage({ message: 'the engine did not start: ' + (err && err.message || err) }); });\n" +
      "};\n";
    return new Promise(function (resolve, reject) {
      var url = URL.createObjectURL(new Blob([body], { type: "text/javascript" }));
      var worker;
      try {
        worker = new Worker(url);
      } catch (err) {
        URL.revokeObjectURL(url);
        reject(new Error("the solver's worker could not be started: " + err.message));
        return;
      }
      function done() { worker.terminate(); URL.revokeObjectURL(url); }
      worker.onmessage = function (e) {
        done();
        if (e.data && e.data.result) resolve(e.data.result);
        else reject(new Error(e.data && e.data.message || "the solver gave no answer"));
      };
      worker.onerror = function (e) {
        e.preventDefault();
        done();
        reject(new Error("the solver's worker failed: " + (e.message || "no message")));
      };
      worker.postMessage(levelText);
    });
  }

  // core: {engine, levelText() (the level as the engine holds it, pieces in the tray), frames(),
  // restart(), play(), showError(text)}.
  window.OrvPlay = function (core) {
    var engine = core.engine;
    var panel = testid(el("section", "play-panel"), "play-panel");
    panel.setAttribute("aria-label", "play the puzzle");
    panel.hidden = true;
    var heading = el("h2", null, "Tray");
    var list = testid(el("ul", "tray-pieces"), "tray-pieces");
    var buttons = el("div", "line");
    var runButton = testid(el("button", null, "\u25b6 run"), "play-run");
    var hintButton = testid(el("button", null, "hint"), "play-hint");
    var clearButton = testid(el("button", null, "back to the tray"), "play-clear");
    [runButton, hintButton, clearButton].forEach(function (b) { b.type = "button"; buttons.appendChild(b); });
    runButton.title = "place the pieces where they are put and play the run to its verdict";
    hintButton.title = "show where one piece of a shortest solution goes";
    var message = testid(el("p", "play-note"), "play-note");
    message.setAttribute("role", "status");
    var keys = el("p", "keys", "Drag a piece onto a zone of the drawing, or pick its zone from its list; " +
                  "or press a piece (Enter) and then click a zone.");
    [heading, list, buttons, message, keys].forEach(function (n) { panel.appendChild(n); });
    var world = document.querySelector('[data-testid="world"]');
    var side = document.querySelector('[data-testid="editor"]');
    side.parentNode.insertBefore(panel, side);

    var text = null;      // the level text that the tray belongs to
    var pieces = [];      // the engine's pieces: {label, name, visualId}
    var zones = [];       // the engine's accepting zones: {path, zone (preorder number)}
    var chosen = [];      // the zone path the player has chosen for each piece, or null
    var armed = -1;       // the piece picked by keyboard or click, waiting for a zone
    var dragging = -1;
    var solution = null;  // the solver's answer for `text`
    var solving = false;

    function say(words) { message.textContent = words || ""; }

    // The tray of the level the engine holds, the player's choices kept while it stays the same.
    function refresh() {
      var now;
      try {
        now = core.levelText();
      } catch (err) {
        now = null;
      }
      if (now !== text) {
        text = now;
        solution = null;
        armed = -1;
        say("");
        var placed = null;
        try {
          pieces = engine.pieces();
          zones = engine.accepting();
          placed = engine.placement().zones;
        } catch (err) {  // no level the engine could read: nothing to play
          pieces = [];
          zones = [];
        }
        chosen = pieces.map(function (_, i) { return placed ? placed[i] : null; });
      }
      panel.hidden = !pieces.length;
      drawTray();
    }

    // Draws the tray again, the keyboard's focus staying on the same piece's button or zone list.
    function drawTray() {
      var focused = document.activeElement, again = null;
      if (focused && list.contains(focused)) {
        again = '[data-piece="' + focused.closest("[data-piece]").getAttribute("data-piece") + '"] .' + focused.className;
      }
      var items = document.createDocumentFragment();
      pieces.forEach(function (piece, i) {
        var item = testid(el("li", "piece" + (armed === i ? " armed" : "")), "tray-piece");
        item.setAttribute("data-piece", String(i));
        var name = el("button", "piece-name", piece.label);
        name.type = "button";
        name.draggable = true;
        name.title = "drag onto a zone, or press and then click a zone";
        name.setAttribute("aria-pressed", armed === i ? "true" : "false");
        name.addEventListener("click", function () { arm(armed === i ? -1 : i); });
        name.addEventListener("dragstart", function (e) {
          dragging = i;
          e.dataTransfer.effectAllowed = "move";
          e.dataTransfer.setData(PIECE_TYPE, String(i));
        });
        name.addEventListener("dragend", function () { dragging = -1; outline(null); });
        var pick = testid(el("select", "piece-zone"), "piece-zone");
        pick.setAttribute("aria-label", "zone of " + piece.label);
        var tray = el("option", null, "(in the tray)");
        tray.value = "";
        pick.appendChild(tray);
        zones.forEach(function (zone) {
          var option = el("option", null, zone.path || "(the root)");
          option.value = zone.path;
          pick.appendChild(option);
        });
        pick.value = chosen[i] === null ? "" : chosen[i];
        pick.addEventListener("change", function () { put(i, pick.value === "" ? null : pick.value); });
        item.appendChild(name);
        item.appendChild(pick);
        items.appendChild(item);
      });
      list.replaceChildren(items);
      if (again && list.querySelector(again)) list.querySelector(again).focus();
      runButton.disabled = chosen.some(function (c) { return c === null; });
      hintButton.disabled = solving;
      hintButton.textContent = solving ? "solving\u2026" : "hint";
    }

    function arm(i) {
      armed = i;
      drawTray();
      if (i >= 0) say("Now click the zone for the " + pieces[i].label + " in the drawing.");
    }

    function put(i, path) {
      chosen[i] = path;
      armed = -1;
      say(path === null ? "The " + pieces[i].label + " is back in the tray." : "The " + pieces[i].label + " goes into " + (path || "the root") + ".");
      drawTray();
    }

    // The accepting zone drawn at `target`: the drawing's zones are in preorder, as the engine numbers them.
    function zoneAt(target) {
      var box = target && target.closest && target.closest('[data-testid="zone"]');
      if (!box || !world.contains(box)) return null;
      var number = Array.prototype.indexOf.call(world.querySelectorAll('[data-testid="zone"]'), box);
      for (var k = 0; k < zones.length; k++) if (zones[k].zone === number) return zones[k];
      return { path: null, name: box.getAttribute("data-zone-id") };
    }

    // Puts piece `i` into the zone drawn at `target`; true when the drawing took it.
    function dropOn(i, target) {
      if (i < 0 || i >= pieces.length) return false;
      if (core.frames() > 0) {
        say("The drawing shows frame " + core.frames() + ": reset (Home) to put pieces into the level itself.");
        return true;
      }
      var zone = zoneAt(target);
      if (!zone) return false;
      if (zone.path === null) {
        say("Zone \"" + zone.name + "\" does not accept pieces: the zones that do are " +
            zones.map(function (z) { return z.path || "(the root)"; }).join(", ") + ".");
        return true;
      }
      put(i, zone.path);
      return true;
    }

    // The zone under a dragged piece is outlined.
    var outlined = null;
    function outline(box) {
      if (outlined === box) return;
      if (outlined) outlined.classList.remove("drop-target");
      outlined = box;
      if (box) box.classList.add("drop-target");
    }

    world.addEventListener("dragover", function (e) {
      if (dragging < 0 || !zoneAt(e.target)) { outline(null); return; }
      outline(e.target.closest('[data-testid="zone"]'));
      e.preventDefault();
      e.dataTransfer.dropEffect = "move";
    });
    world.addEventListener("dragleave", function (e) {
      if (!e.relatedTarget || !world.contains(e.relatedTarget)) outline(null);
    });
    world.addEventListener("drop", function (e) {
      outline(null);
      if (dragging < 0) return;
      var i = dragging;
      dragging = -1;
      if (dropOn(i, e.target)) {
        e.preventDefault();
        e.stopPropagation();
      }
    }, true);
    world.addEventListener("click", function (e) {
      if (armed < 0) return;
      if (dropOn(armed, e.target)) {
        e.preventDefault();
        e.stopPropagation();
      }
    }, true);

    function run() {
      try {
        engine.place(chosen);
      } catch (err) {
        core.showError("The pieces were not placed: " + err.message);
        return;
      }
      armed = -1;
      say(engine.placement().lines.join("; ") + ".");
      core.restart();
      core.play();
    }

    // Every piece back in the tray, and the engine back on the level without them.
    function clear() {
      if (engine.placement().zones) {
        try {
          engine.load(text);
        } catch (err) {
          core.showError("The pieces were not taken back: " + err.message);
          return;
        }
        core.restart();
      }
      chosen = pieces.map(function () { return null; });
      armed = -1;
      say("Every piece is back in the tray.");
      drawTray();
    }

    function reveal() {
      if (!solution.shortest) {
        say("No placement of the pieces solves this level (" + solution.tried + " tried).");
        return;
      }
      var zonesOf = solution.shortest.zones;
      var i = chosen.findIndex(function (c, k) { return c !== zonesOf[k]; });
      if (i < 0) {
        say("Every piece is where a shortest solution (" + solution.shortest.frames + " frames) puts it: run it.");
        return;
      }
      chosen[i] = zonesOf[i];
      drawTray();
      say("Hint: " + solution.shortest.lines[i] + ".");
    }

    function hint() {
      if (solution) { reveal(); return; }
      var source = document.getElementById("orv-engine");
      var level = text;
      solving = true;
      drawTray();
      say("The solver is trying every placement\u2026");
      solveInWorker(source ? source.textContent : "", level).then(function (result) {
        solving = false;
        if (level !== text) { drawTray(); return; }  // another level was opened meanwhile
        solution = result;
        reveal();
      }, function (err) {
        solving = false;
        drawTray();
        say("");
        core.showError("The hint was not found: " + err.message);
      });
    }

    runButton.addEventListener("click", run);
    hintButton.addEventListener("click", hint);
    clearButton.addEventListener("click", clear);

    // For scripts that drive the page: the pieces put into these zones (a path for each) and
    // placed, the run at its start; the engine's refusal is thrown.
    window.orvPlay = {
      place: function (paths) {
        engine.place(paths);
        chosen = paths.slice();
        core.restart();
        return engine.placement().lines;
      }
    };

    return { drawn: refresh };
  };
})();
