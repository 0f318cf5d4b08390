// Block expansion: each template block becomes a PHP string appended to its buffer variable.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/model/page_model.h"
#include "src/model/provenance.h"
#include "src/template/page_tables.h"
#include "src/template/variables.h"

namespace zoqc {

// The generated texts for a block named N.
std::string BlockInitText(std::string_view N);                                   // $ZOQBLOCK_N="";
std::string BlockAppendText(std::string_view N, std::string_view ABlockString);  // ...CR LF

// The block string of a block's inner markup: a double-quoted PHP literal in which the markup's
// backslashes, double quotes and dollars are escaped, an inner block's echo (with one line end
// after it) becomes a splice of its buffer, and each placeholder of AVars becomes its text (AVars
// is built with the prefix "\"." and the suffix ".\"", so the text splices the expression in).
// APlaceholders are the offsets in AInner of its placeholders' "{" (either form), in order.
// With AOrigins, marks the origin of each run of the result; AInnerOrigins are the origins of
// AInner's runs and AExprOf maps a placeholder's key to its expression's script offset.
// ALeft receives the template offset (by AInnerOrigins) of each placeholder left as written.
// With AEscape, each expression is escaped for the context of its placeholder (by
// AInnerOrigins), and "{!name}" splices its expression as it is.
std::string MakeBlockString(std::string_view AInner, std::span<const std::size_t> APlaceholders,
                            const TPlaceholderIndex& AVars,
                            const TSegmentList* AInnerOrigins = nullptr,
                            TSegmentList* AOrigins = nullptr,
                            const TExpressionOffsets* AExprOf = nullptr,
                            std::vector<std::size_t>* ALeft = nullptr,
                            TEscaping* AEscape = nullptr);

// What block expansion makes: the template with its blocks replaced, and each block's texts.
struct TExpansion {
  std::vector<std::string_view> TemplatePieces;  // stretches of the template and echoes
  std::vector<std::size_t> PieceCuts;    // with provenance: per piece, its cut's start or kNowhere
  std::vector<std::string> InitTexts;    // per step of the plan: "$ZOQBLOCK_N=\"\";"
  std::vector<std::string> AppendTexts;  // per step of the plan: its append statement
  std::vector<TSegmentList> AppendOrigins;  // with provenance: the origins in AppendTexts
  // Name up to case -> the first step of the plan with that name.
  std::unordered_map<std::string_view, std::size_t, TSameTextHash, TSameTextEqual> FirstBlock;
  std::size_t FailBlock = kNowhere;    // after Error(4): the plan's failing step
  std::vector<TLeftPlaceholder> Left;  // placeholders of the block texts left as written
  std::vector<TUnusedName> Unused;     // block variables that no placeholder used
};

// Carries out AModel's block plan: for each step in order, makes its block string from its copy
// and the texts that replace the "<<*name" and "<<+name" references, and reads the template with
// each cut replaced by the echo of its step's buffer. Error(4) at the plan's failing step. With
// ARecord, fills the origins too (ATables then holds the expressions); with AEscape, the block
// variables are escaped.
[[nodiscard]] bool ExpandBlocks(const TPageModel& AModel, const TPageTables& ATables, bool ARecord,
                                TExpansion& AOut, TEscaping* AEscape = nullptr);

// The name of the placeholder whose "{" is at AAt of ATemplate.
TSpan PlaceholderNameAt(std::string_view ATemplate, std::size_t AAt);

// Appends the PHP part of the page to APage: the script's slices with each block reference of a
// defined block replaced by its text, then the closing tag.
void AppendPhpPart(const TScriptModel& AScript, const TExpansion& AExpansion, TPageBuilder& APage);

}  // namespace zoqc
