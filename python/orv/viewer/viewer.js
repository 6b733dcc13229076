// Replay of an orv run. The reports are embedded in #orv-reports; every frame is drawn in one pass
// into a detached DocumentFragment, then swapped into the stage, so large worlds cost one layout.
(function () {
  "use strict";

  var reports = JSON.parse(document.getElementById("orv-reports").textContent) || [];
  var initial = JSON.parse(document.getElementById("orv-initial").textContent);
  var PRIORITY = {
    "Chronomancer": 100, "The Purifier": 90, "The Architect": 90, "The Replicator": 85,
    "Power Sorcerer": 75, "The Extractor": 75, "Multiply Magician": 50, "Divide Magician": 50,
    "The Scavenger": 50, "Plus Magician": 10, "Minus Magician": 10, "Equals Gate": 0, "The Judge": 0
  };
  var RULE = { "<": "<", ">": ">", "<=": "\u2264", ">=": "\u2265" };
  var CAST_WORDS = " executed operation in ";
  // Other pages (the studio) draw worlds with these and bring their own controls.
  window.OrvViewer = { buildWorld: buildWorld, locate: locate };
  if (!document.getElementById("viewer")) return;

  function hook(id) { return document.querySelector('[data-testid="' + id + '"]'); }
  var ui = {
    root: hook("viewer"), frame: hook("frame"), step: hook("step"), status: hook("status"),
    caption: hook("caption"), stage: hook("world"), event: hook("event"), play: hook("play"),
    speed: hook("speed"), scrubber: hook("scrubber")
  };

  var pos = 0;
  var timer = null;

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
  function locate(prev, cur) {
    var ev = cur.meta && cur.meta.last_event;
    if (!ev || (ev.type !== "CAST_SPELL" && ev.type !== "COLLAPSE_ZONE")) return null;
    var found = prev ? walkPair(prev, cur, ev) : null;
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
        while (j < cs.length && ps[j].id === cs[j].id) j++;
        if ("shield_" + ps[j].id === ev.visual_id) {
          var n = (c.charges || []).length;
          return { type: ev.type, path: path, ghost: ps[j], fresh: n ? 1 : 0, from: n - 1 };
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
      var ghost = el("span", "ghost", "zone " + hit.ghost.id + " folded in");
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

  function eventList(ev) {
    var frag = document.createDocumentFragment();
    var rows = ev ? [["type", ev.type], ["agent", ev.agent_name], ["visual id", ev.visual_id], ["what", ev.description]]
                  : [["type", "none"]];
    for (var i = 0; i < rows.length; i++) {
      frag.appendChild(el("dt", null, rows[i][0]));
      var dd = el("dd", null, rows[i][1]);
      dd.setAttribute("data-field", rows[i][0]);
      frag.appendChild(dd);
    }
    return frag;
  }

  function show(index) {
    if (!reports.length) {
      ui.frame.textContent = "\u2013";
      ui.status.textContent = "NO FRAMES";
      ui.caption.textContent = "This run has no frames.";
      ui.stage.replaceChildren(el("p", "empty", "Nothing to replay."));
      return;
    }
    pos = Math.max(0, Math.min(reports.length - 1, index | 0));
    var r = reports[pos], meta = r.meta || {};
    var hit = locate(pos > 0 ? reports[pos - 1] : initial, r);
    ui.root.setAttribute("data-frame", String(pos));
    ui.root.setAttribute("data-frame-index", String(meta.frame_index));
    ui.frame.textContent = String(meta.frame_index);
    ui.step.textContent = "report " + (pos + 1) + " / " + reports.length;
    ui.status.textContent = String(meta.status);
    ui.status.className = "status " + String(meta.status).replace(/[^A-Z]/g, "");
    ui.caption.textContent = meta.message === undefined ? "" : String(meta.message);
    ui.event.replaceChildren(eventList(meta.last_event));
    ui.stage.replaceChildren(buildWorld(r, hit));
    ui.scrubber.value = String(pos);
  }

  function stop() {
    if (timer !== null) clearTimeout(timer);
    timer = null;
    ui.play.textContent = "\u25b6 play";
    ui.root.setAttribute("data-playing", "false");
  }

  function tick() {
    if (pos >= reports.length - 1) { stop(); return; }
    show(pos + 1);
    timer = setTimeout(tick, 1000 / Number(ui.speed.value || 1));
  }

  function play() {
    if (reports.length < 2) return;
    if (pos >= reports.length - 1) show(0);
    ui.play.textContent = "\u275a\u275a pause";
    ui.root.setAttribute("data-playing", "true");
    timer = setTimeout(tick, 1000 / Number(ui.speed.value || 1));
  }

  function toggle() { if (timer === null) play(); else stop(); }
  function step(delta) { stop(); show(pos + delta); }

  hook("first").addEventListener("click", function () { stop(); show(0); });
  hook("prev").addEventListener("click", function () { step(-1); });
  hook("next").addEventListener("click", function () { step(1); });
  hook("last").addEventListener("click", function () { stop(); show(reports.length - 1); });
  ui.play.addEventListener("click", toggle);
  ui.scrubber.addEventListener("input", function () { stop(); show(Number(ui.scrubber.value)); });
  document.addEventListener("keydown", function (e) {
    var tag = e.target && e.target.tagName;
    if (tag === "SELECT" || e.altKey || e.ctrlKey || e.metaKey) return;
    if (tag === "BUTTON" && (e.key === " " || e.key === "Enter")) return;
    var keys = {
      ArrowLeft: function () { step(-1); }, ArrowRight: function () { step(1); },
      Home: function () { stop(); show(0); }, End: function () { stop(); show(reports.length - 1); },
      " ": toggle
    };
    if (keys[e.key]) { e.preventDefault(); keys[e.key](); }
  });

  ui.scrubber.max = String(Math.max(0, reports.length - 1));
  ui.root.setAttribute("data-frames", String(reports.length));
  stop();
  var start = Number((location.hash.match(/^#frame=(\d+)$/) || [])[1] || 0);
  show(start);
})();
