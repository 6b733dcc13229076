// Prepended to the web engine: compiles the WebAssembly embedded in this file straight from its
// bytes, so the engine never fetches anything (the studio page forbids every network load).
Module["instantiateWasm"] = function (imports, receive) {
  var bytes = tryParseAsDataURI(wasmBinaryFile);
  WebAssembly.instantiate(bytes, imports).then(function (result) {
    receive(result["instance"], result["module"]);
  }, function (reason) {
    readyPromiseReject(reason);
  });
  return {};
};
