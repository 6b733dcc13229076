// The JavaScript face of the web engine, appended to the module: texts in and out of the C
// functions. Each call returns a string, a parsed value or nothing, and throws an Error with the engine's message.
function orvFail() {
  throw new Error(UTF8ToString(_orv_web_error()) || "the engine refused the call");
}

function orvText(pointer) {
  if (!pointer) orvFail();
  return UTF8ToString(pointer);
}

// Calls `call` with each of `texts` copied into the engine's memory as NUL-terminated UTF-8.
function orvWithTexts(texts, call) {
  var buffers = [];
  try {
    texts.forEach(function (value) {
      var text = String(value);
      var size = lengthBytesUTF8(text) + 1;
      var buffer = _malloc(size);
      if (!buffer) throw new Error("no memory for a text of " + size + " bytes");
      buffers.push(buffer);
      stringToUTF8(text, buffer, size);
    });
    return call.apply(null, buffers);
  } finally {
    buffers.forEach(function (buffer) { _free(buffer); });
  }
}

// Loads a level from its text: a string, or a file's bytes as they are (a Uint8Array). The reader
// gets every byte with the length, so that a NUL or a byte that is not UTF-8 is its to refuse.
Module["load"] = function (level) {
  var bytes = level instanceof Uint8Array ? level : null;
  var text = bytes ? "" : String(level);
  var size = bytes ? bytes.length : lengthBytesUTF8(text);
  var buffer = _malloc(size + 1);
  if (!buffer) throw new Error("no memory for a level of " + size + " bytes");
  try {
    if (bytes) HEAPU8.set(bytes, buffer); else stringToUTF8(text, buffer, size + 1);
    if (_orv_web_load(buffer, size) !== 1) orvFail();
  } finally {
    _free(buffer);
  }
};
Module["step"] = function () { return orvText(_orv_web_step()); };
Module["stepChanges"] = function () { return orvText(_orv_web_step_changes()); };
Module["record"] = function () { return JSON.parse(orvText(_orv_web_record())); };
Module["told"] = function () { return JSON.parse(orvText(_orv_web_told())); };
Module["verdict"] = function () { return JSON.parse(orvText(_orv_web_verdict())); };
Module["summary"] = function () { return JSON.parse(orvText(_orv_web_summary())); };
Module["world"] = function () { return orvText(_orv_web_world()); };
Module["levelText"] = function (title, description) {
  return orvWithTexts([title || "", description || ""], function (t, d) { return orvText(_orv_web_level_text(t, d)); });
};
Module["numbers"] = function () { return orvText(_orv_web_numbers()); };
Module["kinds"] = function () { return JSON.parse(orvText(_orv_web_kinds())); };
Module["judgeRules"] = function () { return JSON.parse(orvText(_orv_web_judge_rules())); };
Module["reset"] = function () { if (_orv_web_reset() !== 1) orvFail(); };
Module["pieces"] = function () { return JSON.parse(orvText(_orv_web_pieces())); };
Module["accepting"] = function () { return JSON.parse(orvText(_orv_web_accepting())); };
Module["place"] = function (zones) {
  orvWithTexts([JSON.stringify(zones)], function (z) { if (_orv_web_place(z) !== 1) orvFail(); });
};
Module["placement"] = function () { return JSON.parse(orvText(_orv_web_placement())); };
Module["solve"] = function (level) {
  return orvWithTexts([String(level)], function (t) {
    return JSON.parse(orvText(_orv_web_solve(t, lengthBytesUTF8(String(level)))));
  });
};
