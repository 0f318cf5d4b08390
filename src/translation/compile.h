// The translation itself: script bytes and template bytes in, page bytes or an error line out.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "src/text/pieces.h"

namespace zoqc {

struct TCompileResult {
  int ExitCode = 0;     // 0: success; 1: an error in the script or the template
  std::string Message;  // the error line, e.g. "Error(2):need <<"; empty on success
  // The page when ExitCode is 0, in order: views of the template and of texts that Storage
  // keeps (the translated script, the echoes, the placeholder texts). Never copied whole.
  TPieces Pieces;
  std::shared_ptr<const void> Storage;  // what Pieces view

  std::span<const std::string_view> Page() const { return Pieces.Span(); }
  // The whole page in one string (for tests and small pages).
  std::string Output() const { return Pieces.Joined(); }

  // Where the error is: Error(2), (3), (5) set FailPos, where the statement's line starts
  // (1-based); Error(4) sets FailBlock, the block whose markers are wrong.
  std::int64_t FailPos = 0;
  std::string FailBlock;
  std::string Template;  // on an error, the template handed back, for locating the error
};

// Scans the script, closes the PHP part, expands the blocks and substitutes the variables.
// Takes the template by value, so a caller done with its text can move it in; the script is
// not needed once Compile returns. Touches no file and prints nothing; running out of memory
// throws std::bad_alloc.
TCompileResult Compile(std::string_view AScript, std::string ATemplate);

}  // namespace zoqc
