// The questions an editor asks about a place in a page, answered from the page model: what
// name or block stands there, where it is bound or defined, where else it is used.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/lsp/workspace.h"

namespace zoqc::lsp {

// What a name at a place refers to.
enum class TSymbolKind : unsigned char {
  TemplateVar,  // "<<name<<" and the template's own "{name}"
  BlockVar,     // "<<<name<<" and "{name}" in a copy of its block
  Block,        // "<<*name", "<<+name" and the markers "<!--BEGIN name-->", "<!--END name-->"
};

struct TSymbol {
  TSymbolKind Kind;
  std::string_view Name;         // as written where it was found
  std::size_t Block = kNowhere;  // BlockVar and Block: index into TPageModel::Blocks
  TSpan Span;                    // the name where it was found
};

// A stretch of one of the page's two files.
struct TLocation {
  TRole Role;
  TSpan Span;
};

// The name at byte AOffset of the file ARole, or nullopt where there is none.
std::optional<TSymbol> SymbolAt(const TPage& APage, TRole ARole, std::size_t AOffset);

// Every place that spells the symbol's name (bindings, placeholders, block lines, markers),
// in the script first, then in the template.
std::vector<TLocation> Occurrences(const TPage& APage, const TSymbol& ASymbol);

// Where the symbol is bound or defined: the binding lines of a name; a block's BEGIN markers,
// asked from the script; its "<<*" lines, asked from a marker.
std::vector<TLocation> Definitions(const TPage& APage, const TSymbol& ASymbol, TRole AFrom);

// The hover text (Markdown) for the symbol.
std::string HoverText(const TPage& APage, const TSymbol& ASymbol, TRole AFrom);

// True when AName is a valid name: one or more ASCII letters and digits.
bool IsValidName(std::string_view AName);

// Why renaming ASymbol to ANewName would change what the page prints, or nullopt when it would
// not: the new name (in any letter case) is already bound in the symbol's scope, is already a
// block, or is spelled by placeholders of that scope that nothing binds yet.
std::optional<std::string> RenameConflict(const TPage& APage, const TSymbol& ASymbol,
                                          std::string_view ANewName);

// True when ALocation is where its symbol is declared: a binding's name, the name of a block's
// "<<*" line or of its BEGIN marker.
bool IsDeclaration(const TPage& APage, const TLocation& ALocation);

// A suggestion of the completion list.
struct TCompletion {
  std::string Label;
  std::string Detail;
  std::string Snippet;  // empty: insert Label
  bool IsBlock = false;
};
// What may be written at AOffset of the file ARole: bound names after "{", block names after
// "<<+", "<<*", "<!--BEGIN " and "<!--END ", a marker pair elsewhere in the template.
std::vector<TCompletion> CompletionsAt(const TPage& APage, TRole ARole, std::size_t AOffset);

// A semantic token: a span on one line of a file, of a type of kTokenTypes.
struct TToken {
  TSpan Span;
  unsigned Type;
};
inline constexpr const char* kTokenTypes[] = {"keyword", "variable", "class", "macro"};
enum : unsigned { kTokenKeyword, kTokenVariable, kTokenBlock, kTokenExpression };
// The tokens of the file ARole, in order: statements, names, expressions, markers and
// placeholders.
std::vector<TToken> TokensOf(const TPage& APage, TRole ARole);

// A symbol of a file's outline, with its children.
struct TOutline {
  std::string Name;
  std::string Detail;
  bool IsBlock;
  TSpan Span;      // the whole of it
  TSpan NameSpan;  // its name
  std::vector<TOutline> Children;
};
// The outline of the file ARole: in the script the blocks with their variables and the template
// variables; in the template the copies of the blocks with their placeholders. Copies nest at
// most kMaxOutlineDepth deep: those below that depth are children of the copy there, so that
// neither the outline nor its JSON is deeper than a client can take.
inline constexpr std::size_t kMaxOutlineDepth = 64;
std::vector<TOutline> OutlineOf(const TPage& APage, TRole ARole);

}  // namespace zoqc::lsp
