// The studio's verdict on a run: the tracker of python/orv/verdict.py step for step, so the page
// says what `orv check` says, in the same words and order. Loads in the page and under node.
(function (exports) {
  "use strict";

  var FRAME_LIMIT = 1000;
  var SHOWN_ZONES = 5;  // zones named in a frame-limit verdict
  var KEEPER = "Chronomancer";
  var GATES = { "Equals Gate": true, "The Judge": true };

  // Every sentence the verdict says, in one place; {name} marks what is filled in.
  var REASONS = {
    limit: "the engine stops every run at {limit} frames",
    still_to_fold: "{zones} still to fold",
    still_to_fold_named: "{zones} still to fold: {shown}",
    shown_more: "{shown} and {more} more",
    zone_carried: "zone {zone} was carried off when zone {folded} folded into {into} at frame {frame}",
    gate_carried: "{agent} in zone {zone} was carried off unopened when zone {folded} folded into {into} at frame {frame}",
    event_unplaced: "the event of frame {frame} ({description}) does not follow from the world before it, so the run cannot be judged",
    gate_frozen: "{agent} in zone {zone} never had the turn: zone {zone} stayed frozen",
    gate_closed: "{agent} in zone {zone} did not open ({test})",
    gate_closed_before: "{agent} in zone {zone} did not open when it last had the turn, at frame {frame} ({test}); zone {zone} stayed frozen after that",
    test_empty: "zone {zone} held no charges to weigh, it wants {rule} {target}",
    test_total: "total {total}, wants {rule} {target}",
    zone_held: "zone {zone} is held by {agent}",
    zone_stuck: "zone {zone}: {items}",
    item_agent: "{agent} could not act",
    zone_empty: "zone {zone} is empty, so it never folds",
    zone_crowded: "zone {zone} is left with {count} charges",
    zone_unfolded: "zone {zone} has not folded",
    solved: "in {frames} frame{s}",
    unsolved: "after {frames} frame{s}"
  };
  var WORDS = { solved: "solved", unsolved: "UNSOLVED", limit: "FRAME LIMIT" };

  function say(key, fields) {
    return REASONS[key].replace(/\{(\w+)\}/g, function (_, name) { return String(fields[name]); });
  }

  // A count with thousands separated by commas, as Python's "{:,}" writes it.
  function grouped(n) { return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ","); }

  function count(n, word) { return grouped(n) + " " + word + (n === 1 ? "" : "s"); }

  // Numbers as the toolkit prints them: integers plainly, others with six significant digits,
  // rounded half to even from the number's exact decimal digits (as printf's %.6g rounds).
  // null is a report's null, which stands for NaN and both infinities alike.
  function number(value) {
    if (value === null || value === undefined) return "NaN or \u00b1inf";
    if (isNaN(value)) return "nan";
    if (!isFinite(value)) return value > 0 ? "inf" : "-inf";
    if (Number.isInteger(value) && Math.abs(value) < 1e15) return String(value);
    var exact = Math.abs(value).toExponential(99);  // 100 significant digits: exact for a double
    var digits = exact[0] + exact.slice(2, exact.indexOf("e"));
    var exponent = Number(exact.slice(exact.indexOf("e") + 1));
    var head = digits.slice(0, 6), rest = digits.slice(6);
    var tie = rest[0] === "5" && /^5?0*$/.test(rest);
    if (rest[0] > "5" || (rest[0] === "5" && !tie) || (tie && Number(head[5]) % 2 === 1)) {
      head = String(Number(head) + 1);
      if (head.length > 6) { head = head.slice(0, 6); exponent += 1; }
    }
    var text;
    if (exponent < -4 || exponent >= 6) {
      var mantissa = (head[0] + "." + head.slice(1)).replace(/0+$/, "").replace(/\.$/, "");
      text = mantissa + "e" + (exponent < 0 ? "-" : "+") + (Math.abs(exponent) < 10 ? "0" : "") + Math.abs(exponent);
    } else if (exponent >= 0) {
      text = (head.slice(0, exponent + 1) + "." + head.slice(exponent + 1)).replace(/\.?0*$/, "");
    } else {
      text = ("0." + "0".repeat(-exponent - 1) + head).replace(/0+$/, "");
    }
    return (value < 0 ? "-" : "") + text;
  }

  function label(agent) { return agent.name + " (" + agent.visual_id + ")"; }

  // The engine's exact numbers, as its numbers() text gives them: "nan", "inf" and "-inf" as
  // strings, every other value as a JSON number that reads back exactly.
  function exactValue(x) {
    if (x === "nan") return NaN;
    if (x === "inf") return Infinity;
    if (x === "-inf") return -Infinity;
    return x;
  }

  function readNumbers(text) {
    var raw = typeof text === "string" ? JSON.parse(text) : text;
    return { magnitudes: raw.magnitudes.map(exactValue), targets: raw.targets.map(exactValue) };
  }

  // Each zone of a world (as parsed JSON) with the index of its first charge among all the
  // world's charges, zones in preorder: the order of the engine's numbers.
  function chargeOffsets(world) {
    var offsets = new Map(), next = 0, stack = [world];
    while (stack.length) {
      var zone = stack.pop();
      offsets.set(zone, next);
      next += zone.charges.length;
      for (var i = zone.sub_environments.length - 1; i >= 0; i--) stack.push(zone.sub_environments[i]);
    }
    return offsets;
  }

  // Yields [index of the parent in this order or null, zone] for every zone, parents first.
  function preorder(world) {
    var out = [], stack = [[null, world]];
    while (stack.length) {
      var item = stack.pop(), index = out.length;
      out.push(item);
      var subs = item[1].sub_environments;
      for (var i = subs.length - 1; i >= 0; i--) stack.push([index, subs[i]]);
    }
    return out;
  }

  // Deep equality of two parsed reports' zones (NaN never occurs in parsed JSON).
  function same(a, b) {
    if (a === b) return true;
    if (typeof a !== "object" || typeof b !== "object" || a === null || b === null) return false;
    if (Array.isArray(a) !== Array.isArray(b)) return false;
    var ka = Object.keys(a), kb = Object.keys(b);
    if (ka.length !== kb.length) return false;
    for (var i = 0; i < ka.length; i++) {
      if (!Object.prototype.hasOwnProperty.call(b, ka[i]) || !same(a[ka[i]], b[ka[i]])) return false;
    }
    return true;
  }

  var AGENT_KEYS = ["name", "visual_id", "target_value", "rule"];  // what tells agents of a zone apart

  function sameAgent(a, b) {
    return AGENT_KEYS.every(function (k) { return same(a[k] === undefined ? null : a[k], b[k] === undefined ? null : b[k]); });
  }

  // Whether two zones hold the same: ids, charges, agents and sub-zones, whatever is frozen.
  function sameZone(a, b) {
    var stack = [[a, b]];
    while (stack.length) {
      var pair = stack.pop(), x = pair[0], y = pair[1];
      if (x.id !== y.id || !same(x.charges, y.charges) || x.agents.length !== y.agents.length ||
          x.sub_environments.length !== y.sub_environments.length) return false;
      for (var i = 0; i < x.agents.length; i++) if (!sameAgent(x.agents[i], y.agents[i])) return false;
      for (var k = 0; k < x.sub_environments.length; k++) stack.push([x.sub_environments[k], y.sub_environments[k]]);
    }
    return true;
  }

  function Zone(id, parent) {
    this.id = id;
    this.parent = parent;
    this.agents = [];
    this.subs = [];
    this.total = 0.0;  // before the next frame
    this.charges = 0;
  }

  function Agent(raw, zone, target) {
    this.name = raw.name;
    this.visual_id = raw.visual_id;
    this.target = target;
    this.rule = raw.rule === undefined ? null : raw.rule;
    this.zone = zone;
    this.opened = null;   // frame at which a gate opened
    this.carried = null;  // frame at which a fold carried it off
    this.turn = null;     // [frame, total or null for an empty zone, charges]
    this.gate = GATES[raw.name] === true;
  }

  // Follows one run. `world` is the zone's JSON (parsed) before frame 1, then each report goes to
  // `add`. `numbers` (optional) returns the engine's numbers() of its current world, text or
  // parsed: it is asked only right after the tracker was made or took a report, and only when
  // the report writes a number of a zone the tracker weighs as null. Without it, such a total
  // stays unknown, as for a saved run.
  function Tracker(world, numbers) {
    this.numbersOf = numbers || null;
    this.world = world;
    this.frames = 0;
    this.status = "RUNNING";
    this.unknown = [];
    this.carried = [];
    this.started = false;
    this.cache = null;
    var ids = new Set();
    this.duplicates = new Set();
    var zones = preorder(world), nodes = [], self = this;
    zones.forEach(function (item) {
      if (ids.has(item[1].id)) self.duplicates.add(item[1].id); else ids.add(item[1].id);
    });
    var needTargets = zones.some(function (item) {
      return item[1].agents.some(function (a) { return GATES[a.name] && a.target_value === null; });
    });
    var targets = needTargets ? this.live(world) : null;
    var gateIndex = 0;
    this.root = null;
    this.gates = [];
    zones.forEach(function (item) {
      var parentIndex = item[0], zone = item[1];
      var node = new Zone(zone.id, parentIndex === null ? null : nodes[parentIndex]);
      if (node.parent) node.parent.subs.push(node); else self.root = node;
      zone.agents.forEach(function (raw) {
        var target = raw.target_value === undefined ? null : raw.target_value;
        if (GATES[raw.name]) {
          if (targets) target = targets.targets[gateIndex];
          gateIndex++;
        }
        var agent = new Agent(raw, node, target);
        node.agents.push(agent);
        if (agent.gate) self.gates.push(agent);
      });
      self.measure(node, zone, world);
      nodes.push(node);
    });
  }

  // The engine's numbers for the world `report` (the current one), asked once per report.
  Tracker.prototype.live = function (report) {
    if (!this.numbersOf) return null;
    if (!this.cache || this.cache.report !== report) {
      this.cache = { report: report, numbers: readNumbers(this.numbersOf()), offsets: null };
    }
    return this.cache.numbers;
  };

  Tracker.prototype.name = function (node) {
    if (!this.duplicates.has(node.id)) return node.id;
    var parts = [];
    while (node) {
      var part = node.id;
      if (node.parent) {
        var id = node.id;
        var sameIds = node.parent.subs.filter(function (s) { return s.id === id; });
        if (sameIds.length > 1) part += "[" + (sameIds.indexOf(node) + 1) + "]";
      }
      parts.push(part);
      node = node.parent;
    }
    return parts.reverse().join("/");
  };

  // Keeps the total of a zone that holds gates (only gates read it), from the engine's numbers
  // where the report writes a magnitude as null.
  Tracker.prototype.measure = function (node, zone, report) {
    if (!node.agents.some(function (a) { return a.gate; })) return;
    var magnitudes = zone.charges.map(function (c) { return c.magnitude; });
    if (magnitudes.indexOf(null) >= 0) {
      var numbers = this.live(report);
      if (numbers) {
        if (!this.cache.offsets) this.cache.offsets = chargeOffsets(report);
        var first = this.cache.offsets.get(zone);
        magnitudes = numbers.magnitudes.slice(first, first + zone.charges.length);
      }
    }
    var total = 0.0;
    for (var i = 0; i < magnitudes.length; i++) {
      if (magnitudes[i] === null) { total = null; break; }
      total = zone.charges[i].polarity === "positive" ? total + magnitudes[i] : total - magnitudes[i];
    }
    node.total = total;
    node.charges = zone.charges.length;
  };

  // Takes the next report of the run (parsed), in frame order.
  Tracker.prototype.add = function (report) {
    var meta = report.meta;
    var before = this.world;
    this.world = report;
    this.started = true;
    var frame = meta.frame_index;
    this.frames = frame;
    this.status = meta.status;
    var event = meta.last_event;
    var kind = event ? event.type : null;
    if (kind !== "CAST_SPELL" && kind !== "COLLAPSE_ZONE") {
      if (kind === "FINISHED" && meta.status !== "ERROR") this.turns(report, frame);
      return;
    }
    var found = this.place(before, report, event);
    if (!found) {
      this.unknown.push(say("event_unplaced", { frame: frame, description: event.description }));
      this.resync(report);
      return;
    }
    var node = found[0], zone = found[1], index = found[2];
    if (kind === "CAST_SPELL") {
      var agent = node.agents.splice(index, 1)[0];
      if (agent.gate) agent.opened = frame;
      this.measure(node, zone, report);
      return;
    }
    var folded = node.subs[index];
    var foldedName = this.name(folded), into = this.name(node), self = this;
    this.below(folded).forEach(function (inner) {
      var where = self.name(inner);
      self.carried.push(say("zone_carried", { zone: where, folded: foldedName, into: into, frame: frame }));
      inner.agents.forEach(function (a) {
        if (!a.gate) return;
        a.carried = frame;
        self.carried.push(say("gate_carried", { agent: label(a), zone: where, folded: foldedName, into: into,
                                                frame: frame }));
      });
    });
    node.subs.splice(index, 1);
    this.turns(report, frame);  // the totals are still those from before the frame
    this.measure(node, zone, report);
  };

  Tracker.prototype.below = function (folded) {
    var out = [], stack = folded.subs.slice().reverse();
    while (stack.length) {
      var inner = stack.pop();
      out.push(inner);
      for (var i = inner.subs.length - 1; i >= 0; i--) stack.push(inner.subs[i]);
    }
    return out;
  };

  // Every gate whose zone is unfrozen in this frame was offered the turn and declined.
  Tracker.prototype.turns = function (report, frame) {
    var self = this;
    this.gates.forEach(function (gate) {
      if (gate.opened !== null || gate.carried !== null) return;
      var zone = self.dictOf(gate.zone, report);
      if (zone && !zone.is_time_frozen) {
        var node = gate.zone;
        gate.turn = [frame, node.charges ? node.total : null, node.charges];
      }
    });
  };

  // The zone's dict in a report whose shape matches the tree before this frame's event.
  Tracker.prototype.dictOf = function (node, report) {
    var path = [];
    while (node.parent) {
      path.push(node.parent.subs.indexOf(node));
      node = node.parent;
    }
    var zone = report;
    for (var k = path.length - 1; k >= 0; k--) {
      var subs = zone.sub_environments;
      if (path[k] >= subs.length) return null;
      zone = subs[path[k]];
    }
    return zone;
  };

  Tracker.prototype.place = function (before, report, event) {
    var stack = [[before, report, this.root]];
    while (stack.length) {
      var item = stack.pop(), p = item[0], c = item[1], node = item[2];
      if (p === c) continue;
      var pa = p.agents, ca = c.agents, ps = p.sub_environments, cs = c.sub_environments;
      if (event.type === "CAST_SPELL" && pa.length === ca.length + 1) {
        // Agents that share a name and a visual id are told apart by their targets and rules.
        var i = 0;
        while (i < ca.length && sameAgent(pa[i], ca[i])) i++;
        if (pa[i].name === event.agent_name && pa[i].visual_id === event.visual_id) return [node, c, i];
      }
      if (event.type === "COLLAPSE_ZONE" && ps.length === cs.length + 1) {
        // The folded sub-zone is the first that differs (a fold changes nothing in its siblings
        // but when they are frozen).
        var j = 0;
        while (j < cs.length && sameZone(ps[j], cs[j])) j++;
        if ("shield_" + ps[j].id === event.visual_id) return [node, c, j];
      }
      if (ps.length !== cs.length || node.subs.length !== cs.length) continue;
      for (var k = cs.length - 1; k >= 0; k--) {
        if (!same(ps[k], cs[k])) stack.push([ps[k], cs[k], node.subs[k]]);
      }
    }
    return null;
  };

  // Rebuilds the tree from a report (after an event that does not follow from the world before).
  Tracker.prototype.resync = function (report) {
    var fresh = new Tracker(report, null);
    this.root = fresh.root;
    var self = this;
    fresh.duplicates.forEach(function (id) { self.duplicates.add(id); });
    this.gates = this.gates.filter(function (g) { return g.opened !== null || g.carried !== null; })
      .concat(fresh.gates);
  };

  Tracker.prototype.zones = function () {
    var out = [], stack = [this.root];
    while (stack.length) {
      var zone = stack.pop();
      out.push(zone);
      for (var i = zone.subs.length - 1; i >= 0; i--) stack.push(zone.subs[i]);
    }
    return out;
  };

  Tracker.prototype.closedGate = function (gate) {
    var zone = this.name(gate.zone), agent = label(gate);
    if (gate.turn === null) return say("gate_frozen", { agent: agent, zone: zone });
    var frame = gate.turn[0], total = gate.turn[1], charges = gate.turn[2];
    var wants = { zone: zone, total: number(total), rule: gate.rule || "=", target: number(gate.target) };
    var test = say(charges ? "test_total" : "test_empty", wants);
    if (frame === this.frames) return say("gate_closed", { agent: agent, zone: zone, test: test });
    return say("gate_closed_before", { agent: agent, zone: zone, frame: frame, test: test });
  };

  Tracker.prototype.stuckZone = function (node) {
    var zone = this.dictOf(node, this.world);
    if (!zone || zone.is_time_frozen) return null;  // it waits on its own sub-zones, which tell why
    var name = this.name(node);
    var keeper = node.agents.filter(function (a) { return a.name === KEEPER; })[0];
    var others = node.agents.filter(function (a) { return !a.gate; });
    if (keeper) return say("zone_held", { zone: name, agent: label(keeper) });
    if (others.length) {
      return say("zone_stuck", { zone: name, items: others.map(function (a) {
        return say("item_agent", { agent: label(a) });
      }).join(", ") });
    }
    if (node.agents.length) return null;  // its gates tell why
    if (!zone.charges.length) return say("zone_empty", { zone: name });
    if (zone.charges.length > 1) return say("zone_crowded", { zone: name, count: zone.charges.length });
    return say("zone_unfolded", { zone: name });
  };

  // {status: "ready" | "running" | "solved" | "unsolved" | "limit", frames, reasons, text}:
  // status and reasons are those of `orv check --json` once the run has ended.
  Tracker.prototype.verdict = function () {
    if (!this.started) return { status: "ready", frames: 0, reasons: [], text: "not run yet" };
    var frames = this.frames, status, reasons, self = this;
    if (this.status === "ERROR") {
      var left = this.zones().filter(function (z) { return z !== self.root; })
        .map(function (z) { return self.name(z); });
      var shown = left.slice(0, SHOWN_ZONES).join(", ");
      if (left.length > SHOWN_ZONES) shown = say("shown_more", { shown: shown, more: grouped(left.length - SHOWN_ZONES) });
      status = "limit";
      reasons = [say("limit", { limit: grouped(FRAME_LIMIT) }),
                 say(left.length ? "still_to_fold_named" : "still_to_fold", { zones: count(left.length, "zone"), shown: shown })];
    } else if (this.status !== "FINISHED") {
      return { status: "running", frames: frames, reasons: [], text: "running, frame " + frames };
    } else {
      reasons = this.unknown.concat(this.carried);
      this.gates.forEach(function (g) {
        if (g.opened === null && g.carried === null) reasons.push(self.closedGate(g));
      });
      this.zones().forEach(function (z) {
        if (z === self.root) return;
        var reason = self.stuckZone(z);
        if (reason) reasons.push(reason);
      });
      status = reasons.length ? "unsolved" : "solved";
    }
    var fields = { frames: frames, s: frames === 1 ? "" : "s" };
    var text = WORDS[status] + " " + say(status === "solved" ? "solved" : "unsolved", fields) +
      (reasons.length ? ": " + reasons.join("; ") : "");
    return { status: status, frames: frames, reasons: reasons, text: text };
  };

  exports.Tracker = Tracker;
  exports.REASONS = REASONS;
  exports.FRAME_LIMIT = FRAME_LIMIT;
  exports.number = number;
  // The verdict of a whole run kept as text: the world before frame 1, then its reports in order
  // (without the engine behind it, a total that a report writes as null stays unknown).
  exports.judge = function (initial, reports) {
    var tracker = new Tracker(initial, null);
    reports.forEach(function (r) { tracker.add(r); });
    return tracker.verdict();
  };
})(typeof module === "object" && module.exports ? module.exports : (window.OrvVerdict = {}));
