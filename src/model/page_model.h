// The page model: what one reading of a script and its template found, each thing with where it
// stands in the inputs. The scanner builds the script's half, the marker and placeholder readers
// the template's; the translation, the checks, the error locator and the tools read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/text/large_blocks.h"
#include "src/text/placeholder.h"
#include "src/text/span.h"
#include "src/text/text.h"

namespace zoqc {

class TTemplateContexts;  // src/html/html_context.h

// A stretch of the script in 32 bits, as the statements keep it (the scan takes no script of
// 4 GiB or more): half a TSpan's room, read as one.
struct TScriptSpan {
  std::uint32_t Begin = 0;
  std::uint32_t End = 0;

  TScriptSpan() = default;
  TScriptSpan(std::size_t ABegin, std::size_t AEnd)
      : Begin(static_cast<std::uint32_t>(ABegin)), End(static_cast<std::uint32_t>(AEnd)) {}
  operator TSpan() const { return {Begin, End}; }
  std::size_t Size() const { return End - Begin; }
  bool Empty() const { return End == Begin; }
  bool Holds(std::size_t AOffset) const { return Begin <= AOffset && AOffset < End; }
  std::string_view Of(std::string_view AText) const { return AText.substr(Begin, End - Begin); }
};

// The largest script the scan takes: its offsets fit a TScriptSpan.
inline constexpr std::size_t kMaxScript = UINT32_MAX;

enum class TStatementKind : unsigned char {
  TemplateVar,  // "<<name<<expression"
  BlockDef,     // "<<*name" ("<<*name<<..." defines nothing: Separated is then true)
  BlockVar,     // "<<<name<<expression"
  BlockAppend,  // "<<+name"
  PhpLine,      // a line whose first bytes after blanks are "<<": plain PHP, not a statement
};

// An index of up to 32 bits (the scan takes fewer statements than that), read as a size_t,
// kNowhere (the default) included.
class TIndex32 {
 public:
  TIndex32() = default;
  explicit TIndex32(std::size_t AIndex)
      : Value(AIndex == kNowhere ? UINT32_MAX : static_cast<std::uint32_t>(AIndex)) {}
  operator std::size_t() const { return Value == UINT32_MAX ? kNowhere : Value; }

 private:
  std::uint32_t Value = UINT32_MAX;
};

// A line of the script that opens with "<<" (after the first line), as the scan read it. A
// statement that failed is the last one, read as far as the scan got.
// 32 bytes: a large page's statements and the rest of its lists share fewer huge pages.
struct TStatement {
  TStatementKind Kind;
  bool Separated = false;  // "<<" and at least one more byte follow the name
  TScriptSpan Line;        // from its first "<" to its CR or LF (or the end)
  TScriptSpan Name;        // the run of name characters after the opener, possibly empty
  TScriptSpan Expr;        // when Separated: after that "<<", to the first CR or LF
  TIndex32 Block;          // the block of TPageModel::Blocks that a "<<*" or "<<+" line
                           // names, or that a "<<<" line fills (the block of the latest
                           // "<<*" line above it); kNowhere: none. Set by ReadTemplate.

  // A statement that binds a name: "<<name<<" or "<<<name<<".
  bool IsBinding() const {
    return Kind == TStatementKind::TemplateVar || Kind == TStatementKind::BlockVar;
  }
};

// "<<*name" or "<<+name" anywhere in the script text that the page's PHP part copies, statement
// line or not. Block expansion rewrites it when a block of that name (up to case) is defined.
struct TBlockRef {
  TSpan Span;         // from "<<" through the name
  TSpan Name;         // the whole run of name characters after the opener
  bool IsDef;         // "<<*", else "<<+"
  std::size_t Slice;  // the slice of Slices that holds it
};

// The script's half of the model.
struct TScriptModel {
  std::string_view Text;  // the script as read; never changed
  // When set before the scan, the block that the lists below and the translation's large
  // tables share: their allocators take from it, so it is declared first to go last.
  std::shared_ptr<TArena> Arena;
  // What the PHP part copies of Text, in order (a stretch may be copied twice), and the
  // statements in order: a large page's lists get whole huge pages of their own.
  TLargeVector<TScriptSpan> Slices;
  TLargeVector<TStatement> Statements;
  std::vector<TBlockRef> Refs;  // in page order (by slice, then offset)

  // The PHP part before block expansion: the slices joined.
  std::string PhpText() const;
  // The statement whose line holds AOffset, or kNowhere.
  std::size_t StatementAt(std::size_t AOffset) const;
};

// How a marker "<!--" keyword name "-->" is written.
enum class TMarkerForm : unsigned char {
  Exact,   // "<!--BEGIN name-->" or "<!--END name-->", as markers must be
  Folded,  // the keyword in other letter case, otherwise exact: a BEGIN of this form still
           // matches a block's copy, which is compared up to case
  Near,    // blanks around keyword or name, or a keyword one edit away: a near miss that only
           // the checks look at
};

struct TMarker {
  TSpan Span;    // "<!--" through "-->"
  TSpan Name;    // as written
  bool IsBegin;  // BEGIN (or its near miss), else END
  TMarkerForm Form;
  std::size_t Match = kNowhere;  // an exact BEGIN: the first exact END of its name after it
};

// Every marker of ATemplate in position order; the near misses only when ANearMisses. With
// ARawOpenings, adds the number of "{!" in ATemplate (read in the same search) to it.
std::vector<TMarker> ReadMarkers(std::string_view ATemplate, bool ANearMisses,
                                 std::size_t* ARawOpenings = nullptr);
// The text of a marker in exact form.
std::string MarkerText(bool AIsBegin, std::string_view AName);

// A placeholder "{" name "}", or "{!" name "}" (printed raw under --escape), with a non-empty
// name of name characters.
struct TPlaceholder {
  TSpan Span;                   // "{" through "}"
  TSpan Name;                   // the name
  std::size_t Copy = kNowhere;  // the innermost copy that the translation replaces and that
                                // holds it (index into Copies); kNowhere: the template's own
  bool Raw = false;             // "{!name}"
};

// A copy of a defined block in the template: an exact BEGIN marker of its name and its Match.
struct TBlockCopy {
  std::size_t Block;  // index into TPageModel::Blocks
  TSpan Span;         // BEGIN marker through END marker
  std::size_t Begin;  // index of its BEGIN marker in Markers
  std::size_t End;    // index of its END marker
  bool Same;          // the block plan cuts it: the page replaces it by its block's echo
};

// One step of block expansion: one "<<*" line that defines a block, in script order.
struct TBlockStep {
  std::size_t Definition;        // its statement
  std::size_t Block;             // index into TPageModel::Blocks
  std::string_view Name;         // as this line spells it
  std::size_t Begin = kNowhere;  // the first exact BEGIN of Name left when the step runs
  std::size_t End = kNowhere;    // the first exact END of Name left then (indexes into Markers)
  bool Fails = false;            // Begin without an End after it: the translation stops here
  TSpan Placeholders = {};       // its run of TBlockPlan::Placeholders
};

// A stretch of the template that a step replaces by the echo of its block's buffer.
struct TBlockCut {
  TSpan Span;
  std::size_t Step;  // index into TBlockPlan::Steps
};

// What block expansion does, worked out once while the template is read: each step in order
// takes its block's text from its copy (Begin through End, with the cuts of earlier steps
// inside read as their echoes) and replaces every text equal to it up to case.
struct TBlockPlan {
  std::vector<TBlockStep> Steps;    // up to the failing one
  std::vector<TBlockCut> Cuts;      // by start; a cut holds only cuts of earlier steps
  std::vector<std::string> Echoes;  // per step: the text that replaces its cuts
  std::size_t Failing = kNowhere;   // the step that fails, if one does
  // Per step in turn, the placeholders (either form) that its text holds outside the cuts of
  // earlier steps, by the offset of their "{": the ones it substitutes.
  std::vector<std::size_t> Placeholders;
};

// A block of the script, with where it stands in the template.
struct TBlockInfo {
  std::string_view Name;                 // as its first definition spells it
  std::vector<std::size_t> Definitions;  // its "<<*" statements (exact name), in order
  std::vector<std::size_t> Begins;       // its exact BEGIN markers (indexes into Markers)
  std::vector<std::size_t> Copies;       // its copies (indexes into Copies), in order
  std::size_t First = kNowhere;          // the copy whose text its buffer repeats: the one that
                                         // its first step with a copy replaces
};

// A placeholder that the translation printed as written: no binding of its scope matched it.
struct TLeftPlaceholder {
  TSpan Name;         // its name in the template, between its "{" and "}"
  std::size_t Block;  // its scope: the block of TPageModel::Blocks whose text held it, or
                      // kNowhere for the template's own text
};

// A bound name that no placeholder of its scope used.
struct TUnusedName {
  std::size_t Block;  // as in TLeftPlaceholder
  std::string Name;   // as bound
};

// A name bound in one scope, as written (names differing in letter case are two), with its
// first and its latest binding statement (indexes into TScriptModel::Statements).
struct TBoundName {
  std::string_view Name;
  std::size_t First;
  std::size_t Latest;
};

// What a successful translation left: placeholders printed as written, names never used.
struct TLeftovers {
  std::vector<TLeftPlaceholder> Left;  // in the order met
  std::vector<TUnusedName> Unused;
};

// Names up to case -> an index.
using TFoldedMap = std::unordered_map<std::string_view, std::size_t, TSameTextHash, TSameTextEqual>;

// The whole page: the script's half, and the template's markers, placeholders and blocks.
struct TPageModel {
  TScriptModel Script;
  std::string_view Template;
  std::vector<TMarker> Markers;    // near misses included
  std::size_t RawOpenings = 0;     // how many "{!" the template holds
  std::vector<TBlockInfo> Blocks;  // defined blocks, in order of first definition
  std::vector<TBlockCopy> Copies;  // by position of their BEGIN marker
  TBlockPlan Plan;
  TFoldedMap BlockIndex;  // block name up to case -> index into Blocks

  // The block defined with AName up to case, or kNowhere.
  std::size_t BlockNamed(std::string_view AName) const;

  // The template's placeholders of both forms, in order: read on the first call, which reads
  // the whole template, and kept with the model.
  const std::vector<TPlaceholder>& Placeholders() const;
  // The HTML context of each of the template's placeholders (src/html/): read on the first
  // call, which runs the HTML tokenizer over the whole template, and kept with the model. A
  // model is asked from one thread at a time.
  const TTemplateContexts& Contexts() const;

  // The answers about scopes (src/model/scopes.cc), each kNowhere for "none" or "the
  // template's own text". Block indexes are into Blocks, copies into Copies.
  // The innermost copy that the page replaces (Same) and that holds AOffset after its first
  // byte: a copy that differs from the first prints as text, its placeholders as written.
  std::size_t CopyAt(std::size_t AOffset) const;
  // The block whose bindings fill placeholders at AOffset: the block of CopyAt.
  std::size_t ScopeAt(std::size_t AOffset) const;
  // The scope of a placeholder.
  std::size_t ScopeOf(const TPlaceholder& APlaceholder) const;
  // The binding statements of ABlock ("<<<" lines), or with kNowhere the template's ("<<"
  // lines), in order, as indexes into Script.Statements.
  std::vector<std::size_t> BindingsOf(std::size_t ABlock) const;
  // The names bound in the scope of ABlock, each once, in the order in which the page's table of
  // that scope lists them: of the names that equal a placeholder's up to case, the first fills it.
  std::vector<TBoundName> BoundNames(std::size_t ABlock) const;
  // The binding statement that fills a placeholder of AName in the scope of ABlock: the latest
  // binding of the first listed name that equals AName up to case; kNowhere when none does.
  // Each scope's answers are filed when it is first asked.
  std::size_t BindingThatFills(std::size_t ABlock, std::string_view AName) const;
  // The "{name}" placeholders in the scope of ABlock (kNowhere: the template's own), in order.
  std::vector<const TPlaceholder*> PlaceholdersOf(std::size_t ABlock) const;

 private:
  friend void ReadTemplate(TPageModel& AModel, std::string_view ATemplate);
  // What Placeholders and Contexts read, once asked.
  mutable std::optional<std::vector<TPlaceholder>> PlaceholderList;
  mutable std::shared_ptr<const TTemplateContexts> ContextList;
  // What BindingThatFills filed, per scope (the template's last).
  mutable std::vector<std::optional<TFoldedMap>> Fills;
};

// TPageModel::CopyAt for offsets asked in order, in one walk along the copies that nest.
class TCopyWalk {
 public:
  explicit TCopyWalk(const TPageModel& AModel) : Model(AModel) {}
  // CopyAt(AOffset), for an AOffset no less than the one asked before.
  std::size_t CopyAt(std::size_t AOffset);

 private:
  const TPageModel& Model;
  std::vector<std::size_t> Open;  // the replaced copies around the offset, outermost first
  std::size_t Next = 0;           // the first copy not yet walked into
};

// The text that replaces each cut of a block named N: "<?php echo $ZOQBLOCK_N;?>" CR LF.
std::string BlockEchoText(std::string_view N);

// Fills the template's half of AModel (markers with near misses, each exact BEGIN paired, blocks
// and their copies) from ATemplate and the script's half, which is read already. Linear in the
// inputs but for sorting.
void ReadTemplate(TPageModel& AModel, std::string_view ATemplate);

}  // namespace zoqc
