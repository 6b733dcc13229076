// The pages' applier of changes (OrvReplay in viewer.js) under node, against the web engine: reads
// a JSON list of {"name", "text", "frames"} from the file argv[4] and writes to the file argv[5], for
// each level, what became of its run up to `frames` frames when one engine gives each frame's
// report (step) and another its changes (stepChanges), applied by a Track of the applier: the
// frames that matched, and the first frame that did not, on the way forward, back to frame 0 by
// the changes that undo them, and forward again. argv[2] is the engine, argv[3] viewer.js.
// With "patches" instead of "text", the entry is {"name", "world", "patches": [{patch, says}]}: each
// patch is applied alone to the world, and what it throws is noted, with whether the world was
// left as it was.
"use strict";
const fs = require("fs");
const vm = require("vm");

const window = {};
vm.runInNewContext(fs.readFileSync(process.argv[3], "utf8"), { window: window });
const replay = window.OrvReplay;

// Whether two JSON values are equal: numbers by Object.is (-0 is not 0), members in any order.
function same(a, b) {
  const stack = [a, b];
  while (stack.length) {
    const y = stack.pop(), x = stack.pop();
    if (x === null || y === null || typeof x !== "object" || typeof y !== "object") {
      if (!Object.is(x, y)) return false;
      continue;
    }
    if (Array.isArray(x) !== Array.isArray(y)) return false;
    const keys = Object.keys(x);
    if (keys.length !== Object.keys(y).length) return false;
    for (const key of keys) {
      if (!Object.prototype.hasOwnProperty.call(y, key)) return false;
      stack.push(x[key], y[key]);
    }
  }
  return true;
}

function runLevel(reports, changes, item) {
  reports.load(item.text);
  changes.load(item.text);
  const start = JSON.parse(changes.world());
  const track = new replay.Track(JSON.parse(changes.world()));
  const expected = [start];
  const out = { name: item.name, frames: 0, forward: null, back: null, again: null };
  for (let i = 1; i <= item.frames; i++) {
    const report = JSON.parse(reports.step());
    expected.push(report);
    track.add(JSON.parse(changes.stepChanges()), changes.record(), [changes.told().words, changes.told().where]);
    track.forward(null);
    out.frames = i;
    if (out.forward === null && !same(track.world, report)) out.forward = i;
    if (report.meta.status !== "RUNNING") break;
  }
  for (let i = out.frames - 1; i >= 0; i--) {
    track.back(null);
    if (out.back === null && !same(track.world, expected[i])) out.back = i;
  }
  for (let i = 1; i <= out.frames; i++) {
    track.forward(null);
    if (out.again === null && !same(track.world, expected[i])) out.again = i;
  }
  return out;
}

function hostile(item) {
  return item.patches.map((patch) => {
    const world = JSON.parse(JSON.stringify(item.world));
    try {
      const done = replay.applyChanges(world, patch);
      return { error: null, world: done.world };
    } catch (err) {
      return { error: err.message, kept: same(world, item.world) };
    }
  });
}

require(process.argv[2])().then(async (reports) => {
  const changes = await require(process.argv[2])();  // a second engine: its own session
  const out = [];
  for (const item of JSON.parse(fs.readFileSync(process.argv[4], "utf8"))) {
    out.push(item.patches ? { name: item.name, results: hostile(item) } : runLevel(reports, changes, item));
  }
  fs.writeFileSync(process.argv[5], JSON.stringify(out));
});
