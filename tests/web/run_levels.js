// Runs levels through the web engine under node, for the tests: reads a JSON list of
// {"name", "text"} or {"name", "bytes": base64} from the file argv[3] and writes, for each level, as
// one JSON list to the file argv[4]: the engine's refusal ("error"), or the level as the engine saves
// it before frame 1 ("saved", titled "saved" and described "by node"), then every frame of its run
// until FINISHED or ERROR, both included ({text, record, told: [words, where]}), the verdict, its
// summary lines and the Judge's rule texts.
// "again" is the first report after a reset; after a refusal, "kept" is the first report of the
// level loaded before (null when there was none).
"use strict";
const fs = require("fs");
const createOrvEngine = require(process.argv[2]);

createOrvEngine().then((engine) => {
  const out = [];
  for (const item of JSON.parse(fs.readFileSync(process.argv[3], "utf8"))) {
    const result = { name: item.name, error: null, saved: null, frames: [], verdict: null };
    try {
      engine.load(item.bytes !== undefined ? new Uint8Array(Buffer.from(item.bytes, "base64")) : item.text);
      result.saved = engine.levelText("saved", "by node");
      for (;;) {
        const text = engine.step();
        const told = engine.told();
        result.frames.push({ text: text, record: engine.record(), told: [told.words, told.where] });
        if (JSON.parse(text).meta.status !== "RUNNING") break;
      }
      result.verdict = engine.verdict();
      result.summary = engine.summary();
      result.rules = engine.judgeRules();
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
