// The studio's verdict on a run: follows the run report by report and says whether the level is
// solved, or unsolved (or stopped by the frame limit) and why. Loads in the page and under node.
(function (exports) {
  "use strict";

  var FRAME_LIMIT = 1000;
  var GATES = { "Equals Gate": true, "The Judge": true };
  var SIGNS = { positive: "+", negative: "-", neutral: "~" };

  // Every sentence the verdict says, in one place; {name} marks what is filled in.
  var REASONS = {
    gate_closed: "{agent} in zone {zone} did not open ({test})",
    gate_frozen: "{agent} in zone {zone} never had the turn: its zone stayed frozen",
    gate_carried: "{agent} in zone {zone} was carried off unopened when zone {folded} folded into {into}",
    zone_carried: "zone {zone} was carried off when zone {folded} folded into {into}",
    zone_held: "zone {zone} is held by {agent}",
    zone_busy: "zone {zone} still holds {agents}",
    zone_stuck: "zone {zone}: {items}",
    item_gate: "{agent} did not open ({test})",
    item_agent: "{agent} could not act",
    zone_empty: "zone {zone} is empty, so it never folds",
    zone_crowded: "zone {zone} is left with {count} charges ({charges})",
    zone_unfolded: "zone {zone} has not folded yet",
    solved: "in {frames} frame{s}",
    unsolved: "after {frames} frame{s}"
  };
  var WORDS = { solved: "solved", unsolved: "UNSOLVED", limit: "FRAME LIMIT" };

  function say(key, fields) {
    return REASONS[key].replace(/\{(\w+)\}/g, function (_, name) { return String(fields[name]); });
  }

  // Numbers as the toolkit prints them: integers plainly, others with six significant digits,
  // rounded half to even from the number's exact decimal digits (as printf's %.6g rounds).
  function number(value) {
    if (value === null || value === undefined) return "?";
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

  function total(zone) {
    var sum = 0.0;
    zone.charges.forEach(function (c) {
      var m = c.magnitude === null ? NaN : c.magnitude;
      sum += c.polarity === "positive" ? m : -m;
    });
    return sum;
  }

  function chargesText(zone) {
    var items = zone.charges.map(function (c) { return (SIGNS[c.polarity] || "?") + number(c.magnitude); });
    return zone.id + ": " + (items.length ? items.join(" ") : "(no charges)");
  }

  function label(agent) { return agent.name + " (" + agent.visual_id + ")"; }

  function gateTest(agent, zone) {
    return "total " + number(total(zone)) + ", wants " + (agent.rule || "=") + " " + number(agent.target_value);
  }

  function collapsible(zone) { return zone.agents.length === 0 && zone.charges.length === 1; }

  // Where the engine folds next: the first collapsible zone below the root in post-order (each
  // sub-zone's subtree before the sub-zone itself, in list order), as [parent path, index].
  function foldPlace(world) {
    var stack = [[world, [], 0]];
    while (stack.length) {
      var top = stack[stack.length - 1];
      var subs = top[0].sub_environments;
      if (top[2] < subs.length) {
        var i = top[2]++;
        stack.push([subs[i], top[1].concat([i]), 0]);
        continue;
      }
      stack.pop();
      if (stack.length && collapsible(top[0])) return [stack[stack.length - 1][1], top[1][top[1].length - 1]];
    }
    return null;
  }

  function at(world, path) {
    for (var i = 0; i < path.length; i++) world = world.sub_environments[path[i]];
    return world;
  }

  // A shadow of the zone tree that gives every zone an identity for the whole run.
  function shadow(world, zones) {
    var root = { key: zones.length, subs: [] };
    zones.push({ everThawed: false });
    var stack = [[world, root]];
    while (stack.length) {
      var item = stack.pop();
      item[0].sub_environments.forEach(function (sub) {
        var node = { key: zones.length, subs: [] };
        zones.push({ everThawed: false });
        item[1].subs.push(node);
        stack.push([sub, node]);
      });
    }
    return root;
  }

  function Tracker(initial) {
    this.zones = [];
    this.tree = shadow(initial, this.zones);
    this.world = initial;
    this.last = null;
    this.carried = [];
  }

  // Takes the next report of the run (parsed), in frame order.
  Tracker.prototype.add = function (report) {
    var ev = report.meta && report.meta.last_event;
    if (ev && ev.type === "COLLAPSE_ZONE") {
      var place = foldPlace(this.world);
      var parentNode = this.tree;
      if (place) place[0].forEach(function (i) { parentNode = parentNode.subs[i]; });
      if (!place || "shield_" + at(this.world, place[0]).sub_environments[place[1]].id !== ev.visual_id) {
        this.tree = shadow(report, this.zones);  // cannot happen with the engine's reports
      } else {
        var into = at(this.world, place[0]);
        var folded = into.sub_environments[place[1]];
        var carried = this.carried;
        var stack = folded.sub_environments.slice().reverse();
        while (stack.length) {
          var zone = stack.pop();
          carried.push(say("zone_carried", { zone: zone.id, folded: folded.id, into: into.id }));
          zone.agents.forEach(function (a) {
            if (GATES[a.name]) {
              carried.push(say("gate_carried", { agent: label(a), zone: zone.id, folded: folded.id, into: into.id }));
            }
          });
          for (var k = zone.sub_environments.length - 1; k >= 0; k--) stack.push(zone.sub_environments[k]);
        }
        parentNode.subs.splice(place[1], 1);
      }
    }
    var zones = this.zones;
    var walk = [[report, this.tree]];
    while (walk.length) {
      var item = walk.pop();
      if (item[0].is_time_frozen === false) zones[item[1].key].everThawed = true;
      var subs = item[0].sub_environments;
      for (var j = 0; j < subs.length && j < item[1].subs.length; j++) walk.push([subs[j], item[1].subs[j]]);
    }
    this.world = report;
    this.last = report;
  };

  // What keeps the world from being solved, as the toolkit's check words it, plus what the run
  // carried off and the gates whose zone never thawed. `finished`: the run ended by itself.
  Tracker.prototype.leftovers = function (finished) {
    var zones = this.zones;
    var left = [];
    var stack = [[this.world, this.tree, true]];
    while (stack.length) {
      var item = stack.pop(), zone = item[0], node = item[1], isRoot = item[2];
      var subs = zone.sub_environments;
      for (var k = subs.length - 1; k >= 0; k--) stack.push([subs[k], node.subs[k], false]);
      var thawed = !node || zones[node.key].everThawed || !this.last;
      if (!thawed) {
        zone.agents.forEach(function (a) {
          if (GATES[a.name]) left.push(say("gate_frozen", { agent: label(a), zone: zone.id }));
        });
      }
      if (isRoot) {
        if (thawed) {
          zone.agents.forEach(function (a) {
            if (GATES[a.name]) left.push(say("gate_closed", { agent: label(a), zone: zone.id, test: gateTest(a, zone) }));
          });
        }
        continue;
      }
      if (zone.is_time_frozen) continue;  // it waits on its own sub-zones, which tell why
      var agents = zone.agents;
      var keeper = agents.filter(function (a) { return a.name === "Chronomancer"; })[0];
      if (keeper) {
        left.push(say("zone_held", { zone: zone.id, agent: label(keeper) }));
      } else if (agents.length && !finished) {
        left.push(say("zone_busy", { zone: zone.id, agents: agents.map(label).join(", ") }));
      } else if (agents.length) {
        left.push(say("zone_stuck", { zone: zone.id, items: agents.map(function (a) {
          return GATES[a.name] ? say("item_gate", { agent: label(a), test: gateTest(a, zone) })
                               : say("item_agent", { agent: label(a) });
        }).join(", ") }));
      } else if (!zone.charges.length) {
        left.push(say("zone_empty", { zone: zone.id }));
      } else if (zone.charges.length > 1) {
        left.push(say("zone_crowded", { zone: zone.id, count: zone.charges.length, charges: chargesText(zone) }));
      } else {
        left.push(say("zone_unfolded", { zone: zone.id }));
      }
    }
    return this.carried.concat(left);
  };

  // {status: "ready" | "running" | "solved" | "unsolved" | "limit", frames, reasons, text}
  Tracker.prototype.verdict = function () {
    if (!this.last) return { status: "ready", frames: 0, reasons: [], text: "not run yet" };
    var meta = this.last.meta, frames = meta.frame_index;
    var status = meta.status === "ERROR" ? "limit" : meta.status === "FINISHED" ? "finished" : "running";
    var reasons = this.leftovers(status === "finished");
    if (status === "finished") status = reasons.length ? "unsolved" : "solved";
    var fields = { frames: frames, s: frames === 1 ? "" : "s" };
    var text = status === "running" ? "running, frame " + frames :
      WORDS[status] + " " + say(status === "solved" ? "solved" : "unsolved", fields) +
      (reasons.length ? ": " + reasons.join("; ") : "");
    return { status: status, frames: frames, reasons: reasons, text: text };
  };

  exports.Tracker = Tracker;
  exports.REASONS = REASONS;
  exports.FRAME_LIMIT = FRAME_LIMIT;
  exports.number = number;
  // The verdict of a whole run: the world before frame 1, then its reports in order.
  exports.judge = function (initial, reports) {
    var tracker = new Tracker(initial);
    reports.forEach(function (r) { tracker.add(r); });
    return tracker.verdict();
  };
})(typeof module === "object" && module.exports ? module.exports : (window.OrvVerdict = {}));
