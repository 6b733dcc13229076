// Types of the orv engine's ES module (orv_engine.mjs).
//
//   import createOrvEngine from "orv-engine";
//   const engine = await createOrvEngine();
//   engine.load(levelText);
//   const report: FrameReport = JSON.parse(engine.step());
//
// Texts come back as JSON text, byte for byte what the Python module orv_engine writes; the types
// below describe them once parsed. Every method throws an Error whose message names the fault,
// in the toolkit's words: "world.agents[0].rule: expected one of "<", ">", "<=", ">=", found "=""
// or "line 3, column 7: expected ...".

/** A charge's sign. */
export type Polarity = "positive" | "negative" | "neutral";

/** A number of the world: NaN and both infinities are written as null in world and report JSON. */
export type JsonNumber = number | null;

/** A number as numbers() writes it: exact, with NaN and the infinities told apart. */
export type ExactNumber = number | "nan" | "inf" | "-inf";

export interface Charge {
  magnitude: JsonNumber;
  polarity: Polarity;
  visual_id: string;
}

/** An agent; gates also carry a target and whether they opened, and the Judge its rule. */
export interface Agent {
  /** The display name, e.g. "Plus Magician", "Equals Gate", "The Judge". */
  name: string;
  visual_id: string;
  priority: number;
  state: "dormant" | "active" | "frozen";
  target_value?: JsonNumber;
  is_open?: boolean;
  rule?: "<" | ">" | "<=" | ">=";
}

/** A zone as world() writes it; the root of a report is one too. */
export interface Zone {
  id: string;
  charges: Charge[];
  agents: Agent[];
  sub_environments: Zone[];
  is_time_frozen: boolean;
}

export interface FrameEvent {
  agent_name: string;
  description: string;
  type: "CAST_SPELL" | "COLLAPSE_ZONE" | "FINISHED" | "ERROR" | string;
  visual_id: string;
}

/** What step() returns, parsed: the world after the frame, and the frame's meta. */
export interface FrameReport extends Zone {
  meta: {
    frame_index: number;
    /** "RUNNING" while frames remain; "FINISHED" when the run ended by itself; "ERROR" at the frame limit. */
    status: "RUNNING" | "FINISHED" | "ERROR";
    message: string;
    last_event: FrameEvent | null;
  };
}

/** What the last frame did and where; zones are paths of sub-zone indices from the root ([] is the root). */
export interface FrameRecord {
  /** null when no frame ran (the frame limit, or a run that had already finished). */
  action: "cast" | "fold" | "finish" | null;
  /** cast: the acting agent's zone; fold: the parent that the folded zone merged into. */
  zone: number[];
  /** cast: the agent's index in its zone before it left; fold: the folded zone's index in its parent before it left. */
  index: number;
}

/** The last frame told in words, as the terminal player tells it. */
export interface Told {
  /** e.g. "Plus Magician (smith) cast in zone forge", "zone a folded into r". */
  words: string;
  /** The charges of the zone the frame touched ("forge: +3 -2"); "" when it touched none. */
  where: string;
}

/** How the run stands, in the words of `orv check`. */
export interface Verdict {
  /** "paused" until the run has ended; "limit" when the frame limit stopped it. */
  verdict: "solved" | "unsolved" | "limit" | "paused";
  /** The verdict as a status shows it. */
  word: "SOLVED" | "UNSOLVED" | "FRAME LIMIT" | "PAUSED";
  frames: number;
  /** Why it is not solved, one reason a line; [] when solved. */
  reasons: string[];
}

/** One of the thirteen agent kinds. */
export interface AgentKind {
  /** The word a level file names the kind by: "plus", "judge". */
  kind: string;
  /** The engine's class: "PlusMagician". */
  className: string;
  /** The display name reports write: "Plus Magician". */
  name: string;
  priority: number;
  /** Tests a target and never changes a charge. */
  gate: boolean;
  /** Takes a rule ("<", ">", "<=", ">=") besides its target: the Judge. */
  takesRule: boolean;
  /** The Python module's method that adds one: "add_plus_magician". */
  method: string;
}

/** What numbers() returns, parsed: zones in preorder, charges in list order; every gate's target in the same order. */
export interface Numbers {
  magnitudes: ExactNumber[];
  targets: ExactNumber[];
}

/** One operation of an RFC 6902 JSON Patch, as stepChanges() writes them. */
export type PatchOperation =
  | { op: "add" | "replace" | "test"; path: string; value: unknown }
  | { op: "remove"; path: string }
  | { op: "move" | "copy"; from: string; path: string };

/** One engine: one level loaded at a time, and its run. */
/** A piece of a puzzle's tray, named as the engine names agents. */
export interface Piece {
  /** "Plus Magician (smith)" */
  label: string;
  /** The display name, "Plus Magician". */
  name: string;
  visualId: string;
}

/** A zone that accepts pieces: its path ("anvil/bellows") and its number in preorder (the root 0). */
export interface AcceptingZone {
  path: string;
  zone: number;
}

/** The placement of a run: each piece's zone path (null while the pieces wait in the tray), in words. */
export interface PlacementState {
  zones: string[] | null;
  /** "put the Plus Magician (smith) into anvil/bellows" */
  lines: string[];
}

/** A solver's search over every placement of a level's pieces, on the calling thread. */
export interface SolveResult {
  placements: number;
  tried: number;
  /** Placements that solve the level, those that build the same world counted once. */
  solutions: number;
  exhaustive: boolean;
  /** The solution of fewest frames (the first in the search's order among equals), or null. */
  shortest: { frames: number; zones: string[]; lines: string[] } | null;
}

export interface OrvEngine {
  /**
   * Loads a level file's text (or a frame report of a saved run) and starts a fresh run of it.
   * Throws an Error naming the fault: "PATH: expected X, found Y", or "line L, column C: expected ..."
   * for text that is not JSON. A refused level leaves the engine as it was.
   */
  load(levelText: string): void;
  /** Runs one frame and returns its report (JSON text of a FrameReport). */
  step(): string;
  /** What the last frame did and where. */
  record(): FrameRecord;
  /** The last frame told in words. */
  told(): Told;
  /** The run's verdict so far ("paused" until it ends). */
  verdict(): Verdict;
  /**
   * The verdict in the lines that close a narrated run: the heading ("Solved in 4 frames: every gate
   * opened and every zone folded into door.", "Unsolved after 5 frames:", "Paused after 2 frames."),
   * then the first five reasons, each as "  - REASON", and "  - and N more" for the rest.
   */
  summary(): string[];
  /** The current world (JSON text of a Zone). */
  world(): string;
  /** The current world as a level file with this title and description, its numbers exact. */
  levelText(title: string, description: string): string;
  /** The current world's magnitudes and gate targets, exactly (JSON text of Numbers). */
  numbers(): string;
  /** Starts the loaded level's run again from its first frame. */
  reset(): void;
  /** The loaded puzzle's pieces, in the level's order ([] for a level without pieces). */
  pieces(): Piece[];
  /** The zones that accept pieces, in preorder. */
  accepting(): AcceptingZone[];
  /**
   * Starts a fresh run with the pieces placed, a zone path for each piece in the level's order;
   * reset() keeps the placement. Throws, changing nothing, for another number of zones, a path that
   * names no zone or several, and a zone that does not accept pieces.
   */
  place(zones: string[]): void;
  /** The placement of this run. */
  placement(): PlacementState;
  /**
   * Runs every placement of the pieces of the level `levelText` (not the loaded one) to its end and
   * judges it, on the calling thread: a page runs it in a worker to stay responsive.
   */
  solve(levelText: string): SolveResult;
  /** The thirteen agent kinds, in a fixed order. */
  kinds(): AgentKind[];
  /** The rule texts a Judge is read with, in a fixed order: "<", ">", "<=", ">=". */
  judgeRules(): string[];
  /** The last frame's changes to the world (JSON text of a PatchOperation[]), from the world before it. */
  stepChanges(): string;
}

/** Makes an engine: compiles the inlined WebAssembly and resolves to the engine once it is ready. */
export default function createOrvEngine(): Promise<OrvEngine>;
