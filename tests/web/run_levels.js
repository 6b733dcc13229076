// Runs levels through the web engine under node, for the tests: reads a JSON list of
// {"name", "level"} (level as text) from the file argv[3] and writes, for each level, every report
// text of its run (until FINISHED or ERROR, both included), or the engine's refusal, and the
// studio's verdict on the run (given the engine's exact numbers, as the page is), as one JSON list
// to the file argv[4]. After a refusal, "kept" is the first report of the level loaded before (null when there was none).
"use strict";
const fs = require("fs");
const createOrvEngine = require(process.argv[2]);
const verdict = require(process.argv[5]);

createOrvEngine().then((engine) => {
  const out = [];
  for (const item of JSON.parse(fs.readFileSync(process.argv[3], "utf8"))) {
    const result = { name: item.name, texts: [], error: null, verdict: null };
    try {
      engine.load(item.level);
      const initial = JSON.parse(engine.world());
      const tracker = new verdict.Tracker(initial, engine.numbers);
      for (;;) {
        const text = engine.step();
        result.texts.push(text);
        const report = JSON.parse(text);
        tracker.add(report);
        if (report.meta.status !== "RUNNING") break;
      }
      result.verdict = tracker.verdict();
      // A reset run starts over and writes the same first report.
      engine.reset();
      result.again = engine.step();
    } catch (err) {
      result.error = String(err.message);
      // A refused level leaves the one loaded before it in place.
      try {
        engine.reset();
        result.kept = engine.step();
      } catch (again) {
        result.kept = null;
      }
    }
    out.push(result);
  }
  fs.writeFileSync(process.argv[4], JSON.stringify(out));
});
