// The translation itself: script bytes and template bytes in, the page model and the page's bytes
// (with their provenance when asked) or a typed error out.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "src/model/compile_error.h"
#include "src/model/page_model.h"
#include "src/model/provenance.h"
#include "src/text/pieces.h"

namespace zoqc {

struct TCompileOptions {
  bool Provenance = false;  // record where every byte of the page came from
  bool Escape = false;      // print every value escaped for its HTML context (--escape)
};

// An input's bytes and what keeps them alive: a loaded file, a string.
struct TInputText {
  std::string_view Text;
  std::shared_ptr<const void> Owner;
};

struct TCompileResult {
  TCompileError Error = TCompileError::None;
  // The model of the page as far as the scan got: on Error(2), (3) and (5) the failing
  // statement is its last one. Views the inputs, which Storage keeps.
  const TPageModel* Model = nullptr;
  // After Error(4): the block whose markers fail, as its "<<*" line spells it.
  std::string_view FailBlock;
  // The page when Error is None and it was not given to a sink, in order: views of the inputs
  // and of texts that Storage keeps. Never copied whole.
  TPieces Pieces;
  TLeftovers Leftovers;                   // when Error is None
  std::optional<TProvenance> Provenance;  // with TCompileOptions::Provenance
  std::shared_ptr<const void> Storage;    // the inputs, the model, what Pieces view
  TCompileOptions Options;                // what the page was translated with

  bool Ok() const { return Error == TCompileError::None; }
  std::span<const std::string_view> Page() const { return Pieces.Span(); }
};

// The console line of an error: "Error(2):need <<" and so on; empty for None.
std::string_view ErrorLine(TCompileError AError);

// Scans the script into the page model, closes the PHP part, expands the blocks and substitutes
// the variables. With ASink the page goes into it as it is made, instead of into Pieces; with
// an error nothing does. Touches no file and prints nothing; running out of memory throws
// std::bad_alloc.
TCompileResult Compile(TInputText AScript, TInputText ATemplate,
                       const TCompileOptions& AOptions = {}, TPageSink* ASink = nullptr);
// The same for inputs held in strings.
TCompileResult Compile(std::string AScript, std::string ATemplate,
                       const TCompileOptions& AOptions = {});

}  // namespace zoqc
