// zoqc in a browser or in node: a page's script and template bytes in, the page, the console
// lines and the diagnostics out, through the WebAssembly module that scripts/web builds.
(function (root, factory) {
  if (typeof module === "object" && module.exports) module.exports = factory();
  else root.Zoqc = factory();
})(typeof self !== "undefined" ? self : this, function () {
  "use strict";

  const encoder = new TextEncoder();
  const decoder = new TextDecoder();

  // Copies AParts (Uint8Arrays) into the module's memory; yields their addresses, or null when
  // the memory cannot grow to hold them.
  function copyIn(AModule, AParts) {
    const at = [];
    for (const part of AParts) {
      const ptr = AModule._malloc(Math.max(part.length, 1));
      if (!ptr) {
        at.forEach((p) => AModule._free(p));
        return null;
      }
      AModule.HEAPU8.set(part, ptr);
      at.push(ptr);
    }
    return at;
  }

  // The answer JSON at AJson in AModule's memory, with the page when exit is 0.
  function answerAt(AModule, AJson) {
    const heap = AModule.HEAPU8;  // taken afresh: a grown memory has a new buffer
    const answer = JSON.parse(decoder.decode(heap.subarray(AJson, heap.indexOf(0, AJson))));
    const page = AModule._zoqc_page_data();
    return {
      exit: answer.exit,
      out: answer.out,
      page: answer.exit === 0 ? heap.slice(page, page + AModule._zoqc_page_size()) : null,
      diagnosticsJson: answer.diagnostics,
      diagnostics: JSON.parse(answer.diagnostics),
    };
  }

  // The zoqc of a loaded module (what createZoqcModule resolves to). A module whose memory runs
  // out stops for good (the build has no exceptions, which cost 8 KB gzipped), so
  // with ANewModule, a function yielding the promise of another module, a spare is kept
  // ready: it answers the failure report that zoqc prints when its memory runs out, and takes
  // the stopped one's place.
  function wrap(AModule, ANewModule, ASpare = null) {
    let module = AModule;
    let spare = ASpare;
    const prepareSpare = () => ANewModule && ANewModule().then((m) => { spare = m; });
    if (!spare) prepareSpare();
    const outOfMemory = (AError, AName) => {
      if (!spare) throw AError;
      module = spare;
      spare = null;
      prepareSpare();
      const at = copyIn(module, [encoder.encode(AName + "\0")]);
      try {
        return answerAt(module, module._zoqc_out_of_memory(at[0]));
      } finally {
        module._free(at[0]);
      }
    };
    return {
      // Translates the page NAME from its script and template (strings, taken as UTF-8, or
      // Uint8Arrays, taken as they are) under warning switches such as "-Wall -Werror", as
      // `zoqc --diagnostics-format=json SWITCHES NAME` does. Yields
      //   exit             the exit code: 0, 1 (an error), 2 (an unknown switch) or 217
      //   out              what zoqc prints after its banner ("Compile sucessful.\n", an error line)
      //   page             the page's bytes (a Uint8Array) when exit is 0, else null
      //   diagnosticsJson  the JSON array zoqc writes on standard error, as its text
      //   diagnostics      the same, parsed
      translate(AName, AScript, ATemplate, ASwitches = "") {
        const bytes = (x) => (typeof x === "string" ? encoder.encode(x) : x);
        const parts = [
          encoder.encode(AName + "\0"),
          bytes(AScript),
          bytes(ATemplate),
          encoder.encode(ASwitches + "\0"),
        ];
        const inModule = module;
        const at = copyIn(inModule, parts);
        if (!at) throw new RangeError("zoqc: the inputs do not fit in the module's memory");
        let json;
        try {
          json = inModule._zoqc_translate(at[0], at[1], parts[1].length, at[2], parts[2].length,
                                          at[3]);
        } catch (error) {
          return outOfMemory(error, AName);  // the module stopped: nothing of it to free
        }
        try {
          return answerAt(inModule, json);
        } finally {
          at.forEach((p) => inModule._free(p));
        }
      },
    };
  }

  // Loads the module: createZoqcModule from zoqc-module.js, with AOptions for it (in node,
  // { wasmBinary: bytes }: its loader cannot fetch a file path). The spare is loaded beside it.
  async function load(ACreate, AOptions = {}) {
    const create = () => ACreate({ ...AOptions });  // the loader keeps and fills its options
    const [first, spare] = await Promise.all([create(), create()]);
    return wrap(first, create, spare);
  }

  return { load, wrap };
});
