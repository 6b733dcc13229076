// The studio's editor: the level edited where it stands (a zone, charge or agent picked in the
// drawing or in the panel, its fields changed in place), reordered and moved by drag and drop or by
// keys, every edit undone and redone, the level kept in the browser's storage at every edit and
// offered back when the page opens again, and shared as a link that holds the level itself.
// studio.js owns the engine, the run and the drawing; the editor changes the level only through
// the core that studio.js gives it (OrvEditor(core) below), and the engine reads every level it
// makes, so an edit the engine refuses is not applied and its words say why.
(function () {
  "use strict";

  // One entry per level being edited: the line {"title", "time"} and then the level's text, which is
  // kept as it is, not escaped into JSON (earlier pages kept {title, time, text} whole: still read).
  var KEEP_PREFIX = "orv-studio:draft:";
  var KEPT_DRAFTS = 8;                    // unsaved levels kept; beyond that the oldest goes
  var UNDO_STEPS = 100;                   // steps of undo always kept
  var UNDO_MAX = 1000;                    // steps of undo kept when they are small
  var UNDO_SLOTS = 4000000;               // list entries that copies beyond UNDO_STEPS may hold
  var LINK_LIMIT = 2097152;               // characters of an address that browsers keep
  var INFLATED_LIMIT = 64 * 1024 * 1024;  // bytes that a shared link may inflate to
  var LIST_ROWS = 200;                    // rows of one list shown at once
  var SHOWN_DEPTH = 12;                   // indentation steps and ids of a path shown
  var LINK_KEY = "#level=";
  var SIGN = { positive: "+", negative: "-", neutral: "~" };  // the terminal's signs of charges
  var NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/;

  function el(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined) node.textContent = String(text);
    return node;
  }

  function button(text, testid, title, action) {
    var node = el("button", null, text);
    node.type = "button";
    node.setAttribute("data-testid", testid);
    if (title) node.title = title;
    node.addEventListener("click", action);
    return node;
  }

  function listOf(value) { return Array.isArray(value) ? value : []; }
  function grouped(n) { return Number(n).toLocaleString("en"); }

  // ------------------------------------------------------------------ numbers

  // A magnitude or target as the level holds it: a number, or the engine's "inf", "-inf", "nan"
  // (null reads as NaN, as in a level file).
  function toNumber(value) {
    if (typeof value === "number") return value;
    if (value === "inf") return Infinity;
    if (value === "-inf") return -Infinity;
    return NaN;
  }

  // A number as the terminal writes it: nan, inf, -inf, whole numbers below 1e15 in full, others
  // with six significant digits as printf's %.6g does.
  function numberText(value) {
    var x = toNumber(value);
    if (isNaN(x)) return "nan";
    if (!isFinite(x)) return x > 0 ? "inf" : "-inf";
    if (x === Math.trunc(x) && Math.abs(x) < 1e15) return String(x === 0 ? 0 : x);
    var parts = x.toExponential(5).split("e"), exp = Number(parts[1]);
    if (exp < -4 || exp >= 6) {
      var digits = parts[0].replace(/\.?0+$/, "");
      return digits + "e" + (exp < 0 ? "-" : "+") + (Math.abs(exp) < 10 ? "0" : "") + Math.abs(exp);
    }
    var fixed = x.toFixed(5 - exp);
    return fixed.indexOf(".") >= 0 ? fixed.replace(/\.?0+$/, "") : fixed;
  }

  // A number exactly, as a field shows it and reads it back: -0, inf, -inf and nan included.
  function exactText(value) {
    var x = toNumber(value);
    if (isNaN(x)) return "nan";
    if (!isFinite(x)) return x > 0 ? "inf" : "-inf";
    return Object.is(x, -0) ? "-0" : String(x);
  }

  // A number as the designer types it: a decimal number (1e999 is inf, as a level file reads it),
  // inf, -inf or nan. Throws an Error naming the field and what was found.
  function parseNumber(text, what) {
    var t = String(text).trim().toLowerCase();
    if (/^\+?inf(inity)?$/.test(t)) return Infinity;
    if (/^-inf(inity)?$/.test(t)) return -Infinity;
    if (/^[+-]?nan$/.test(t)) return NaN;
    if (NUMBER.test(t)) return Number(t);
    throw new Error(what + ": expected a number, found " + JSON.stringify(String(text)));
  }

  function parseName(text, what) {
    if (String(text).trim() === "") throw new Error(what + ": expected a name, found nothing");
    return String(text);
  }

  // Charges and agents in the terminal's words: "+2", "Equals Gate (door_ward) wants = 5".
  function chargeWords(charge) { return (SIGN[charge.polarity] || "?") + numberText(charge.magnitude); }
  function agentWords(agent) {
    var words = agent.name + " (" + agent.visual_id + ")";
    if (agent.target_value !== undefined) words += " wants " + (agent.rule || "=") + " " + numberText(agent.target_value);
    return words;
  }

  // ------------------------------------------------------------------ paths and copies

  function pathKey(path) { return path.map(function (i) { return "/" + i; }).join(""); }  // a drawn zone's data-path
  function parsePath(text) { return text ? text.slice(1).split("/").map(Number) : []; }
  function samePath(a, b) { return a.length === b.length && a.every(function (v, i) { return v === b[i]; }); }
  function isPrefix(a, b) { return a.length <= b.length && a.every(function (v, i) { return v === b[i]; }); }

  function zoneAt(level, path) {
    var zone = level.world;
    for (var i = 0; i < path.length; i++) {
      var subs = listOf(zone.sub_environments);
      if (!(Number.isInteger(path[i]) && path[i] >= 0 && path[i] < subs.length)) return null;
      zone = subs[path[i]];
    }
    return zone;
  }

  // The ids from the root to a zone joined by "/", the last SHOWN_DEPTH of a deeper one.
  function zoneName(level, path) {
    var ids = [String(level.world.id)], zone = level.world;
    for (var i = 0; i < path.length; i++) {
      zone = zone.sub_environments[path[i]];
      ids.push(String(zone.id));
      if (ids.length > SHOWN_DEPTH) ids.shift();
    }
    return (path.length >= SHOWN_DEPTH ? "\u2026/" : "") + ids.join("/");
  }

  // The zone at a path as the narration names zones: ids from the root joined by "/", an id that
  // sub-zones of one zone share followed by its place among them from 1 ("hall/room[2]").
  function findZone(level, text) {
    var steps = String(text).split("/"), path = [], zone = null, subs = [level.world];
    for (var i = 0; i < steps.length; i++) {
      var m = /^(.*)\[([1-9][0-9]*)\]$/.exec(steps[i]), id = m ? m[1] : steps[i], nth = m ? Number(m[2]) : 1;
      var found = -1;
      for (var k = 0; k < subs.length && nth; k++) if (String(subs[k].id) === id && !--nth) found = k;
      if (found < 0) return null;
      zone = subs[found];
      if (i) path.push(found);
      subs = listOf(zone.sub_environments);
    }
    return path;
  }

  // Copy-on-write edits: the level, the zones on the way to an edited zone and the lists an edit
  // changes are copied; the rest is shared with the level before, so an undo step holds only what
  // it changed. `slots` counts the entries copied.
  function Writer(level) {
    this.fresh = new Set();
    this.slots = 0;
    this.level = this.own(level);
  }
  Writer.prototype.own = function (value) {
    if (this.fresh.has(value)) return value;
    var copy;
    if (Array.isArray(value)) {
      copy = value.slice();
      this.slots += value.length;
    } else {
      copy = {};
      Object.keys(value).forEach(function (key) {
        Object.defineProperty(copy, key, { value: value[key], writable: true, enumerable: true, configurable: true });
      });
      this.slots += 1;
    }
    this.fresh.add(copy);
    return copy;
  };
  Writer.prototype.zone = function (path) {
    var zone = this.level.world = this.own(this.level.world);
    for (var i = 0; i < path.length; i++) {
      var subs = zone.sub_environments = this.own(listOf(zone.sub_environments));
      zone = subs[path[i]] = this.own(subs[path[i]]);
    }
    return zone;
  };
  Writer.prototype.list = function (path, key) {
    var zone = this.zone(path);
    return (zone[key] = this.own(listOf(zone[key])));
  };

  // ------------------------------------------------------------------ the share link

  function toBase64url(bytes) {
    var text = "";
    for (var i = 0; i < bytes.length; i += 32768) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
    return btoa(text).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
  }

  function fromBase64url(text) {
    if (text === "") throw new Error("expected the level after " + JSON.stringify(LINK_KEY) + ", found nothing");
    var bad = /[^A-Za-z0-9_-]/.exec(text);
    if (bad) {
      throw new Error("expected base64url text (letters, digits, \"-\" and \"_\"), found " + JSON.stringify(bad[0]) +
                      " at character " + (bad.index + 1));
    }
    if (text.length % 4 === 1) {
      throw new Error("expected base64url text, found " + grouped(text.length) + (text.length === 1 ? " character" : " characters") +
                      ", a length that no bytes have");
    }
    var binary = atob(text.replace(/-/g, "+").replace(/_/g, "/") + "===".slice((text.length + 3) % 4));
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  function streamBytes(stream, limit) {
    var reader = stream.getReader(), chunks = [], size = 0;
    function pump() {
      return reader.read().then(function (part) {
        if (part.done) {
          var all = new Uint8Array(size), at = 0;
          chunks.forEach(function (chunk) { all.set(chunk, at); at += chunk.length; });
          return all;
        }
        size += part.value.length;
        if (size > limit) {
          reader.cancel();
          throw new Error("the level inflates to more than " + grouped(limit) + " bytes");
        }
        chunks.push(part.value);
        return pump();
      });
    }
    return pump();
  }

  // A level text, deflated and in base64url: what a link holds after "#level=".
  function packLevel(text) {
    var stream = new Blob([text]).stream().pipeThrough(new CompressionStream("deflate-raw"));
    return streamBytes(stream, Infinity).then(toBase64url);
  }

  // The level bytes of a link's "#level=" text; rejects with what is wrong with it.
  function unpackLevel(packed) {
    return Promise.resolve().then(function () {
      var stream = new Blob([fromBase64url(packed)]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
      return streamBytes(stream, INFLATED_LIMIT).catch(function (err) {
        if (/inflates to more/.test(err.message)) throw err;
        throw new Error("expected a level that the studio packed (deflate), found bytes that do not inflate");
      });
    });
  }

  // Puts a text on the clipboard; resolves false when the browser does not let the page.
  function copyText(text) {
    function byCommand() {
      var area = el("textarea");
      area.value = text;
      area.setAttribute("readonly", "");
      area.style.position = "fixed";
      area.style.opacity = "0";
      document.body.appendChild(area);
      area.select();
      var done = false;
      try { done = document.execCommand("copy"); } catch (err) { done = false; }
      area.remove();
      return done;
    }
    if (navigator.clipboard && navigator.clipboard.writeText) {
      return navigator.clipboard.writeText(text).then(function () { return true; }, byCommand);
    }
    return Promise.resolve(byCommand());
  }

  // ------------------------------------------------------------------ the browser's storage

  function storage() {
    try {
      var store = window.localStorage;
      store.getItem(KEEP_PREFIX);
      return store;
    } catch (err) {
      return null;
    }
  }

  function newId() { return Date.now().toString(36) + "-" + Math.random().toString(36).slice(2, 10); }

  // The levels kept unsaved, newest first: {key, title, time, text}, or {key, fault} for an entry
  // that cannot be read.
  function keptDrafts() {
    var store = storage(), found = [];
    if (!store) return found;
    for (var i = 0; i < store.length; i++) {
      var key = store.key(i);
      if (!key || key.indexOf(KEEP_PREFIX) !== 0) continue;
      var entry = null, value = store.getItem(key) || "", end = value.indexOf("\n");
      try {
        entry = end < 0 ? JSON.parse(value) : JSON.parse(value.slice(0, end));
        if (end >= 0 && entry && typeof entry === "object") entry.text = value.slice(end + 1);
      } catch (err) {
        entry = null;
      }
      if (entry && typeof entry.text === "string" && typeof entry.time === "number") {
        found.push({ key: key, title: String(entry.title), time: entry.time, text: entry.text });
      } else {
        found.push({ key: key, fault: "a kept level that cannot be read", time: 0 });
      }
    }
    return found.sort(function (a, b) { return b.time - a.time; });
  }

  // ------------------------------------------------------------------ the editor

  window.OrvEditor = function (core) {
    function hook(id) { return document.querySelector('[data-testid="' + id + '"]'); }
    var ui = {};
    ["studio", "world", "files", "level-select", "new-level", "copy-link", "text-io", "drafts", "notice",
     "undo", "redo", "show-keys", "keys-help", "text-dialog", "level-text-area", "open-text", "copy-text",
     "close-text", "text-error", "level-title", "level-description", "tray", "zone-select", "zone-id",
     "rename-zone", "remove-zone", "new-zone-id", "add-zone", "zone-list", "charge-list", "charge-magnitude",
     "charge-polarity", "charge-visual", "add-charge", "agent-list", "agent-kind", "agent-visual", "agent-target",
     "agent-rule", "add-agent", "inspector", "inspector-title", "charge-fields", "agent-fields", "edit-magnitude",
     "edit-polarity", "edit-kind", "edit-visual", "edit-target", "edit-rule", "move-to", "move-up", "move-down",
     "remove-selected", "editor-note"].forEach(function (id) { ui[id] = hook(id); });

    var kinds = core.kinds;
    var sel = null;           // {path, list: null | "charges" | "agents", index}: what is picked; null for nothing
    var past = [], future = []; // undo and redo steps: {level, sel, draft, slots}
    var clean = new WeakSet();  // levels as opened or saved: leaving them loses nothing
    var draftId = newId();      // where the level being edited is kept
    var pending = null;         // how the next level that the studio opens came: {unsaved, forget}
    var zonesOf = null;         // the world whose zones the zone lists show
    var drag = null, dropMark = null;
    var keepFault = "";

    function level() { return core.level(); }
    function unsaved() { return !clean.has(level()); }

    function note(text, kind) {
      ui.notice.textContent = text || "";
      ui.notice.hidden = !text;
      ui.notice.className = "notice" + (kind ? " " + kind : "");
    }

    function kindOf(agent) {
      for (var i = 0; i < kinds.length; i++) if (kinds[i].name === agent.name || kinds[i].kind === agent.name) return kinds[i];
      return null;
    }

    function kindNamed(value) {
      for (var i = 0; i < kinds.length; i++) if (kinds[i].kind === value) return kinds[i];
      return null;
    }

    function zonePath() { return sel ? sel.path : []; }

    function valid(s) {
      var zone = s && zoneAt(level(), s.path);
      return !!zone && (!s.list || (Number.isInteger(s.index) && s.index >= 0 && s.index < listOf(zone[s.list]).length));
    }

    // ---------------------------------------------------------------- edits and their history

    // Makes an edit: `edit(writer)` changes the writer's copy of the level and returns null, an
    // object {sel, subject} that picks what the edit made (and what it was made to, which undo
    // picks again), or an error's words. The engine reads the new level (unless only its title or
    // description changed: `textOnly`), and the run starts over.
    function change(edit, textOnly) {
      var before = level(), picked = sel, writer = new Writer(before), result, text;
      try {
        result = edit(writer);
      } catch (err) {
        result = err.message;
      }
      if (typeof result === "string") {
        core.showError(result);
        return false;
      }
      if (result && result.sel !== undefined) sel = result.sel;
      try {
        text = core.setLevel(writer.level, !textOnly);
      } catch (err) {
        sel = picked;
        core.showError("The edit was not applied: " + err.message);
        drawPanel();
        return false;
      }
      remember(before, result && result.subject ? result.subject : picked, writer.slots);
      if (textOnly) core.showError("");
      changed(text);
      return true;
    }

    function remember(before, picked, slots) {
      past.push({ level: before, sel: picked, draft: draftId, slots: slots });
      future = [];
      var held = past.reduce(function (sum, step) { return sum + step.slots; }, 0);
      while (past.length > UNDO_STEPS && (past.length > UNDO_MAX || held > UNDO_SLOTS)) held -= past.shift().slots;
    }

    // One step of undo (from `past` to `future`) or of redo (the other way).
    function travel(from, to, what) {
      if (!from.length) return;
      var step = from.pop(), here = { level: level(), sel: sel, draft: draftId, slots: step.slots }, text;
      sel = step.sel;
      var before = draftId;
      draftId = step.draft;
      try {
        text = core.setLevel(step.level, true);
      } catch (err) {
        from.push(step);
        sel = here.sel;
        draftId = before;
        core.showError("The edit was not " + what + ": " + err.message);
        return;
      }
      to.push(here);
      changed(text);
    }

    function undo() { travel(past, future, "undone"); }
    function redo() { travel(future, past, "redone"); }

    // After the level changed: the link in the address no longer holds it; it is kept in storage.
    function changed(text) {
      if (location.hash.indexOf(LINK_KEY) === 0) history.replaceState(null, "", location.pathname + location.search);
      keep(text);
      drawTools();
    }

    // ---------------------------------------------------------------- kept in storage

    function keepWarning(text) {
      keepFault = text;
      ui["editor-note"].textContent = text;
      ui["editor-note"].hidden = !text;
    }

    // Keeps the level being edited in the browser's storage while it holds unsaved edits, and lets
    // it go once saved. A storage that is off or full is said, never passed over.
    function keep(text) {
      var store = storage();
      if (!unsaved()) {
        if (store) store.removeItem(KEEP_PREFIX + draftId);
        keepWarning("");
        return;
      }
      if (!store) {
        keepWarning("This browser keeps nothing for this page (its storage is off): save the level as a file before you leave.");
        return;
      }
      var entry = JSON.stringify({ title: level().title, time: Date.now() }) + "\n" + text;
      try {
        store.setItem(KEEP_PREFIX + draftId, entry);
      } catch (err) {
        keepWarning("The level was not kept in this browser: its storage is full (" + grouped(entry.length) +
                    " characters to keep). Save it as a file, or discard levels kept before.");
        return;
      }
      keepWarning("");
      if (pending && pending.forget) store.removeItem(pending.forget);
      var drafts = keptDrafts();
      drafts.slice(KEPT_DRAFTS).forEach(function (d) { if (d.key !== KEEP_PREFIX + draftId) store.removeItem(d.key); });
    }

    function when(time) {
      var date = new Date(time);
      return date.toLocaleDateString("en", { day: "numeric", month: "short" }) + ", " +
             date.toLocaleTimeString("en", { hour: "2-digit", minute: "2-digit", hour12: false });
    }

    // The levels kept unsaved (by this page before, or by another tab), offered back.
    function offerDrafts() {
      var drafts = keptDrafts().filter(function (d) { return d.key !== KEEP_PREFIX + draftId; });
      var box = ui.drafts;
      box.replaceChildren();
      box.hidden = !drafts.length;
      if (!drafts.length) return;
      box.appendChild(el("strong", null, drafts.length === 1 ? "A level with unsaved edits is kept in this browser:"
                                                             : "Levels with unsaved edits are kept in this browser:"));
      var list = el("ul");
      drafts.slice(0, 5).forEach(function (d) {
        var row = el("li");
        row.setAttribute("data-testid", "draft-item");
        row.appendChild(el("span", null, d.fault || "\u201c" + d.title + "\u201d, edited " + when(d.time) +
                                                    " (" + grouped(d.text.length) + " characters)"));
        if (!d.fault) row.appendChild(button("restore", "restore-draft", "open this level and go on editing it", function () { restore(d); }));
        row.appendChild(button("discard", "discard-draft", "forget this level", function () {
          var store = storage();
          if (store) store.removeItem(d.key);
          offerDrafts();
        }));
        list.appendChild(row);
      });
      box.appendChild(list);
      if (drafts.length > 5) box.appendChild(el("p", null, "and " + grouped(drafts.length - 5) + " older ones"));
      box.appendChild(button("not now", "close-drafts", "keep them for later", function () { box.hidden = true; }));
    }

    function restore(draft) {
      pending = { unsaved: true, forget: draft.key };
      if (open(draft.text, draft.title)) offerDrafts();
      pending = null;
    }

    // Opens a level text through the studio (the engine reads it); false when refused.
    function open(text, name) {
      var done = core.open(text, name);
      if (done) ui["level-select"].value = "";
      return done;
    }

    // ---------------------------------------------------------------- the panel

    function rebuildZones() {
      var world = level().world, options = document.createDocumentFragment();
      var stack = [[world, [], [String(world.id)]]];  // [zone, path, the ids along the path (the last SHOWN_DEPTH)]
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
      var copy = options.cloneNode(true);
      ui["zone-select"].replaceChildren(options);
      var head = el("option", null, "move to zone\u2026");
      head.value = "-";
      copy.insertBefore(head, copy.firstChild);
      ui["move-to"].replaceChildren(copy);
      zonesOf = world;
    }

    // One list of the zone being edited; at most LIST_ROWS rows, around the one picked.
    function drawList(box, items, list, testid, words) {
      var rows = document.createDocumentFragment(), path = zonePath();
      var picked = sel && sel.list === list ? sel.index : -1;
      var first = Math.max(0, Math.min(items.length - LIST_ROWS, picked - LIST_ROWS / 2));
      var last = Math.min(items.length, first + LIST_ROWS);
      if (first) rows.appendChild(el("li", "more", grouped(first) + " more before"));
      for (var i = first; i < last; i++) {
        var row = el("li", i === picked ? "picked" : null);
        row.setAttribute("data-testid", testid);
        row.setAttribute("data-index", String(i));
        row.setAttribute("aria-selected", i === picked ? "true" : "false");
        row.draggable = true;
        var target = list === "sub_environments" ? { path: path.concat([i]), list: null, index: 0 } : { path: path, list: list, index: i };
        row.appendChild(button(words(items[i]), testid + "-pick", "pick it to edit", pickRow(target)));
        var up = button("\u2191", "item-up", "move up (Alt+\u2191)", moveRow({ path: path, list: list, index: i }, -1));
        var down = button("\u2193", "item-down", "move down (Alt+\u2193)", moveRow({ path: path, list: list, index: i }, 1));
        up.disabled = i === 0;
        down.disabled = i === items.length - 1;
        row.appendChild(up);
        row.appendChild(down);
        if (list !== "sub_environments") {
          row.appendChild(button("\u00d7", list === "charges" ? "remove-charge" : "remove-agent", "remove (Delete)",
                                 removeRow({ path: path, list: list, index: i })));
        }
        rows.appendChild(row);
      }
      if (last < items.length) rows.appendChild(el("li", "more", grouped(items.length - last) + " more after"));
      box.replaceChildren(rows);
    }

    function pickRow(target) { return function () { select(target, true); }; }
    function moveRow(item, delta) { return function () { moveBy(item, delta); }; }
    function removeRow(item) { return function () { removeItem(item); }; }

    function drawPanel() {
      var lv = level();
      if (sel && !valid(sel)) sel = null;
      var path = zonePath(), zone = zoneAt(lv, path);
      ui["level-title"].value = lv.title;
      ui["level-description"].value = lv.description;
      var pieces = listOf(lv.pieces);
      ui.tray.hidden = !pieces.length;
      ui.tray.textContent = !pieces.length ? "" : "A puzzle: its " + (pieces.length === 1 ? "piece" : grouped(pieces.length) + " pieces") +
        " and the zones that take " + (pieces.length === 1 ? "it" : "them") + " are kept as they are through edits and saves.";
      if (zonesOf !== lv.world) rebuildZones();
      ui["zone-select"].value = path.join("/");
      ui["zone-id"].value = zone.id;
      ui["remove-zone"].disabled = path.length === 0;
      drawList(ui["zone-list"], listOf(zone.sub_environments), "sub_environments", "subzone-item", function (z) { return String(z.id); });
      drawList(ui["charge-list"], listOf(zone.charges), "charges", "charge-item", function (c) { return chargeWords(c) + " (" + c.visual_id + ")"; });
      drawList(ui["agent-list"], listOf(zone.agents), "agents", "agent-item", agentWords);
      var adding = kindNamed(ui["agent-kind"].value);
      ui["agent-target"].disabled = !(adding && adding.gate);
      ui["agent-rule"].disabled = !(adding && adding.takesRule);
      drawInspector(lv, zone);
      drawTools();
    }

    function drawInspector(lv, zone) {
      var item = sel && sel.list ? zone[sel.list][sel.index] : null;
      ui.inspector.hidden = !item;
      [ui["edit-magnitude"], ui["edit-target"], ui["edit-visual"]].forEach(function (f) { f.removeAttribute("aria-invalid"); });
      if (!item) return;
      var charge = sel.list === "charges", count = zone[sel.list].length;
      ui["inspector-title"].textContent = (charge ? "Charge " : "Agent ") + grouped(sel.index + 1) + " of " + grouped(count) +
        " in zone " + zoneName(lv, sel.path);
      ui["charge-fields"].hidden = !charge;
      ui["agent-fields"].hidden = charge;
      ui["edit-visual"].value = item.visual_id;
      if (charge) {
        ui["edit-magnitude"].value = exactText(item.magnitude);
        ui["edit-polarity"].value = item.polarity;
      } else {
        var kind = kindOf(item);
        ui["edit-kind"].value = kind ? kind.kind : "";
        hook("edit-target-field").hidden = !(kind && kind.gate);
        ui["edit-target"].value = item.target_value !== undefined ? exactText(item.target_value) : "";
        hook("edit-rule-field").hidden = !(kind && kind.takesRule);
        ui["edit-rule"].value = item.rule || ">=";
      }
      ui["move-to"].value = "-";
      ui["move-up"].disabled = sel.index === 0;
      ui["move-down"].disabled = sel.index === count - 1;
    }

    function drawTools() {
      ui.undo.disabled = !past.length;
      ui.redo.disabled = !future.length;
      ui.studio.setAttribute("data-unsaved", unsaved() ? "true" : "false");
      ui.studio.setAttribute("data-undo", String(past.length));
    }

    // The picked zone, charge or agent marked in the drawing, while it shows the level (frame 0).
    function markDrawing(scroll) {
      var editable = core.frames() === 0;
      ui.world.classList.toggle("editable", editable);
      Array.prototype.forEach.call(ui.world.querySelectorAll(".picked"), function (n) { n.classList.remove("picked"); });
      if (!editable || !sel) return;
      var node = drawnZone(sel.path);
      if (node && sel.list) {
        var row = node.querySelector(":scope > .row." + sel.list);
        node = row ? row.children[sel.index] : null;
      }
      if (!node) return;
      node.classList.add("picked");
      if (scroll) node.scrollIntoView({ block: "nearest", inline: "nearest" });
    }

    function drawnZone(path) {
      return ui.world.querySelector('[data-testid="zone"][data-path="' + pathKey(path) + '"]');
    }

    function select(next, scroll) {
      sel = next && valid(next) ? next : null;
      drawPanel();
      markDrawing(scroll);
    }

    // What a click or a drag in the drawing is on: a charge, an agent, or else a zone.
    function pickAt(target) {
      var box = target && target.closest ? target.closest('[data-testid="zone"]') : null;
      if (!box || !ui.world.contains(box)) return null;
      var path = parsePath(box.getAttribute("data-path") || "");
      var token = target.closest('[data-testid="charge"], [data-testid="agent"]');
      if (token && token.closest('[data-testid="zone"]') === box) {
        return { path: path, list: token.getAttribute("data-testid") === "charge" ? "charges" : "agents",
                 index: Array.prototype.indexOf.call(token.parentNode.children, token) };
      }
      return { path: path, list: null, index: 0 };
    }

    // ---------------------------------------------------------------- the edits

    function addCharge() {
      change(function (w) {
        var charge = { magnitude: parseNumber(ui["charge-magnitude"].value, "magnitude"), polarity: ui["charge-polarity"].value,
                       visual_id: parseName(ui["charge-visual"].value, "charge visual id") };
        var path = zonePath(), list = w.list(path, "charges");
        list.push(charge);
        return { sel: { path: path, list: "charges", index: list.length - 1 } };
      }) && clearFields(["charge-magnitude", "charge-visual"]);
    }

    function newAgent(kind, visual, target, rule) {
      var agent = { name: kind.name, visual_id: visual };
      if (kind.gate) agent.target_value = target;
      if (kind.takesRule) agent.rule = rule;
      return agent;
    }

    function addAgent() {
      change(function (w) {
        var kind = kindNamed(ui["agent-kind"].value);
        if (!kind) return "agent kind: expected one of the engine's kinds, found " + JSON.stringify(ui["agent-kind"].value);
        var visual = parseName(ui["agent-visual"].value, "agent visual id");
        var target = kind.gate ? parseNumber(ui["agent-target"].value, "gate target") : null;
        var path = zonePath(), list = w.list(path, "agents");
        list.push(newAgent(kind, visual, target, ui["agent-rule"].value));
        return { sel: { path: path, list: "agents", index: list.length - 1 } };
      }) && clearFields(["agent-visual", "agent-target"]);
    }

    function addZone() {
      change(function (w) {
        var id = parseName(ui["new-zone-id"].value, "sub-zone id"), path = zonePath();
        var subs = w.list(path, "sub_environments");
        subs.push({ id: id, charges: [], agents: [], sub_environments: [] });
        return { sel: { path: path.concat([subs.length - 1]), list: null, index: 0 } };
      }) && clearFields(["new-zone-id"]);
    }

    function clearFields(ids) { ids.forEach(function (id) { ui[id].value = ""; }); }

    function renameZone() {
      change(function (w) {
        w.zone(zonePath()).id = parseName(ui["zone-id"].value, "zone id");
      });
    }

    function removeZone(path) {
      if (!path.length) {
        core.showError("The root zone stays: a level has one. For a blank level, choose \u201cnew level\u201d.");
        return;
      }
      change(function (w) {
        w.list(path.slice(0, -1), "sub_environments").splice(path[path.length - 1], 1);
        return { sel: { path: path.slice(0, -1), list: null, index: 0 } };
      });
    }

    function removeItem(item) {
      change(function (w) {
        var list = w.list(item.path, item.list);
        list.splice(item.index, 1);
        return { sel: list.length ? { path: item.path, list: item.list, index: Math.min(item.index, list.length - 1) }
                                  : { path: item.path, list: null, index: 0 } };
      });
    }

    function removeSelection() {
      if (!sel) return;
      if (sel.list) removeItem(sel); else removeZone(sel.path);
    }

    // A charge's or an agent's field changed in the inspector: the one picked is changed there.
    function editPicked(set) {
      if (!sel || !sel.list) return;
      var item = sel;
      change(function (w) {
        var list = w.list(item.path, item.list), copy = w.own(list[item.index]);
        list[item.index] = copy;
        set(copy);
      });
    }

    function fieldEdit(field, set) {
      field.addEventListener("change", function () {
        field.removeAttribute("aria-invalid");
        var ok = true;
        editPicked(function (item) {
          try {
            set(item, field.value);
          } catch (err) {
            ok = false;
            throw err;
          }
        });
        if (!ok) field.setAttribute("aria-invalid", "true");
      });
    }

    function setKind(agent, value) {
      var kind = kindNamed(value);
      if (!kind) throw new Error("agent kind: expected one of the engine's kinds, found " + JSON.stringify(value));
      var was = kindOf(agent);
      agent.name = kind.name;
      if (was !== kind) delete agent.priority;  // the engine gives each kind its own
      if (kind.gate) {
        if (agent.target_value === undefined) agent.target_value = 0;
      } else {
        delete agent.target_value;
        delete agent.is_open;
      }
      if (kind.takesRule) {
        if (agent.rule === undefined) agent.rule = ">=";
      } else {
        delete agent.rule;
      }
    }

    // Moves a charge, an agent or a sub-zone (`from`: the zone path, the list and the index) into
    // the zone at `toPath`, to stand at `at` of its list as it is before the move.
    function moveItem(from, toPath, at) {
      var zones = from.list === "sub_environments", moving = from.path.concat([from.index]);
      if (zones && isPrefix(moving, toPath)) {
        core.showError("zone " + zoneName(level(), moving) + " cannot go into itself or a zone inside it");
        return false;
      }
      var same = samePath(from.path, toPath), final = same && at > from.index ? at - 1 : at;
      if (same && final === from.index) return false;
      // Sub-zones reordered in their parent's list keep the parent picked; a zone picked itself stays picked.
      var parentStays = zones && same && sel && !sel.list && samePath(sel.path, from.path);
      return change(function (w) {
        var item = w.list(from.path, from.list).splice(from.index, 1)[0];
        var dest = toPath.slice(), depth = from.path.length;
        if (zones && dest.length > depth && isPrefix(from.path, dest) && dest[depth] > from.index) dest[depth] -= 1;
        var list = w.list(dest, from.list);
        final = Math.max(0, Math.min(final, list.length));
        list.splice(final, 0, item);
        return { sel: parentStays ? { path: dest, list: null, index: 0 } : zones ? { path: dest.concat([final]), list: null, index: 0 }
                                                                         : { path: dest, list: from.list, index: final },
                 subject: zones ? { path: moving, list: null, index: 0 } : from };
      });
    }

    // Moves a charge, an agent or a zone one place up or down its list.
    function moveBy(item, delta) {
      if (!item) return;
      if (!item.list) {
        if (!item.path.length) return;
        item = { path: item.path.slice(0, -1), list: "sub_environments", index: item.path[item.path.length - 1] };
      }
      var count = listOf(zoneAt(level(), item.path)[item.list]).length, to = item.index + delta;
      if (to < 0 || to >= count) return;
      moveItem(item, item.path, delta > 0 ? to + 1 : to);
    }

    // ---------------------------------------------------------------- drag and drop

    function startDrag(e, from) {
      drag = from;
      e.dataTransfer.effectAllowed = "move";
      e.dataTransfer.setData("text/plain", from.list + " " + pathKey(from.path) + " " + from.index);
    }

    function showDrop(at) {
      if (dropMark) dropMark.classList.remove("drop-before", "drop-after", "drop-into");
      dropMark = at ? at.node : null;
      if (dropMark) dropMark.classList.add(at.into ? "drop-into" : at.after ? "drop-after" : "drop-before");
    }

    function endDrag() {
      drag = null;
      showDrop(null);
    }

    // Where a drop on the drawing puts what is dragged: beside a charge or agent of its kind, beside
    // a zone when over the zone's name, and otherwise at the end of the zone under the pointer.
    function drawingDrop(e) {
      if (!drag || core.frames()) return null;
      var hit = pickAt(e.target), box = hit && drawnZone(hit.path);
      if (!box) return null;
      var after, rect;
      if (drag.list !== "sub_environments") {
        if (hit.list === drag.list) {
          var token = box.querySelector(":scope > .row." + drag.list).children[hit.index];
          rect = token.getBoundingClientRect();
          after = e.clientX > rect.left + rect.width / 2;
          return { node: token, after: after, path: hit.path, index: hit.index + (after ? 1 : 0) };
        }
        return { node: box, into: true, path: hit.path, index: listOf(zoneAt(level(), hit.path)[drag.list]).length };
      }
      var at;
      var head = e.target.closest(".zone-head");
      if (head && head.parentNode === box && hit.path.length) {
        rect = box.getBoundingClientRect();
        after = e.clientX > rect.left + rect.width / 2;
        at = { node: box, after: after, path: hit.path.slice(0, -1), index: hit.path[hit.path.length - 1] + (after ? 1 : 0) };
      } else {
        at = { node: box, into: true, path: hit.path, index: listOf(zoneAt(level(), hit.path).sub_environments).length };
      }
      return isPrefix(drag.path.concat([drag.index]), at.path) ? null : at;
    }

    // Where a drop on a list of the panel puts what is dragged: before or after the row.
    function rowDrop(e, list) {
      if (!drag || drag.list !== list) return null;
      var row = e.target.closest && e.target.closest("li[data-index]");
      if (!row) return null;
      var rect = row.getBoundingClientRect(), after = e.clientY > rect.top + rect.height / 2, path = zonePath();
      var at = { node: row, after: after, path: path, index: Number(row.getAttribute("data-index")) + (after ? 1 : 0) };
      return list === "sub_environments" && isPrefix(drag.path.concat([drag.index]), path) ? null : at;
    }

    function dropTarget(box, find) {
      box.addEventListener("dragover", function (e) {
        var at = find(e);
        showDrop(at);
        if (at) {
          e.preventDefault();
          e.dataTransfer.dropEffect = "move";
        }
      });
      box.addEventListener("drop", function (e) {
        var at = find(e), from = drag;
        endDrag();
        if (!at) return;
        e.preventDefault();
        moveItem(from, at.path, at.index);
      });
      box.addEventListener("dragend", endDrag);
    }

    // ---------------------------------------------------------------- the share link and the level text

    function copyLink() {
      var text;
      try {
        text = core.levelText();
      } catch (err) {
        core.showError("The link was not made: " + err.message);
        return Promise.resolve(false);
      }
      return packLevel(text).then(function (packed) {
        var link = location.href.split("#")[0] + LINK_KEY + packed;
        if (link.length > LINK_LIMIT) {
          throw new Error("it would be " + grouped(link.length) + " characters long, more than a browser keeps (" +
                          grouped(LINK_LIMIT) + "): save the level as a file instead");
        }
        history.replaceState(null, "", LINK_KEY + packed);
        return copyText(link).then(function (copied) {
          note(copied ? "Link copied (" + grouped(link.length) + " characters): it opens this level in any studio page, from file too."
                      : "The browser did not let the page copy the link: it is in the address bar, copy it from there.");
          return copied;
        });
      }).catch(function (err) {
        core.showError("The link was not made: " + err.message);
        return false;
      });
    }

    // Opens the level that the address's "#level=" holds, when it holds one.
    function openLink() {
      var hash = location.hash;
      if (hash.indexOf(LINK_KEY) !== 0) return Promise.resolve(false);
      return unpackLevel(hash.slice(LINK_KEY.length)).then(function (bytes) {
        pending = { link: true };
        try {
          return open(bytes, "shared level");
        } finally {
          pending = null;
        }
      }, function (err) {
        core.showError("The level in the link was not opened: " + err.message);
        return false;
      });
    }

    function showText() {
      var text;
      try {
        text = core.levelText();
      } catch (err) {
        core.showError("The level text was not made: " + err.message);
        return;
      }
      ui["level-text-area"].value = text;
      ui["text-error"].hidden = true;
      ui["text-dialog"].showModal();
      ui["level-text-area"].select();
    }

    function openPasted() {
      var text = ui["level-text-area"].value;
      if (open(text, "pasted level")) {
        ui["text-dialog"].close();
        return;
      }
      ui["text-error"].textContent = hook("error").textContent;
      ui["text-error"].hidden = false;
    }

    function newLevel() {
      var blank = { format: 1, title: "New level", description: "", world: { id: "root", charges: [], agents: [], sub_environments: [] } };
      if (open(core.modelText(blank), "New level")) select({ path: [], list: null, index: 0 }, false);
    }

    // ---------------------------------------------------------------- keys

    function press(control) { if (!control.disabled) control.click(); }

    function toggleKeys() {
      if (ui["keys-help"].open) ui["keys-help"].close(); else ui["keys-help"].showModal();
    }

    function onKey(e) {
      if (e.defaultPrevented || document.querySelector("dialog[open]")) return;  // a dialog keeps its keys
      var target = e.target, tag = target && target.tagName;
      var text = tag === "TEXTAREA" || (tag === "INPUT" && !/^(button|checkbox|radio|file|range|submit|reset)$/.test(target.type));
      var key = e.key, action = null;
      if ((e.ctrlKey || e.metaKey) && !e.altKey) {
        if (text) return;  // the field's own undo
        var lower = key.toLowerCase();
        if (lower === "z") action = e.shiftKey ? redo : undo;
        else if (lower === "y") action = redo;
      } else if (text || tag === "SELECT") {
        if (key === "Escape") target.blur();
        return;
      } else if (e.altKey) {
        if (key === "ArrowUp") action = function () { moveBy(sel, -1); };
        if (key === "ArrowDown") action = function () { moveBy(sel, 1); };
      } else if (!(tag === "BUTTON" && (key === " " || key === "Enter"))) {
        action = {
          " ": function () { press(hook("play")); },
          ArrowRight: function () { press(hook("step")); },
          ArrowLeft: function () { press(hook("back")); },
          Home: function () { press(hook("reset")); },
          Delete: removeSelection,
          Escape: function () { select(null, false); },
          "?": toggleKeys
        }[key] || null;
      }
      if (action) {
        e.preventDefault();
        action();
      }
    }

    // ---------------------------------------------------------------- wiring

    function wire() {
      var choices = document.createDocumentFragment();
      kinds.forEach(function (k) {
        var option = el("option", null, k.name);
        option.value = k.kind;
        choices.appendChild(option);
      });
      ui["edit-kind"].replaceChildren(choices.cloneNode(true));
      ui["agent-kind"].replaceChildren(choices);

      ui["new-level"].addEventListener("click", newLevel);
      ui["copy-link"].addEventListener("click", copyLink);
      ui["text-io"].addEventListener("click", showText);
      ui["open-text"].addEventListener("click", openPasted);
      ui["copy-text"].addEventListener("click", function () {
        copyText(ui["level-text-area"].value).then(function (copied) {
          ui["text-error"].textContent = copied ? "Copied." : "The browser did not let the page copy: select the text and copy it.";
          ui["text-error"].hidden = false;
        });
      });
      ui["close-text"].addEventListener("click", function () { ui["text-dialog"].close(); });
      ui.undo.addEventListener("click", undo);
      ui.redo.addEventListener("click", redo);
      ui["show-keys"].addEventListener("click", toggleKeys);
      ui["keys-help"].querySelector("button").addEventListener("click", function () { ui["keys-help"].close(); });

      ui["level-title"].addEventListener("change", function () {
        var title = ui["level-title"].value;
        change(function (w) { w.level.title = title; }, true);
      });
      ui["level-description"].addEventListener("change", function () {
        var description = ui["level-description"].value;
        change(function (w) { w.level.description = description; }, true);
      });
      ui["zone-select"].addEventListener("change", function () {
        var value = ui["zone-select"].value;
        select({ path: value === "" ? [] : value.split("/").map(Number), list: null, index: 0 }, true);
      });
      ui["rename-zone"].addEventListener("click", renameZone);
      ui["remove-zone"].addEventListener("click", function () { removeZone(zonePath()); });
      ui["add-zone"].addEventListener("click", addZone);
      ui["add-charge"].addEventListener("click", addCharge);
      ui["add-agent"].addEventListener("click", addAgent);
      ui["agent-kind"].addEventListener("change", drawPanel);
      [["new-zone-id", addZone], ["charge-visual", addCharge], ["charge-magnitude", addCharge], ["agent-visual", addAgent],
       ["agent-target", addAgent], ["zone-id", renameZone]].forEach(function (pair) {
        ui[pair[0]].addEventListener("keydown", function (e) { if (e.key === "Enter") { e.preventDefault(); pair[1](); } });
      });

      fieldEdit(ui["edit-magnitude"], function (c, v) { c.magnitude = parseNumber(v, "magnitude"); });
      fieldEdit(ui["edit-polarity"], function (c, v) { c.polarity = v; });
      fieldEdit(ui["edit-visual"], function (item, v) { item.visual_id = parseName(v, "visual id"); });
      fieldEdit(ui["edit-kind"], setKind);
      fieldEdit(ui["edit-target"], function (a, v) { a.target_value = parseNumber(v, "gate target"); });
      fieldEdit(ui["edit-rule"], function (a, v) { a.rule = v; });
      ui["move-to"].addEventListener("change", function () {
        var value = ui["move-to"].value;
        if (value === "-" || !sel || !sel.list) return;
        var to = value === "" ? [] : value.split("/").map(Number);
        moveItem(sel, to, listOf(zoneAt(level(), to)[sel.list]).length);
      });
      ui["move-up"].addEventListener("click", function () { moveBy(sel, -1); });
      ui["move-down"].addEventListener("click", function () { moveBy(sel, 1); });
      ui["remove-selected"].addEventListener("click", removeSelection);

      ui.world.addEventListener("click", function (e) {
        var hit = pickAt(e.target);
        if (!hit) return;
        if (core.frames()) {
          note("The drawing shows frame " + core.frames() + ": reset (Home) to pick from the level itself.");
          return;
        }
        note("");
        select(hit, false);
      });
      ui.world.addEventListener("mouseover", function (e) {  // what the pointer is on in the level can be dragged
        if (core.frames() || !e.target.closest) return;
        var node = e.target.closest('[data-testid="charge"], [data-testid="agent"], [data-testid="zone"]');
        if (node && ui.world.contains(node) && node.getAttribute("data-path") !== "") node.draggable = true;
      });
      ui.world.addEventListener("dragstart", function (e) {
        var hit = core.frames() ? null : pickAt(e.target);
        var from = !hit ? null : hit.list ? hit : hit.path.length ?
          { path: hit.path.slice(0, -1), list: "sub_environments", index: hit.path[hit.path.length - 1] } : null;
        if (from) startDrag(e, from); else e.preventDefault();
      });
      dropTarget(ui.world, drawingDrop);
      [["zone-list", "sub_environments"], ["charge-list", "charges"], ["agent-list", "agents"]].forEach(function (pair) {
        var box = ui[pair[0]], list = pair[1];
        box.addEventListener("dragstart", function (e) {
          var row = e.target.closest && e.target.closest("li[data-index]");
          if (row) startDrag(e, { path: zonePath(), list: list, index: Number(row.getAttribute("data-index")) });
        });
        dropTarget(box, function (e) { return rowDrop(e, list); });
      });

      document.addEventListener("keydown", onKey);
      window.addEventListener("beforeunload", function (e) {
        if (!unsaved()) return;
        e.preventDefault();
        e.returnValue = "";
      });
      window.addEventListener("hashchange", function () { openLink(); });
    }

    wire();

    // For scripts that drive the page: pick by the narration's zone path, "door/hearth", then
    // ":charge:N" or ":agent:N" (N from 1) for one of its charges or agents.
    window.orvStudio.select = function (where) {
      var m = /^(.*?)(?::(charge|agent):([1-9][0-9]*))?$/.exec(String(where)), path = findZone(level(), m[1]);
      var picked = path && { path: path, list: m[2] ? m[2] + "s" : null, index: m[3] ? Number(m[3]) - 1 : 0 };
      if (!picked || !valid(picked)) return false;
      select(picked, true);
      return true;
    };
    window.orvStudio.copyLink = copyLink;

    return {
      // The studio drew the world (and, when `panel`, the level changed): the panel and the marks follow.
      drawn: function (panel) {
        if (panel) drawPanel();
        markDrawing(false);
      },
      // The studio opened a level in place of `previous` (null for the first one): a step of undo.
      opened: function (previous, size) {
        var how = pending || {};
        if (previous) remember(previous, sel, Math.ceil(size / 16));
        sel = null;
        draftId = newId();
        if (how.unsaved) keep(core.modelText(level())); else clean.add(level());
        if (previous && !how.link && location.hash.indexOf(LINK_KEY) === 0) history.replaceState(null, "", location.pathname + location.search);
        note("");
        drawTools();
      },
      // The level was saved as a file: nothing is lost if the page closes now.
      saved: function () {
        clean.add(level());
        keep("");
        drawTools();
      },
      // After the first level opened: the level of the address's link, then what storage kept.
      start: function () {
        return openLink().then(function () {
          offerDrafts();
          if (keepFault === "" && !storage()) keepWarning("This browser keeps nothing for this page (its storage is off): save the level as a file before you leave.");
          drawTools();
        });
      }
    };
  };
})();
