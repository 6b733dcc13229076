// Plays a level with the orv engine's npm package, to its verdict:
//   npm install ./orv-engine-VERSION.tgz && node play_level.mjs LEVEL.json
import { readFileSync } from "node:fs";
import createOrvEngine from "orv-engine";

const levelText = readFileSync(process.argv[2], "utf8");
const engine = await createOrvEngine();
try {
  engine.load(levelText);
} catch (refusal) {
  console.error(`not a level: ${refusal.message}`);  // e.g. world.agents[0].rule: expected ..., found ...
  process.exit(2);
}
let report;
do {
  report = JSON.parse(engine.step());
  console.log(report.meta.frame_index, report.meta.message);
} while (report.meta.status === "RUNNING");

const { verdict, frames, reasons } = engine.verdict();
console.log(`${verdict} in ${frames} frames`);
for (const reason of reasons) console.log(`  ${reason}`);
process.exit(verdict === "solved" ? 0 : 1);
