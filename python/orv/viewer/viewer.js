// Replay of an orv run. The first part, OrvReplay, is shared with the studio: the world kept as one
// document that each frame's changes (the engine's JSON Patch) move forward and the changes that
// undo them move back, and a drawing of it that redraws only the zones a frame touched. mount()
// then wires a replay page's controls to an embedded run.
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

  function container(value) { return value !== null && typeof value === "object"; }
  function record(value) { return container(value) && !Array.isArray(value) ? value : {}; }
  function isIndex(i, list) { return Number.isInteger(i) && i >= 0 && i < list.length; }
  function listOf(value) { return Array.isArray(value) ? value : []; }

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
    c = record(c);
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
    a = record(a);
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
    return container(zone) && !Array.isArray(zone) ? zone : null;
  }

  // ---------------------------------------------------------------- changes

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

  // A copy of a JSON value, made with a stack of its own so that any depth is copied.
  function copyValue(value) {
    if (!container(value)) return value;
    function fresh(v) { return Array.isArray(v) ? new Array(v.length) : {}; }
    var top = fresh(value), stack = [value, top];
    while (stack.length) {
      var into = stack.pop(), from = stack.pop(), item, made;
      if (Array.isArray(from)) {
        for (var i = 0; i < from.length; i++) {
          item = from[i];
          if (container(item)) { made = fresh(item); stack.push(item, made); into[i] = made; } else into[i] = item;
        }
      } else {
        var keys = Object.keys(from);
        for (var k = 0; k < keys.length; k++) {
          item = from[keys[k]];
          if (container(item)) { made = fresh(item); stack.push(item, made); put(into, keys[k], made); } else put(into, keys[k], item);
        }
      }
    }
    return top;
  }

  function pointer(tokens) {
    return tokens.map(function (t) { return "/" + t.replace(/~/g, "~0").replace(/\//g, "~1"); }).join("");
  }

  // Applies one frame's changes, a JSON Patch of "add", "remove" and "replace" operations, to
  // `world` in place, and returns {world, undo}: the world after them (another object only when
  // the whole document is replaced) and the patch that takes it back, which holds what the changes
  // took out. Values are copied in, so the patch stays as it was given, unless `adopt` says that
  // they are the world's to keep (an undo, used once). `each`, when given, is told of every
  // operation once it is applied: each(op, tokens, index, value), `index` the list index it acted
  // at and `value` what it put there. A patch that does not fit throws an Error naming the
  // operation and leaves the world as it was.
  function applyChanges(world, patch, each, adopt) {
    if (!Array.isArray(patch)) throw new Error("expected a list of operations, found " + JSON.stringify(patch));
    var root = world, undo = [];
    function take(value) { return adopt ? value : copyValue(value); }
    function apply(op, tokens, value) {
      if (!tokens.length) {
        var old = root;
        root = op === "remove" ? null : take(value);
        undo.push({ op: "replace", path: "", value: old === undefined ? null : old });
        if (each) each(op, tokens, -1, root);
        return null;
      }
      if (!container(root)) return "there is no report to change";
      var parent = root;
      for (var t = 0; t < tokens.length - 1; t++) {
        var key = tokens[t];
        if (Array.isArray(parent) ? arrayIndex(key, parent.length) < 0 : !has(parent, key)) return "no place " + JSON.stringify(key);
        if (!container(parent[key])) return JSON.stringify(key) + " holds no list or object";
        parent = parent[key];
      }
      var last = tokens[tokens.length - 1], index = -1, inserted;
      if (Array.isArray(parent)) {
        index = op === "add" && last === "-" ? parent.length : arrayIndex(last, parent.length + (op === "add" ? 1 : 0));
        if (index < 0) return "no place " + JSON.stringify(last) + " in a list of " + parent.length;
        var at = pointer(tokens.slice(0, -1).concat([String(index)]));
        if (op === "add") {
          parent.splice(index, 0, inserted = take(value));
          undo.push({ op: "remove", path: at });
        } else if (op === "remove") {
          undo.push({ op: "add", path: at, value: parent.splice(index, 1)[0] });
        } else {
          undo.push({ op: "replace", path: at, value: parent[index] });
          parent[index] = inserted = take(value);
        }
      } else {
        var held = has(parent, last), path = pointer(tokens);
        if (op !== "add" && !held) return "no member " + JSON.stringify(last);
        if (op === "remove") {
          undo.push({ op: "add", path: path, value: parent[last] });
          delete parent[last];
        } else {
          undo.push(held ? { op: "replace", path: path, value: parent[last] } : { op: "remove", path: path });
          put(parent, last, inserted = take(value));
        }
      }
      if (each) each(op, tokens, index, inserted);
      return null;
    }
    function quoted(value) { return value === undefined ? "nothing" : JSON.stringify(value); }
    for (var i = 0; i < patch.length; i++) {
      var op = record(patch[i]), kind = op.op, path = op.path, fault = null;
      if (op !== patch[i]) fault = "expected an operation object, found " + quoted(patch[i]);
      else if (kind !== "add" && kind !== "remove" && kind !== "replace") fault = "expected add, remove or replace";
      else if (typeof path !== "string" || (path !== "" && path[0] !== "/")) fault = "expected a JSON pointer";
      else if (kind !== "remove" && !has(op, "value")) fault = "expected a value";
      else if (path === "" && kind === "remove") fault = "cannot remove the whole report";
      else {
        var tokens = path === "" ? [] : path.slice(1).split("/").map(function (t) { return t.replace(/~1/g, "/").replace(/~0/g, "~"); });
        fault = apply(kind, tokens, op.value);
      }
      if (fault !== null) {
        // Undone in reverse, the operations before this one leave the world as it was given.
        var back = applyChanges(root, undo.reverse(), null, true);
        root = back.world;
        throw new Error("operation " + (i + 1) + (op === patch[i] ? " (" + quoted(kind) + " at " + quoted(path) + ")" : "") +
                        ": " + fault);
      }
    }
    return { world: root, undo: undo.reverse() };
  }

  // ---------------------------------------------------------------- where a frame acted

  // What the world shows of a frame before its changes, from the engine's record of it ({action,
  // zone, index}): a cast, by the agent at `index` of the zone at path `zone`; a fold, of the
  // sub-zone at `index` into the zone at path `zone`. A frame takes at most one agent or one
  // sub-zone out of its zone, so that path names the same zone before and after it. Null when the
  // frame acted nowhere that the world shows.
  function before(world, rec) {
    if (!container(rec) || (rec.action !== "cast" && rec.action !== "fold")) return null;
    var zone = zoneAt(world, rec.zone);
    if (!zone) return null;
    var list = listOf(rec.action === "cast" ? zone.agents : zone.sub_environments);
    if (!isIndex(rec.index, list) || !container(list[rec.index])) return null;
    return { action: rec.action, steps: rec.zone.slice(), item: list[rec.index], charges: listOf(zone.charges).slice() };
  }

  // The mark of a frame once its changes are applied: {action, steps, path, agent (a cast) or ghost
  // (a fold) and words, fresh: how many charges are new, from: where they start}.
  function after(world, seen, words) {
    var zone = seen ? zoneAt(world, seen.steps) : null;
    if (!zone) return null;
    var charges = listOf(zone.charges), path = seen.steps.map(function (i) { return "/" + i; }).join("");
    if (seen.action === "cast") {
      var old = seen.charges, keep = 0;
      while (keep < old.length && keep < charges.length &&
             (old[keep] === charges[keep] || JSON.stringify(old[keep]) === JSON.stringify(charges[keep]))) keep++;
      return { action: "cast", steps: seen.steps, path: path, agent: seen.item, fresh: charges.length - keep, from: keep };
    }
    // The folded zone's one charge joins the end of its parent's.
    return { action: "fold", steps: seen.steps, path: path, ghost: seen.item, words: words || "",
             fresh: charges.length ? 1 : 0, from: charges.length - 1 };
  }

  // ---------------------------------------------------------------- drawing

  // A zone's box holds its own parts (head, charges, agents) and then its sub-zones' box, which
  // holds them in chunks of CHUNK boxes (up to twice as many once zones come back): a zone that
  // changes size lays out its chunk again, not every sibling it has.
  var SUBS = 3, CHUNK = 50;
  // The zone each drawn box shows, and the charge each charge token shows.
  var shown = new WeakMap(), shownCharge = new WeakMap();

  // The box of sub-zone `k` of the zone box `node`; null when there is none.
  function subAt(node, k) {
    var chunks = node.children[SUBS].children;
    for (var c = 0; c < chunks.length; c++) {
      var kids = chunks[c].children;
      if (k < kids.length) return kids[k];
      k -= kids.length;
    }
    return null;
  }

  // Puts `box` in as sub-zone `k` of the zone box `node` (k at most their number).
  function insertSub(node, k, box) {
    var subs = node.children[SUBS], chunks = subs.children;
    if (!chunks.length) subs.appendChild(el("div", "chunk"));
    for (var c = 0; c < chunks.length; c++) {
      var chunk = chunks[c], kids = chunk.children;
      if (k < kids.length || (k === kids.length && c === chunks.length - 1)) {
        chunk.insertBefore(box, kids[k] || null);
        if (kids.length > 2 * CHUNK) {  // split in two
          var next = el("div", "chunk");
          chunk.after(next);
          while (kids.length > CHUNK) next.insertBefore(chunk.lastChild, next.firstChild);
        }
        return;
      }
      k -= kids.length;
    }
  }

  // Takes `box`, a sub-zone box, out, and its chunk with it when that is left empty.
  function removeSub(box) {
    var chunk = box.parentNode;
    chunk.removeChild(box);
    if (!chunk.firstChild) chunk.remove();
  }

  function zoneBox(path) {
    var node = el("div", "zone");
    node.setAttribute("data-testid", "zone");
    node.setAttribute("data-path", path);
    node.appendChild(el("div", "zone-head"));
    node.appendChild(el("div", "row charges"));
    node.appendChild(el("div", "row agents"));
    node.appendChild(el("div", "subs"));
    return node;
  }

  // Draws a zone's charges into its row, the new ones marked as `hit` says. The tokens at the
  // start that show the same charges as before, marked alike, are kept (a charge added at the end
  // costs one token), unless `again` says that a charge may have changed in place.
  function fillCharges(row, list, hit, again) {
    var kids = row.children, keep = 0;
    function fresh(i) { return !!(hit && hit.fresh && i >= hit.from); }
    if (!again) {
      while (keep < kids.length && keep < list.length && shownCharge.get(kids[keep]) === list[keep] &&
             kids[keep].hasAttribute("data-fresh") === fresh(keep)) keep++;
    }
    if (!keep) row.replaceChildren();
    while (kids.length > keep) row.removeChild(row.lastChild);
    var tokens = document.createDocumentFragment();
    for (var i = keep; i < list.length; i++) {
      var token = chargeNode(list[i]);
      shownCharge.set(token, list[i]);
      if (fresh(i)) { token.className += " fresh"; token.setAttribute("data-fresh", "true"); }
      tokens.appendChild(token);
    }
    row.appendChild(tokens);
  }

  // Draws a zone's own parts into its box, marked as `hit` says when the frame acted there; its
  // sub-zones are left as they are. `again`: a charge may have changed in place.
  function fillZone(node, zone, hit, again) {
    zone = record(zone);
    shown.set(node, zone);
    var frozen = zone.is_time_frozen === true;
    node.className = "zone" + (frozen ? " frozen" : "") + (hit ? " hl" : "");
    node.setAttribute("data-zone-id", zone.id);
    node.setAttribute("data-frozen", frozen ? "true" : "false");
    if (hit) node.setAttribute("data-event", hit.action); else node.removeAttribute("data-event");
    // The parts keep their boxes and take new contents: their siblings, the sub-zones among them,
    // are left alone by the style engine.
    var head = document.createDocumentFragment();
    head.appendChild(el("span", "zone-id", zone.id));
    if (frozen) head.appendChild(el("span", "frozen-tag", "\u2744 frozen"));
    var agents = document.createDocumentFragment(), alist = listOf(zone.agents);
    for (var j = 0; j < alist.length; j++) agents.appendChild(agentNode(alist[j], false));
    if (hit && hit.agent) agents.appendChild(agentNode(hit.agent, true));
    if (hit && hit.ghost) {
      var ghost = el("span", "ghost", hit.words || "zone " + record(hit.ghost).id + " folded");
      ghost.setAttribute("data-testid", "collapsed-zone");
      ghost.setAttribute("data-zone-id", String(record(hit.ghost).id));
      agents.appendChild(ghost);
    }
    var parts = node.children;
    parts[0].replaceChildren(head);
    fillCharges(parts[1], listOf(zone.charges), hit, again);
    parts[2].replaceChildren(agents);
  }

  // The boxes of `root` and every zone below it, built with a stack of their own: deep worlds
  // neither overflow the JS stack nor meet the HTML parser's nesting limit. Returns the top box and
  // the one marked by `hit`.
  function buildZone(root, path, hit) {
    var top = null, marked = null, stack = [[root, null, path]];
    while (stack.length) {
      var item = stack.pop(), zone = record(item[0]), node = zoneBox(item[2]);
      var mark = hit && hit.path === item[2] ? hit : null;
      fillZone(node, zone, mark);
      if (mark) marked = node;
      if (item[1]) item[1].appendChild(node); else top = node;
      var subs = listOf(zone.sub_environments), chunks = [];
      for (var c = 0; c * CHUNK < subs.length; c++) chunks.push(node.children[SUBS].appendChild(el("div", "chunk")));
      for (var k = subs.length - 1; k >= 0; k--) stack.push([subs[k], chunks[Math.floor(k / CHUNK)], item[2] + "/" + k]);
    }
    return { node: top, marked: marked };
  }

  // The whole world in a detached DocumentFragment.
  function buildWorld(root, hit) {
    var frag = document.createDocumentFragment();
    frag.appendChild(buildZone(root, "", hit).node);
    return frag;
  }

  // Calls `each(box, k)` for the sub-zone boxes of the zone box `node` from sub-zone `from` on.
  function eachSub(node, from, each) {
    var chunks = node.children[SUBS].children, k = 0;
    for (var c = 0; c < chunks.length; c++) {
      var kids = chunks[c].children;
      if (k + kids.length <= from) { k += kids.length; continue; }
      for (var i = 0; i < kids.length; i++, k++) if (k >= from) each(kids[i], k);
    }
  }

  // Sets the paths of `node`'s box and of every box below it, from `path`.
  function renumber(node, path) {
    var stack = [node, path], at = path;
    function push(box, k) { stack.push(box, at + "/" + k); }
    while (stack.length) {
      at = stack.pop();
      var box = stack.pop();
      if (box.getAttribute("data-path") !== at) box.setAttribute("data-path", at);
      eachSub(box, 0, push);
    }
  }

  // A world drawn into `stage`, kept in step with the world's document: after a frame, only the
  // zones whose paths its changes name are drawn again (their own parts), a sub-zone that folded
  // goes and one that came back is built, and the boxes after it take their new paths. `empty` is
  // what the stage says when there is no world.
  function Drawing(stage, empty) {
    this.stage = stage;
    this.empty = empty || "";
    this.root = null;
    this.marked = null;
  }

  // Draws `world` whole, marked where `hit` says.
  Drawing.prototype.draw = function (world, hit) {
    this.marked = null;
    if (!container(world) || Array.isArray(world)) {
      this.root = null;
      this.stage.replaceChildren(el("p", "empty", this.empty));
      return;
    }
    var built = buildZone(world, "", hit);
    this.root = built.node;
    this.marked = built.marked;
    this.stage.replaceChildren(built.node);
  };

  // Draws `world` in place of the world drawn, keeping the boxes of the zones that show the same
  // (an edit of the level touches a few): a zone's own parts are filled again where they differ, and
  // a zone whose sub-zones are not as many as before is built again with all below it. Nothing is
  // marked.
  Drawing.prototype.redraw = function (world) {
    if (!this.root || !container(world) || Array.isArray(world)) {
      this.draw(world, null);
      return;
    }
    var marked = this.marked, stack = [[this.root, world]];
    this.marked = null;
    while (stack.length) {
      var item = stack.pop(), node = item[0], zone = record(item[1]), old = shown.get(node);
      var subs = listOf(zone.sub_environments);
      if (!old || listOf(old.sub_environments).length !== subs.length) {
        var built = buildZone(zone, node.getAttribute("data-path"), null).node;
        if (node === this.root) {
          this.root = built;
          this.stage.replaceChildren(built);
        } else {
          node.parentNode.replaceChild(built, node);
        }
        continue;
      }
      if (node === marked || !sameParts(old, zone)) fillZone(node, zone, null, true); else shown.set(node, zone);
      for (var k = 0; k < subs.length; k++) stack.push([subAt(node, k), subs[k]]);
    }
  };

  // Whether two zones show the same: their ids, freeze flags, charges and agents alike (a charge's
  // or an agent's members are plain values; any other value counts as changed).
  function sameParts(a, b) {
    return a.id === b.id && a.is_time_frozen === b.is_time_frozen &&
           sameMembers(listOf(a.charges), listOf(b.charges)) && sameMembers(listOf(a.agents), listOf(b.agents));
  }

  function sameMembers(a, b) {
    if (a.length !== b.length) return false;
    for (var i = 0; i < a.length; i++) {
      var x = record(a[i]), y = record(b[i]), keys = Object.keys(x);
      if (keys.length !== Object.keys(y).length) return false;
      for (var j = 0; j < keys.length; j++) {
        var value = x[keys[j]];
        if (container(value) || !Object.is(value, y[keys[j]])) return false;
      }
    }
    return true;
  }

  // The box of the zone at `steps`, as the boxes stand; null when there is none.
  Drawing.prototype.box = function (steps) {
    var node = this.root;
    for (var i = 0; node && i < steps.length; i++) node = subAt(node, steps[i]);
    return node;
  };

  // Follows one patch as applyChanges applies it: give `op` as its `each`, then call done(world,
  // hit) with the world after it and the frame's mark. A change that this cannot follow, or a
  // patch that failed (done(world, hit, true)), draws the world whole.
  Drawing.prototype.follow = function () {
    var self = this, dirty = new Set(), deep = new Set(), moved = new Map(), whole = !this.root;
    function steps(tokens) {
      // The zone that the tokens lead to and what follows it: [steps, rest].
      var out = [], i = 0;
      while (i + 2 < tokens.length && tokens[i] === "sub_environments") { out.push(Number(tokens[i + 1])); i += 2; }
      return [out, tokens.slice(i)];
    }
    return {
      op: function (op, tokens, index, value) {
        if (whole) return;
        if (tokens.length === 1 && tokens[0] === "meta") return;  // the report's meta is not drawn
        var found = steps(tokens), rest = found[1], node = self.box(found[0]);
        if (!node || !tokens.length) { whole = true; return; }
        if (rest.length === 2 && rest[0] === "sub_environments") {
          var old = subAt(node, index), path = node.getAttribute("data-path");
          if (op !== "add" && !old) { whole = true; return; }
          if (op !== "remove") {
            var built = buildZone(value, path + "/" + index, null).node;
            if (op === "add") insertSub(node, index, built); else old.parentNode.replaceChild(built, old);
          } else {
            removeSub(old);
          }
          if (op !== "replace" && !(moved.get(node) <= index)) moved.set(node, index);
        } else if (rest[0] === "sub_environments" || !rest.length) {
          whole = true;  // a list of sub-zones or a zone replaced whole
        } else {
          dirty.add(node);  // its charges, agents, id or freeze flag
          if (rest[0] === "charges" && rest.length > 2) deep.add(node);  // inside a charge
        }
      },
      done: function (world, hit, failed) {
        if (whole || failed) { self.draw(world, hit); return; }
        moved.forEach(function (from, node) {
          if (!self.stage.contains(node)) return;
          var path = node.getAttribute("data-path");
          eachSub(node, from, function (box, k) { renumber(box, path + "/" + k); });
        });
        if (self.marked) dirty.add(self.marked);
        var target = hit ? self.box(hit.steps) : null;
        if (target) dirty.add(target);
        dirty.forEach(function (node) {
          if (self.stage.contains(node)) fillZone(node, shown.get(node), node === target ? hit : null, deep.has(node));
        });
        self.marked = target;
      }
    };
  };

  // ---------------------------------------------------------------- a run, frame by frame

  // A run that a page shows one frame at a time: `world` is the world at frame `pos` (null while
  // it is not known), moved forward by each frame's changes and back by the changes that undo
  // them, noted on the way forward. Each frame: {changes, record, told: [words, where], undo, hit},
  // and whatever the page keeps with it.
  function Track(start) {
    this.world = start === undefined ? null : start;
    this.pos = 0;
    this.frames = [];
  }

  Track.prototype.add = function (changes, rec, told) {
    var words = Array.isArray(told) ? told : [];
    var frame = { changes: changes, record: rec === undefined ? null : rec, undo: null, hit: null,
                  told: [words[0] ? String(words[0]) : "", words[1] ? String(words[1]) : ""] };
    this.frames.push(frame);
    return frame;
  };

  // The mark of the frame shown (null at frame 0).
  Track.prototype.hit = function () { return this.pos ? this.frames[this.pos - 1].hit : null; };

  // One frame forward, drawn on `drawing` when given. Throws the applier's Error for changes that
  // do not fit, the world staying at the frame it was.
  Track.prototype.forward = function (drawing) {
    var frame = this.frames[this.pos], follow = drawing ? drawing.follow() : null;
    var seen = before(this.world, frame.record), done;
    try {
      done = applyChanges(this.world, frame.changes, follow && follow.op);
    } catch (err) {
      if (follow) follow.done(this.world, this.hit(), true);
      throw err;
    }
    this.world = done.world;
    frame.undo = done.undo;
    frame.hit = after(this.world, seen, frame.told[0]);
    this.pos++;
    if (follow) follow.done(this.world, frame.hit);
  };

  // One frame back.
  Track.prototype.back = function (drawing) {
    var frame = this.frames[this.pos - 1], follow = drawing ? drawing.follow() : null;
    var done = applyChanges(this.world, frame.undo, follow && follow.op, true);
    this.world = done.world;
    frame.undo = null;
    this.pos--;
    if (follow) follow.done(this.world, this.hit());
  };

  // To frame `index`: step by step on the drawing when it is near, else unseen and drawn whole.
  Track.prototype.go = function (index, drawing) {
    var near = Math.abs(index - this.pos) <= 64, along = near ? drawing : null;
    while (this.pos < index) this.forward(along);
    while (this.pos > index) this.back(along);
    if (drawing && !near) drawing.draw(this.world, this.hit());
  };

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

  // The embedded run as a Track at frame 0, with its verdict: {track, verdict, fault}. Every frame
  // is tried once on the way in: frames stop at one whose changes do not fit the report before it,
  // and `fault` says which.
  function decodeRun(data) {
    data = record(data);
    var track = new Track(container(data.start) ? data.start : null), frames = listOf(data.frames), fault = "";
    for (var i = 0; i < frames.length; i++) {
      var frame = record(frames[i]);
      track.add(frame.full !== undefined ? [{ op: "replace", path: "", value: frame.full }] : frame.changes,
                frame.record, frame.told);
      try {
        track.forward(null);
      } catch (err) {
        fault = "Frame " + (i + 1) + " cannot be shown: its changes do not fit the report before it: " + err.message;
        track.frames.pop();
        break;
      }
    }
    track.go(0, null);
    return { track: track, verdict: container(data.verdict) ? data.verdict : null, fault: fault };
  }

  // The verdict, as `orv check` gives it: the engine's heading and the reasons.
  function verdictNode(verdict, heading) {
    var node = el("div", "verdict " + verdict.verdict);
    node.setAttribute("data-testid", "verdict");
    node.setAttribute("data-verdict", verdict.verdict);
    node.appendChild(el("strong", null, heading || verdict.verdict));
    var list = el("ul");
    listOf(verdict.reasons).forEach(function (reason) {
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
    var run = decodeRun(data), track = run.track;
    if (ui.fault) {
      ui.fault.hidden = !run.fault;
      ui.fault.textContent = run.fault;
    }
    // Page frame 0 is the world before frame 1; page frame n is the report of the n-th frame.
    var last = track.frames.length;
    var drawing = new Drawing(ui.stage, last ? "Step forward to frame 1." : "Nothing to replay: this run has no frames.");
    drawing.draw(track.world, null);
    var timer = null;

    function show(index) {
      var pos = Math.max(0, Math.min(last, index | 0));
      track.go(pos, drawing);
      var world = track.world, meta = record(record(world).meta);
      ui.root.setAttribute("data-frame", String(pos));
      ui.step.textContent = "of " + last;
      ui.scrubber.value = String(pos);
      var ended = pos === last && pos > 0 && run.verdict && !run.fault;
      ui.verdict.replaceChildren(ended ? verdictNode(run.verdict, run.verdict.heading) : "");
      ui.verdict.hidden = !ended;
      if (pos === 0) {
        ui.root.setAttribute("data-frame-index", "0");
        ui.frame.textContent = "0";
        ui.status.textContent = "START";
        ui.status.className = "status START";
        ui.caption.textContent = world ? "The world before frame 1." :
          "The run file begins after frame 1, so the world before it is not known.";
        ui.event.replaceChildren(eventList(null, ""));
        return;
      }
      var told = track.frames[pos - 1].told;
      ui.root.setAttribute("data-frame-index", String(meta.frame_index));
      ui.frame.textContent = String(meta.frame_index);
      var word = String(ended ? run.verdict.word : meta.status);
      ui.status.textContent = word;
      ui.status.className = "status " + word.replace(/[^A-Z]/g, "");
      // The frame as the engine tells it; a frame it could not follow keeps its report's message.
      ui.caption.textContent = told[0] || (meta.message === undefined ? "" : String(meta.message));
      ui.event.replaceChildren(eventList(meta.last_event, told[1]));
      if (drawing.marked) drawing.marked.scrollIntoView({ block: "nearest", inline: "nearest" });
    }

    function stop() {
      if (timer !== null) clearTimeout(timer);
      timer = null;
      ui.play.textContent = "\u25b6 play";
      ui.root.setAttribute("data-playing", "false");
    }

    function tick() {
      if (track.pos >= last) { stop(); return; }
      show(track.pos + 1);
      timer = setTimeout(tick, 1000 / Number(ui.speed.value || 1));
    }

    function play() {
      if (last < 1) return;
      if (track.pos >= last) show(0);
      ui.play.textContent = "\u275a\u275a pause";
      ui.root.setAttribute("data-playing", "true");
      timer = setTimeout(tick, 1000 / Number(ui.speed.value || 1));
    }

    function toggle() { if (timer === null) play(); else stop(); }
    function step(delta) { stop(); show(track.pos + delta); }

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
    ui.root.setAttribute("data-frames", String(last + 1));
    stop();
    var start = Number((location.hash.match(/^#frame=(\d+)$/) || [])[1] || 0);
    show(start);
    // For scripts that drive the page: the frame shown and its world (the document itself).
    return { show: show, run: run, frame: function () { return track.pos; }, world: function () { return track.world; } };
  }

  var api = {
    applyChanges: applyChanges, copyValue: copyValue, Track: Track, Drawing: Drawing, buildWorld: buildWorld,
    decodeRun: decodeRun, eventList: eventList, verdictNode: verdictNode, mount: mount
  };
  window.OrvReplay = api;
  if (typeof document === "undefined") return;  // under node, for the tests of the applier
  var embedded = document.getElementById("orv-run");
  var page = document.querySelector('[data-testid="viewer"]');
  if (!embedded || !page) return;
  if (embedded.getAttribute("data-encoding") !== "deflate-raw") {
    window.orvPage = mount(page, JSON.parse(embedded.textContent));
    return;
  }
  // A long run comes deflated: it is inflated before the page shows it.
  var packed = atob(embedded.textContent.trim()), bytes = new Uint8Array(packed.length);
  for (var i = 0; i < packed.length; i++) bytes[i] = packed.charCodeAt(i);
  new Response(new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"))).text().then(
    function (text) { window.orvPage = mount(page, JSON.parse(text)); },
    function (error) {
      page.replaceChildren(el("p", "verdict bad", "This page cannot unpack its run (" + error + "): open it in a " +
                                                   "browser that inflates deflated streams."));
    });
})();
