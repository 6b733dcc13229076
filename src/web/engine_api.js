// The JavaScript face of the web engine, appended to the module: texts in and out of the C
// functions. Each call returns a string (or nothing) and throws an Error with the engine's message.
function orvFail() {
  throw new Error(UTF8ToString(_orv_web_error()) || "the engine refused the call");
}

function orvText(pointer) {
  if (!pointer) orvFail();
  return UTF8ToString(pointer);
}

Module["load"] = function (levelText) {
  var text = String(levelText);
  var size = lengthBytesUTF8(text) + 1;
  var buffer = _malloc(size);
  if (!buffer) throw new Error("no memory for a level of " + size + " bytes");
  try {
    stringToUTF8(text, buffer, size);
    if (_orv_web_load(buffer) !== 1) orvFail();
  } finally {
    _free(buffer);
  }
};
Module["step"] = function () { return orvText(_orv_web_step()); };
Module["world"] = function () { return orvText(_orv_web_world()); };
Module["numbers"] = function () { return orvText(_orv_web_numbers()); };
Module["reset"] = function () { if (_orv_web_reset() !== 1) orvFail(); };
