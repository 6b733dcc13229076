// Replay of an orv run. The first part, OrvReplay, is the rendering: it decodes the embedded run
// and draws one world into a detached DocumentFragment; mount() then wires a page's controls to it.
(function () {
  "use strict";

  var PRIORITY = {
    "Chronomancer": 100, "The Purifier": 90, "The Architect": 90, "The Replicator": 85,
    "Power Sorcerer": 75, "The Extractor": 75, "Multiply Magician": 50, "Divide Magician": 50,
    "The Scavenger": 50, "Plus Magician": 10, "Minus Magician": 10, "Equals Gate": 0, "The Judge": 0
  };
  var RULE = { "<": "<", ">": ">", "<=": "\u2264", ">=": "\u2265" };
  var CAST_WORDS = " executed operation in ";

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
    var prio = a.priority !== undefined ? a.priority : PRIORITY[a.name];
    if (prio !== undefined) node.appendChild(el("span", "prio", prio));
    node.appendChild(el("span", "name", a.name));
    if (gate) {
      var rule = a.rule !== undefined ? (RULE[a.rule] || a.rule) : "=";
      node.appendChild(el("span", "rule", rule + " " + number(a.target_value)));
    }
    if (a.visual_id) node.appendChild(el("small", null, a.visual_id));
    node.title = a.name + " (" + (a.visual_id || "") + ")" + (a.state ? ", " + a.state : "");
    return node;
  }

  function sameAgent(a, b) { return !!a && !!b && a.name === b.name && a.visual_id === b.visual_id; }

  // Where did this frame's event happen? Walks the previous and the current world side by side
  // (a cast removes one agent, a collapse one sub-zone; nothing else moves) and answers the path
  // of the touched zone in the current world, plus what to show there.
  function locate(prev, cur, shared) {
    var ev = cur.meta && cur.meta.last_event;
    if (!ev || (ev.type !== "CAST_SPELL" && ev.type !== "COLLAPSE_ZONE")) return null;
    var found = prev ? walkPair(prev, cur, ev) : null;
    if (found && found.type === "COLLAPSE_ZONE") {
      found.folded = zoneName(prev, found.path + "/" + found.index, shared || {});
      found.into = zoneName(prev, found.path, shared || {});
    }
    if (found) return found;
    if (ev.type === "CAST_SPELL") {
      var desc = ev.description || "";
      var zoneId = desc.indexOf(ev.agent_name + CAST_WORDS) === 0 ?
        desc.slice((ev.agent_name + CAST_WORDS).length) : null;
      var path = zoneId === null ? null : findZone(cur, zoneId);
      return { type: ev.type, path: path, agent: { name: ev.agent_name, visual_id: ev.visual_id }, fresh: 0 };
    }
    return { type: ev.type, path: null, ghost: { id: String(ev.visual_id || "").replace(/^shield_/, "") } };
  }

  // One zone in two reports, alike but for the freeze flags, which any frame may change: a fold
  // leaves the siblings before the folded one as they were, so siblings that share an id still
  // tell which of them went.
  function unfrozen(key, value) { return key === "is_time_frozen" ? undefined : value; }
  function sameZone(a, b) {
    return a.id === b.id && JSON.stringify(a, unfrozen) === JSON.stringify(b, unfrozen);
  }

  function walkPair(prev, cur, ev) {
    var stack = [[prev, cur, ""]];
    while (stack.length) {
      var item = stack.pop(), p = item[0], c = item[1], path = item[2];
      var pa = p.agents || [], ca = c.agents || [], ps = p.sub_environments || [], cs = c.sub_environments || [];
      if (ev.type === "CAST_SPELL" && pa.length === ca.length + 1) {
        var i = 0;
        while (i < ca.length && sameAgent(pa[i], ca[i])) i++;
        if (pa[i].visual_id === ev.visual_id && pa[i].name === ev.agent_name) {
          var pc = p.charges || [], cc = c.charges || [], keep = 0;
          while (keep < pc.length && keep < cc.length &&
                 JSON.stringify(pc[keep]) === JSON.stringify(cc[keep])) keep++;
          return { type: ev.type, path: path, agent: pa[i], fresh: cc.length - keep, from: keep };
        }
      }
      if (ev.type === "COLLAPSE_ZONE" && ps.length === cs.length + 1) {
        var j = 0;
        while (j < cs.length && sameZone(ps[j], cs[j])) j++;
        if ("shield_" + ps[j].id === ev.visual_id) {
          var n = (c.charges || []).length;
          return { type: ev.type, path: path, ghost: ps[j], index: j, fresh: n ? 1 : 0, from: n - 1 };
        }
      }
      if (ps.length !== cs.length) continue;
      for (var k = cs.length - 1; k >= 0; k--) {
        stack.push([ps[k], cs[k], path + "/" + k]);
      }
    }
    return null;
  }

  function findZone(root, id) {
    var stack = [[root, ""]];
    while (stack.length) {
      var item = stack.pop();
      if (item[0].id === id) return item[1];
      var subs = item[0].sub_environments || [];
      for (var k = subs.length - 1; k >= 0; k--) stack.push([subs[k], item[1] + "/" + k]);
    }
    return null;
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
      node.setAttribute("data-event", hit.type === "CAST_SPELL" ? "cast" : "collapse");
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
      var ghost = el("span", "ghost", "zone " + (hit.folded || hit.ghost.id) + " folded into " + (hit.into || zone.id));
      ghost.setAttribute("data-testid", "collapsed-zone");
      ghost.setAttribute("data-zone-id", hit.ghost.id);
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

  // The event panel's rows. A fold has no actor: the reports name one, but no agent folds a zone.
  function eventList(ev, hit) {
    var frag = document.createDocumentFragment();
    var rows = !ev ? [["type", "none"]]
      : ev.type === "COLLAPSE_ZONE" ? [["type", ev.type], ["what", "zone " + (hit && hit.folded ||
          String(ev.visual_id || "").replace(/^shield_/, "")) + " folded into " + (hit && hit.into || "its parent")]]
      : [["type", ev.type], ["agent", ev.agent_name], ["visual id", ev.visual_id], ["what", ev.description]];
    for (var i = 0; i < rows.length; i++) {
      frag.appendChild(el("dt", null, rows[i][0]));
      var dd = el("dd", null, rows[i][1]);
      dd.setAttribute("data-field", rows[i][0]);
      frag.appendChild(dd);
    }
    return frag;
  }


  // Ids that more than one zone of the world carries; such zones are named by their path.
  function sharedIds(world) {
    var seen = {}, shared = {}, stack = world ? [world] : [];
    while (stack.length) {
      var z = stack.pop();
      if (!z || typeof z !== "object") continue;
      var id = String(z.id);
      if (Object.prototype.hasOwnProperty.call(seen, id)) shared[id] = true; else seen[id] = true;
      var subs = z.sub_environments || [];
      for (var k = 0; k < subs.length; k++) stack.push(subs[k]);
    }
    return shared;
  }

  // The name of the zone at `path` ("/0/2") of `world`: its id, or, when its id is shared, the ids
  // along its path joined by "/", each with its place among same-id siblings ("r/b[2]").
  function zoneName(world, path, shared) {
    var steps = path ? String(path).split("/").slice(1).map(Number) : [];
    var zone = world, parts = [String(world.id)];
    for (var i = 0; i < steps.length; i++) {
      var subs = zone.sub_environments || [], child = subs[steps[i]];
      if (!child) return "?";
      var same = 0, place = 0;
      for (var k = 0; k < subs.length; k++) {
        if (String(subs[k].id) === String(child.id)) { same++; if (k <= steps[i]) place = same; }
      }
      parts.push(String(child.id) + (same > 1 ? "[" + place + "]" : ""));
      zone = child;
    }
    return shared[String(zone.id)] ? parts.join("/") : String(zone.id);
  }

  // Applies one frame's changes to the report before it. Zones on the changed paths are copied,
  // the rest is shared with the report before, so every frame stays in memory at little cost.
  function applyOps(prev, ops) {
    var root = Object.assign({}, prev), fresh = new Set([root]);
    function ownSubs(zone) {
      if (!fresh.has(zone.sub_environments)) {
        zone.sub_environments = (zone.sub_environments || []).slice();
        fresh.add(zone.sub_environments);
      }
      return zone.sub_environments;
    }
    function at(path) {
      var zone = root;
      for (var i = 0; i < path.length; i++) {
        var subs = ownSubs(zone), child = subs[path[i]];
        if (!fresh.has(child)) { child = Object.assign({}, child); subs[path[i]] = child; fresh.add(child); }
        zone = child;
      }
      return zone;
    }
    for (var i = 0; i < ops.length; i++) {
      var op = ops[i], zone = at(op[1]);
      if (op[0] === "set") Object.assign(zone, op[2]);
      else if (op[0] === "drop") op[2].forEach(function (key) { delete zone[key]; });
      else if (op[0] === "splice") {
        var list = (zone[op[2]] || []).slice();
        Array.prototype.splice.apply(list, [op[3], op[4]].concat(op[5]));
        zone[op[2]] = list;
      }
      else if (op[0] === "del") ownSubs(zone).splice(op[2], 1);
      else if (op[0] === "subs") zone.sub_environments = op[2];
    }
    return root;
  }

  // {start, reports, verdict} of the embedded run: every report whole again.
  function decodeRun(data) {
    var reports = [], last = data.start || null, frames = data.frames || [];
    for (var i = 0; i < frames.length; i++) {
      last = frames[i].full !== undefined ? frames[i].full : applyOps(last, frames[i].ops || []);
      reports.push(last);
    }
    return { start: data.start || null, reports: reports, verdict: data.verdict || null };
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
      speed: hook("speed"), scrubber: hook("scrubber"), verdict: hook("verdict-box")
    };
    var run = decodeRun(data);
    // Page frame 0 is the world before frame 1; page frame n is the report of the n-th frame.
    var frames = [run.start].concat(run.reports);
    var last = frames.length - 1;
    var shared = sharedIds(run.start || run.reports[0]);
    var pos = 0, timer = null;

    function show(index) {
      pos = Math.max(0, Math.min(last, index | 0));
      var world = frames[pos], meta = (world && world.meta) || {};
      ui.root.setAttribute("data-frame", String(pos));
      ui.step.textContent = "of " + last;
      ui.scrubber.value = String(pos);
      var ended = pos === last && pos > 0 && run.verdict;
      ui.verdict.replaceChildren(ended ? verdictNode(run.verdict) : "");
      ui.verdict.hidden = !ended;
      if (pos === 0) {
        ui.root.setAttribute("data-frame-index", "0");
        ui.frame.textContent = "0";
        ui.status.textContent = "START";
        ui.status.className = "status START";
        ui.caption.textContent = world ? "The world before frame 1." :
          "The run file begins after frame 1, so the world before it is not known.";
        ui.event.replaceChildren(eventList(null, null));
        ui.stage.replaceChildren(world ? buildWorld(world, null) : el("p", "empty", "Step forward to frame 1."));
        if (!world && !last) ui.stage.replaceChildren(el("p", "empty", "Nothing to replay: this run has no frames."));
        return;
      }
      var hit = locate(frames[pos - 1], world, shared);
      ui.root.setAttribute("data-frame-index", String(meta.frame_index));
      ui.frame.textContent = String(meta.frame_index);
      var word = ended ? VERDICT_WORD[run.verdict.verdict] || String(run.verdict.verdict) : String(meta.status);
      ui.status.textContent = word;
      ui.status.className = "status " + word.replace(/[^A-Z]/g, "");
      ui.caption.textContent = meta.message === undefined ? "" : String(meta.message);
      ui.event.replaceChildren(eventList(meta.last_event, hit));
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
    decodeRun: decodeRun, applyOps: applyOps, buildWorld: buildWorld, locate: locate, sharedIds: sharedIds,
    zoneName: zoneName, eventList: eventList, verdictNode: verdictNode, mount: mount
  };
  var embedded = document.getElementById("orv-run");
  var page = document.querySelector('[data-testid="viewer"]');
  if (embedded && page) window.orvPage = mount(page, JSON.parse(embedded.textContent));
})();
