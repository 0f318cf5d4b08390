// Block expansion: each template block becomes a PHP string appended to its buffer variable.
#pragma once

#include <string>
#include <string_view>

#include "src/state/run_state.h"
#include "src/template/variables.h"

namespace zoqc {

// The generated texts for a block named N.
std::string BlockInitText(std::string_view N);                                   // $ZOQBLOCK_N="";
std::string BlockAppendText(std::string_view N, std::string_view ABlockString);  // ...CR LF
std::string BlockEchoText(std::string_view N);  // <?php echo $ZOQBLOCK_N;?> CR LF

// The block string of a block's inner markup: a double-quoted PHP literal in which the markup's
// backslashes, double quotes and dollars are escaped, an inner block's echo (with one line end
// after it) becomes a splice of its buffer, and each placeholder of AVars becomes its text (AVars
// is built with the prefix "\"." and the suffix ".\"", so the text splices the expression in).
std::string MakeBlockString(std::string_view AInner, const TPlaceholderIndex& AVars);

// For each name of Run.BlockList in order: cuts the block out of the template and puts the
// echo of its buffer in its place, leaving the result in Run.TemplatePieces; then rewrites the
// "<<*name" and "<<+name" statements that the scan left in Run.PhpStr. Error(4) when a BEGIN marker
// has no END marker after it.
[[nodiscard]] bool ExpandBlocks(TRunState& Run, std::string& AError);

}  // namespace zoqc
