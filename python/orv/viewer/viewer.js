// Replay of an orv run. The first part, OrvReplay, is the rendering: it decodes the embedded run
// and draws one world into a detached DocumentFragment; mount() then wires a page's controls to it.
(function () {
  "use strict";

  var RULE = { "<": "<", ">": ">", "<=": "\u2264", ">=": "\u2265" };

  function el(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined && text !== null) node.textContent = String(text);
    return node;
  }

  function number(x) {
    if (x === null || x === undefined || typeof x !== "number" || !isFinite(x)) return "NaN/\u221e";
    if (Number.isInteger(x) && Math.abs(x) < 1e15) return String(x);
    var short = Number(x.toPrecision(6));
    return String(short);
  }

  // Text of a charge token: the sign of its signed value, then its magnitude.
  function chargeText(c) {
    if (c.magnitude === null || c.magnitude === undefined) {
      return (c.polarity === "positive" ? "+" : "\u2212") + "NaN/\u221e";
    }
    var m = c.magnitude;
    var negative = c.polarity !== "positive";
    if (m < 0) { negative = !negative; m = -m; }
    return (negative ? "\u2212" : "+") + number(m);
  }

  function chargeNode(c) {
    var polarity = c.polarity === "positive" || c.polarity === "negative" ? c.polarity : "neutral";
    var node = el("span", "charge " + polarity);
    node.setAttribute("data-testid", "charge");
    node.setAttribute("data-polarity", polarity);
    node.title = (c.visual_id || "") + " \u00b7 " + polarity;
    node.appendChild(el("b", null, chargeText(c)));
    if (c.visual_id) node.appendChild(el("small", null, c.visual_id));
    return node;
  }

  function agentNode(a, departed) {
    var gate = a.target_value !== undefined || a.is_open !== undefined;
    var node = el("span", "agent" + (gate ? " gate" : "") + (departed ? " departed" : "") +
      (a.state === "active" && !departed ? " active" : ""));
    node.setAttribute("data-testid", departed ? "departed-agent" : "agent");
    node.setAttribute("data-agent-id", a.visual_id || "");
    if (a.state) node.setAttribute("data-state", a.state);
    if (a.priority !== undefined) node.appendChild(el("span", "prio", a.priority));
    node.appendChild(el("span", "name", a.name));
    if (gate) {
      var rule = a.rule !== undefined ? (RULE[a.rule] || a.rule) : "=";
      node.appendChild(el("span", "rule", rule + " " + number(a.target_value)));
    }
    if (a.visual_id) node.appendChild(el("small", null, a.visual_id));
    node.title = a.name + " (" + (a.visual_id || "") + ")" + (a.state ? ", " + a.state : "");
    return node;
  }

  // The zone at `steps` (sub-zone indices from the root) of `world`; null when there is none.
  function zoneAt(world, steps) {
    if (!Array.isArray(steps)) return null;
    var zone = world;
    for (var i = 0; i < steps.length; i++) {
      var subs = zone && Array.isArray(zone.sub_environments) ? zone.sub_environments : [];
      if (!isIndex(steps[i], subs)) return null;
      zone = subs[steps[i]];
    }
    return zone && typeof zone === "object" ? zone : null;
  }

  function isIndex(i, list) { return Number.isInteger(i) && i >= 0 && i < list.length; }
  function listOf(value) { return Array.isArray(value) ? value : []; }

  // Where a frame acted and what to show there, from the engine's record of it ({action, zone,
  // index}): a cast, by the agent at `index` of the zone at path `zone`; a fold, of the sub-zone at
  // `index` into the zone at path `zone`. A frame takes at most one agent or one sub-zone out of
  // its zone, so that path names the same zone before and after it. `words` is the frame told.
  // Null when the frame acted nowhere that the worlds show.
  function place(prev, cur, record, words) {
    if (!record || (record.action !== "cast" && record.action !== "fold")) return null;
    var before = prev ? zoneAt(prev, record.zone) : null, after = cur ? zoneAt(cur, record.zone) : null;
    if (!before || !after) return null;
    var path = record.zone.map(function (i) { return "/" + i; }).join("");
    var charges = listOf(after.charges);
    if (record.action === "cast") {
      var agents = listOf(before.agents);
      if (!isIndex(record.index, agents) || !agents[record.index] || typeof agents[record.index] !== "object") return null;
      var old = listOf(before.charges), keep = 0;
      while (keep < old.length && keep < charges.length && JSON.stringify(old[keep]) === JSON.stringify(charges[keep])) keep++;
      return { action: "cast", path: path, agent: agents[record.index], fresh: charges.length - keep, from: keep };
    }
    var subs = listOf(before.sub_environments);
    if (!isIndex(record.index, subs) || !subs[record.index] || typeof subs[record.index] !== "object") return null;
    // The folded zone's one charge joins the end of its parent's.
    return { action: "fold", path: path, ghost: subs[record.index], words: words || "",
             fresh: charges.length ? 1 : 0, from: charges.length - 1 };
  }

  function zoneNode(zone, path, hit) {
    var frozen = zone.is_time_frozen === true;
    var node = el("div", "zone" + (frozen ? " frozen" : ""));
    node.setAttribute("data-testid", "zone");
    node.setAttribute("data-zone-id", zone.id);
    node.setAttribute("data-path", path);
    node.setAttribute("data-frozen", frozen ? "true" : "false");
    var head = el("div", "zone-head");
    head.appendChild(el("span", "zone-id", zone.id));
    if (frozen) head.appendChild(el("span", "frozen-tag", "\u2744 frozen"));
    node.appendChild(head);

    var isHit = hit && hit.path === path;
    if (isHit) {
      node.className += " hl";
      node.setAttribute("data-event", hit.action);
    }
    var charges = el("div", "row charges"), list = zone.charges || [];
    for (var i = 0; i < list.length; i++) {
      var token = chargeNode(list[i]);
      if (isHit && hit.fresh && i >= hit.from) { token.className += " fresh"; token.setAttribute("data-fresh", "true"); }
      charges.appendChild(token);
    }
    node.appendChild(charges);
    var agents = el("div", "row agents"), alist = zone.agents || [];
    for (var j = 0; j < alist.length; j++) agents.appendChild(agentNode(alist[j], false));
    if (isHit && hit.agent) agents.appendChild(agentNode(hit.agent, true));
    if (isHit && hit.ghost) {
      var ghost = el("span", "ghost", hit.words || "zone " + hit.ghost.id + " folded");
      ghost.setAttribute("data-testid", "collapsed-zone");
      ghost.setAttribute("data-zone-id", String(hit.ghost.id));
      agents.appendChild(ghost);
    }
    node.appendChild(agents);
    var subs = el("div", "subs");
    node.appendChild(subs);
    return { node: node, subs: subs };
  }

  // One pass over the tree with an explicit stack: deep worlds neither overflow the JS stack nor
  // meet the HTML parser's nesting limit, since nodes are created directly.
  function buildWorld(root, hit) {
    var frag = document.createDocumentFragment();
    var stack = [[root, frag, ""]];
    while (stack.length) {
      var item = stack.pop();
      var built = zoneNode(item[0], item[2], hit);
      item[1].appendChild(built.node);
      var subs = item[0].sub_environments || [];
      for (var k = subs.length - 1; k >= 0; k--) stack.push([subs[k], built.subs, item[2] + "/" + k]);
    }
    return frag;
  }

  // The event panel's rows: the event's type and the charges of the zone it touched, as the
  // engine tells the frame (its words are the caption).
  function eventList(ev, where) {
    var frag = document.createDocumentFragment();
    var rows = [["type", ev && ev.type ? ev.type : "none"]];
    if (where) rows.push(["charges", where]);
    for (var i = 0; i < rows.length; i++) {
      frag.appendChild(el("dt", null, rows[i][0]));
      var dd = el("dd", null, rows[i][1]);
      dd.setAttribute("data-field", rows[i][0]);
      frag.appendChild(dd);
    }
    return frag;
  }

  // A member set as data, whatever its name ("__proto__" included).
  function put(object, key, value) {
    Object.defineProperty(object, key, { value: value, writable: true, enumerable: true, configurable: true });
  }

  function has(object, key) { return Object.prototype.hasOwnProperty.call(object, key); }

  // The array index that a JSON Pointer token names, below `bound`; -1 when it names none.
  function arrayIndex(token, bound) {
    if (!/^(0|[1-9][0-9]*)$/.test(token)) return -1;
    var index = Number(token);
    return index < bound ? index : -1;
  }

  // Applies one frame's changes, the engine's JSON Patch of "add", "remove" and "replace"
  // operations, to the report before it. Lists and objects on the changed paths are copied, the rest
  // is shared with the report before, so every frame stays in memory at little cost. Throws an
  // Error naming the operation that does not fit the report.
  function applyChanges(prev, patch) {
    if (!Array.isArray(patch)) throw new Error("expected a list of operations, found " + JSON.stringify(patch));
    var root = prev, fresh = new Set();
    function own(value) {
      if (fresh.has(value)) return value;
      var copy;
      if (Array.isArray(value)) copy = value.slice();
      else {
        copy = {};
        Object.keys(value).forEach(function (key) { put(copy, key, value[key]); });
      }
      fresh.add(copy);
      return copy;
    }
    function container(value) { return value !== null && typeof value === "object"; }
    for (var i = 0; i < patch.length; i++) {
      var op = container(patch[i]) ? patch[i] : {}, kind = op.op, path = op.path;
      var fail = function (what) {
        throw new Error("operation " + (i + 1) + " (" + JSON.stringify(kind) + " at " + JSON.stringify(path) + "): " + what);
      };
      if (kind !== "add" && kind !== "remove" && kind !== "replace") fail("expected add, remove or replace");
      if (typeof path !== "string" || (path !== "" && path[0] !== "/")) fail("expected a JSON pointer");
      if (kind !== "remove" && !has(op, "value")) fail("expected a value");
      if (path === "") {  // the whole report, as for a saved report that does not follow
        if (kind === "remove") fail("cannot remove the whole report");
        root = op.value;
        continue;
      }
      var tokens = path.slice(1).split("/").map(function (t) { return t.replace(/~1/g, "/").replace(/~0/g, "~"); });
      if (!container(root)) fail("there is no report to change");
      root = own(root);
      var parent = root;
      for (var t = 0; t < tokens.length - 1; t++) {
        var key = tokens[t];
        if (Array.isArray(parent) ? arrayIndex(key, parent.length) < 0 : !has(parent, key)) fail("no place " + JSON.stringify(key));
        if (!container(parent[key])) fail(JSON.stringify(key) + " holds no list or object");
        var child = own(parent[key]);
        parent[key] = child;
        parent = child;
      }
      var last = tokens[tokens.length - 1];
      if (Array.isArray(parent)) {
        var index = kind === "add" && last === "-" ? parent.length : arrayIndex(last, parent.length + (kind === "add" ? 1 : 0));
        if (index < 0) fail("no place " + JSON.stringify(last) + " in a list of " + parent.length);
        if (kind === "add") parent.splice(index, 0, op.value);
        else if (kind === "remove") parent.splice(index, 1);
        else parent[index] = op.value;
      } else {
        if (kind !== "add" && !has(parent, last)) fail("no member " + JSON.stringify(last));
        if (kind === "remove") delete parent[last];
        else put(parent, last, op.value);
      }
    }
    return root;
  }

  // {start, reports, records, told, verdict, fault} of the embedded run: every report whole again,
  // with the engine's record of each frame and its words ([words, where]). Frames stop at one whose
  // changes do not fit the report before it, and `fault` says which.
  function decodeRun(data) {
    var reports = [], records = [], told = [], last = data.start || null, frames = data.frames || [], fault = "";
    for (var i = 0; i < frames.length; i++) {
      try {
        last = frames[i].full !== undefined ? frames[i].full : applyChanges(last, frames[i].changes);
      } catch (err) {
        fault = "Frame " + (i + 1) + " cannot be shown: its changes do not fit the report before it: " + err.message;
        break;
      }
      reports.push(last);
      records.push(frames[i].record || null);
      var words = Array.isArray(frames[i].told) ? frames[i].told : [];
      told.push([words[0] ? String(words[0]) : "", words[1] ? String(words[1]) : ""]);
    }
    return { start: data.start || null, reports: reports, records: records, told: told, verdict: data.verdict || null,
             fault: fault };
  }

  var VERDICT_WORD = { solved: "SOLVED", unsolved: "UNSOLVED", limit: "FRAME LIMIT", paused: "PAUSED" };

  // The verdict, as `orv check` gives it: a heading and the reasons.
  function verdictNode(verdict) {
    var n = verdict.frames, s = n === 1 ? "" : "s";
    var head = verdict.verdict === "solved" ? "Solved in " + n + " frame" + s + ": every gate opened and every zone folded."
      : verdict.verdict === "limit" ? "Stopped by the frame limit after " + n + " frame" + s + ":"
      : verdict.verdict === "unsolved" ? "Unsolved after " + n + " frame" + s + ":"
      : "Paused after " + n + " frame" + s + ".";
    var node = el("div", "verdict " + verdict.verdict);
    node.setAttribute("data-testid", "verdict");
    node.setAttribute("data-verdict", verdict.verdict);
    node.appendChild(el("strong", null, head));
    var list = el("ul");
    (verdict.reasons || []).forEach(function (reason) {
      var item = el("li", null, reason);
      item.setAttribute("data-testid", "reason");
      list.appendChild(item);
    });
    if (list.childNodes.length) node.appendChild(list);
    return node;
  }

  // Wires the page's controls (found by data-testid under `root`) to a decoded run.
  function mount(root, data) {
    function hook(id) { return root.querySelector('[data-testid="' + id + '"]'); }
    var ui = {
      root: root, frame: hook("frame"), step: hook("step"), status: hook("status"),
      caption: hook("caption"), stage: hook("world"), event: hook("event"), play: hook("play"),
      speed: hook("speed"), scrubber: hook("scrubber"), verdict: hook("verdict-box"), fault: hook("fault")
    };
    var run = decodeRun(data);
    if (ui.fault) {
      ui.fault.hidden = !run.fault;
      ui.fault.textContent = run.fault;
    }
    // Page frame 0 is the world before frame 1; page frame n is the report of the n-th frame.
    var frames = [run.start].concat(run.reports);
    var last = frames.length - 1;
    var pos = 0, timer = null;

    function show(index) {
      pos = Math.max(0, Math.min(last, index | 0));
      var world = frames[pos], meta = (world && world.meta) || {};
      ui.root.setAttribute("data-frame", String(pos));
      ui.step.textContent = "of " + last;
      ui.scrubber.value = String(pos);
      var ended = pos === last && pos > 0 && run.verdict && !run.fault;
      ui.verdict.replaceChildren(ended ? verdictNode(run.verdict) : "");
      ui.verdict.hidden = !ended;
      if (pos === 0) {
        ui.root.setAttribute("data-frame-index", "0");
        ui.frame.textContent = "0";
        ui.status.textContent = "START";
        ui.status.className = "status START";
        ui.caption.textContent = world ? "The world before frame 1." :
          "The run file begins after frame 1, so the world before it is not known.";
        ui.event.replaceChildren(eventList(null, ""));
        ui.stage.replaceChildren(world ? buildWorld(world, null) : el("p", "empty", "Step forward to frame 1."));
        if (!world && !last) ui.stage.replaceChildren(el("p", "empty", "Nothing to replay: this run has no frames."));
        return;
      }
      var told = run.told[pos - 1];
      var hit = place(frames[pos - 1], world, run.records[pos - 1], told[0]);
      ui.root.setAttribute("data-frame-index", String(meta.frame_index));
      ui.frame.textContent = String(meta.frame_index);
      var word = ended ? VERDICT_WORD[run.verdict.verdict] || String(run.verdict.verdict) : String(meta.status);
      ui.status.textContent = word;
      ui.status.className = "status " + word.replace(/[^A-Z]/g, "");
      // The frame as the engine tells it; a frame it could not follow keeps its report's message.
      ui.caption.textContent = told[0] || (meta.message === undefined ? "" : String(meta.message));
      ui.event.replaceChildren(eventList(meta.last_event, told[1]));
      ui.stage.replaceChildren(buildWorld(world, hit));
      var marked = ui.stage.querySelector(".hl");
      if (marked) marked.scrollIntoView({ block: "nearest", inline: "nearest" });
    }

    function stop() {
      if (timer !== null) clearTimeout(timer);
      timer = null;
      ui.play.textContent = "\u25b6 play";
      ui.root.setAttribute("data-playing", "false");
    }

    function tick() {
      if (pos >= last) { stop(); return; }
      show(pos + 1);
      timer = setTimeout(tick, 1000 / Number(ui.speed.value || 1));
    }

    function play() {
      if (last < 1) return;
      if (pos >= last) show(0);
      ui.play.textContent = "\u275a\u275a pause";
      ui.root.setAttribute("data-playing", "true");
      timer = setTimeout(tick, 1000 / Number(ui.speed.value || 1));
    }

    function toggle() { if (timer === null) play(); else stop(); }
    function step(delta) { stop(); show(pos + delta); }

    hook("first").addEventListener("click", function () { stop(); show(0); });
    hook("prev").addEventListener("click", function () { step(-1); });
    hook("next").addEventListener("click", function () { step(1); });
    hook("last").addEventListener("click", function () { stop(); show(last); });
    ui.play.addEventListener("click", toggle);
    ui.scrubber.addEventListener("input", function () { stop(); show(Number(ui.scrubber.value)); });
    document.addEventListener("keydown", function (e) {
      var tag = e.target && e.target.tagName;
      if (tag === "SELECT" || tag === "INPUT" && e.target.type !== "range" || e.altKey || e.ctrlKey || e.metaKey) return;
      if (tag === "BUTTON" && (e.key === " " || e.key === "Enter")) return;
      var keys = {
        ArrowLeft: function () { step(-1); }, ArrowRight: function () { step(1); },
        Home: function () { stop(); show(0); }, End: function () { stop(); show(last); },
        " ": toggle
      };
      if (keys[e.key]) { e.preventDefault(); keys[e.key](); }
    });

    ui.scrubber.max = String(last);
    ui.root.setAttribute("data-frames", String(frames.length));
    stop();
    var start = Number((location.hash.match(/^#frame=(\d+)$/) || [])[1] || 0);
    show(start);
    return { show: show, frames: frames, run: run };
  }

  window.OrvReplay = {
    decodeRun: decodeRun, applyChanges: applyChanges, buildWorld: buildWorld, place: place, eventList: eventList,
    verdictNode: verdictNode, mount: mount
  };
  var embedded = document.getElementById("orv-run");
  var page = document.querySelector('[data-testid="viewer"]');
  if (embedded && page) window.orvPage = mount(page, JSON.parse(embedded.textContent));
})();
