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

  // The zoqc of a loaded module (what createZoqcModule resolves to).
  function wrap(AModule) {
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
        const at = copyIn(AModule, parts);
        if (!at) throw new RangeError("zoqc: the inputs do not fit in the module's memory");
        try {
          const json = AModule._zoqc_translate(at[0], at[1], parts[1].length, at[2],
                                               parts[2].length, at[3]);
          const heap = AModule.HEAPU8;  // taken afresh: a grown memory has a new buffer
          const answer = JSON.parse(decoder.decode(heap.subarray(json, heap.indexOf(0, json))));
          const page = AModule._zoqc_page_data();
          return {
            exit: answer.exit,
            out: answer.out,
            page: answer.exit === 0 ? heap.slice(page, page + AModule._zoqc_page_size()) : null,
            diagnosticsJson: answer.diagnostics,
            diagnostics: JSON.parse(answer.diagnostics),
          };
        } finally {
          at.forEach((p) => AModule._free(p));
        }
      },
    };
  }

  // Loads the module: createZoqcModule from zoqc-module.js, with AOptions for it (in node,
  // { wasmBinary: bytes }: its loader cannot fetch a file path).
  async function load(ACreate, AOptions = {}) {
    return wrap(await ACreate(AOptions));
  }

  return { load, wrap };
});
