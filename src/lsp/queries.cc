// Symbols, their occurrences, hover texts, completions, tokens and outlines from the page model.
#include "src/lsp/queries.h"

#include <algorithm>
#include <set>

#include "src/html/html_context.h"
#include "src/text/text.h"

namespace zoqc::lsp {

namespace {

std::string_view ScriptText(const TPage& APage) { return APage.Model().Script.Text; }

std::string_view NameOf(const TPage& APage, const TStatement& AStatement) {
  return AStatement.Name.Of(ScriptText(APage));
}

// The binding statements of a name: the template's or block ABlock's.
std::vector<const TStatement*> BindingsOf(const TPage& APage, TSymbolKind AKind,
                                          std::string_view AName, std::size_t ABlock) {
  const TPageModel& model = APage.Model();
  std::vector<const TStatement*> found;
  if (AKind == TSymbolKind::BlockVar && ABlock == kNowhere) return found;
  for (const std::size_t s : model.BindingsOf(AKind == TSymbolKind::BlockVar ? ABlock : kNowhere))
    if (SameText(NameOf(APage, model.Script.Statements[s]), AName))
      found.push_back(&model.Script.Statements[s]);
  return found;
}

// The placeholders that a name of the template (ABlock kNowhere) or of a block fills.
std::vector<const TPlaceholder*> PlaceholdersOf(const TPage& APage, std::string_view AName,
                                                std::size_t ABlock) {
  const TPageModel& model = APage.Model();
  std::vector<const TPlaceholder*> found = model.PlaceholdersOf(ABlock);
  std::erase_if(
      found, [&](const TPlaceholder* P) { return !SameText(P->Name.Of(model.Template), AName); });
  return found;
}

std::string LineNumber(const TPage& APage, TRole ARole, std::size_t AOffset) {
  return std::to_string(APage.LinesOf(ARole).LineOf(AOffset));
}

// The 1-based line numbers of the offsets, as "line 3" or "lines 3, 7 and 9".
std::string LineList(const TPage& APage, TRole ARole, const std::vector<std::size_t>& AOffsets) {
  std::string list = AOffsets.size() > 1 ? "lines " : "line ";
  for (std::size_t idx = 0; idx < AOffsets.size(); ++idx) {
    if (idx > 0) list += idx + 1 == AOffsets.size() ? " and " : ", ";
    list += LineNumber(APage, ARole, AOffsets[idx]);
  }
  return list;
}

std::string CodeBlock(std::string_view AText) { return "```php\n" + std::string(AText) + "\n```"; }

std::string FileName(const std::string& AUri) { return AUri.substr(AUri.find_last_of('/') + 1); }

}  // namespace

bool IsValidName(std::string_view AName) {
  return !AName.empty() && std::all_of(AName.begin(), AName.end(), IsNameChar);
}

std::optional<std::string> RenameConflict(const TPage& APage, const TSymbol& ASymbol,
                                          std::string_view ANewName) {
  if (SameText(ANewName, ASymbol.Name)) return std::nullopt;  // the same name, in other letters
  const TPageModel& model = APage.Model();
  const std::string script = FileName(APage.ScriptUri);
  std::string quoted(1, '\'');
  (quoted += ANewName) += '\'';
  std::string refused = "cannot rename '";
  ((refused += ASymbol.Name) += "' to ") += quoted;
  refused += ": ";
  if (ASymbol.Kind == TSymbolKind::Block) {
    const std::size_t block = model.BlockNamed(ANewName);
    if (block != kNowhere && !model.Blocks[block].Definitions.empty())
      return refused + "the block " + quoted + " is already defined on line " +
             LineNumber(APage, TRole::Script,
                        model.Script.Statements[model.Blocks[block].Definitions[0]].Line.Begin) +
             " of " + script;
    for (const TMarker& marker : model.Markers)
      if (SameText(marker.Name.Of(model.Template), ANewName))
        return refused + "the template already has a marker " + quoted + " on line " +
               LineNumber(APage, TRole::Template, marker.Span.Begin);
    return std::nullopt;
  }
  const std::size_t block = ASymbol.Kind == TSymbolKind::BlockVar ? ASymbol.Block : kNowhere;
  const std::vector<const TStatement*> bound = BindingsOf(APage, ASymbol.Kind, ANewName, block);
  if (!bound.empty())
    return refused + quoted + " is already bound on line " +
           LineNumber(APage, TRole::Script, bound.front()->Line.Begin) + " of " + script +
           ", and the page would print its value in place of '" + std::string(ASymbol.Name) + "''s";
  const std::vector<const TPlaceholder*> spelled = PlaceholdersOf(APage, ANewName, block);
  if (!spelled.empty())
    return refused + "the template already has '{" + std::string(ANewName) + "}' on line " +
           LineNumber(APage, TRole::Template, spelled.front()->Span.Begin) +
           ", which nothing binds; the renamed binding would fill it";
  return std::nullopt;
}

bool IsDeclaration(const TPage& APage, const TLocation& ALocation) {
  const TPageModel& model = APage.Model();
  if (ALocation.Role == TRole::Template) {
    for (const TMarker& marker : model.Markers)
      if (marker.IsBegin && marker.Name.Begin == ALocation.Span.Begin) return true;
    return false;
  }
  const std::size_t idx = model.Script.StatementAt(ALocation.Span.Begin);
  if (idx == kNowhere) return false;
  const TStatement& statement = model.Script.Statements[idx];
  return statement.Name.Begin == ALocation.Span.Begin &&
         (statement.IsBinding() || statement.Kind == TStatementKind::BlockDef);
}

std::optional<TSymbol> SymbolAt(const TPage& APage, TRole ARole, std::size_t AOffset) {
  const TPageModel& model = APage.Model();
  if (ARole == TRole::Script) {
    const std::size_t idx = model.Script.StatementAt(AOffset);
    if (idx != kNowhere) {
      const TStatement& statement = model.Script.Statements[idx];
      if (statement.Kind != TStatementKind::PhpLine && !statement.Name.Empty() &&
          AOffset <= statement.Name.End) {
        const TSymbolKind kind =
            statement.Kind == TStatementKind::TemplateVar ? TSymbolKind::TemplateVar
            : statement.Kind == TStatementKind::BlockVar  ? TSymbolKind::BlockVar
                                                          : TSymbolKind::Block;
        return TSymbol{kind, NameOf(APage, statement), statement.Block, statement.Name};
      }
    }
    for (const TBlockRef& ref : model.Script.Refs)
      if (ref.Span.Begin <= AOffset && AOffset <= ref.Span.End && !ref.Name.Empty()) {
        const std::string_view name = ref.Name.Of(model.Script.Text);
        return TSymbol{TSymbolKind::Block, name, model.BlockNamed(name), ref.Name};
      }
    return std::nullopt;
  }
  const auto& holders = model.Placeholders();
  auto it = std::upper_bound(
      holders.begin(), holders.end(), AOffset,
      [](std::size_t AAt, const TPlaceholder& AHolder) { return AAt < AHolder.Span.Begin; });
  if (it != holders.begin() && AOffset < std::prev(it)->Span.End && !std::prev(it)->Raw) {
    const TPlaceholder& holder = *std::prev(it);
    const std::size_t block = model.ScopeOf(holder);
    return TSymbol{block == kNowhere ? TSymbolKind::TemplateVar : TSymbolKind::BlockVar,
                   holder.Name.Of(model.Template), block, holder.Name};
  }
  const auto& markers = model.Markers;
  auto marker = std::upper_bound(
      markers.begin(), markers.end(), AOffset,
      [](std::size_t AAt, const TMarker& AMarker) { return AAt < AMarker.Span.Begin; });
  if (marker != markers.begin() && AOffset < std::prev(marker)->Span.End) {
    const TMarker& found = *std::prev(marker);
    if (found.Name.Empty()) return std::nullopt;
    const std::string_view name = found.Name.Of(model.Template);
    return TSymbol{TSymbolKind::Block, name, model.BlockNamed(name), found.Name};
  }
  return std::nullopt;
}

std::vector<TLocation> Occurrences(const TPage& APage, const TSymbol& ASymbol) {
  const TPageModel& model = APage.Model();
  std::vector<TLocation> found;
  if (ASymbol.Kind != TSymbolKind::Block) {
    const std::size_t block = ASymbol.Kind == TSymbolKind::BlockVar ? ASymbol.Block : kNowhere;
    if (ASymbol.Kind == TSymbolKind::TemplateVar || block != kNowhere)
      for (const TStatement* binding : BindingsOf(APage, ASymbol.Kind, ASymbol.Name, block))
        found.push_back({TRole::Script, binding->Name});
    for (const TPlaceholder* holder : PlaceholdersOf(APage, ASymbol.Name, block))
      found.push_back({TRole::Template, holder->Name});
    return found;
  }
  const std::string_view name =
      ASymbol.Block == kNowhere ? ASymbol.Name : model.Blocks[ASymbol.Block].Name;
  std::set<std::size_t> seen;  // a stretch of the script may be copied twice
  for (const TStatement& statement : model.Script.Statements)
    if ((statement.Kind == TStatementKind::BlockDef ||
         statement.Kind == TStatementKind::BlockAppend) &&
        SameText(NameOf(APage, statement), name) && seen.insert(statement.Name.Begin).second)
      found.push_back({TRole::Script, statement.Name});
  for (const TBlockRef& ref : model.Script.Refs)
    if (SameText(ref.Name.Of(model.Script.Text), name) && seen.insert(ref.Name.Begin).second)
      found.push_back({TRole::Script, ref.Name});
  std::sort(found.begin(), found.end(),
            [](const TLocation& A, const TLocation& B) { return A.Span.Begin < B.Span.Begin; });
  for (const TMarker& marker : model.Markers)
    if (SameText(marker.Name.Of(model.Template), name))
      found.push_back({TRole::Template, marker.Name});
  return found;
}

std::vector<TLocation> Definitions(const TPage& APage, const TSymbol& ASymbol, TRole AFrom) {
  const TPageModel& model = APage.Model();
  std::vector<TLocation> found;
  if (ASymbol.Kind != TSymbolKind::Block) {
    for (const TStatement* binding : BindingsOf(APage, ASymbol.Kind, ASymbol.Name, ASymbol.Block))
      found.push_back({TRole::Script, binding->Name});
    return found;
  }
  if (ASymbol.Block == kNowhere) return found;
  const TBlockInfo& block = model.Blocks[ASymbol.Block];
  if (AFrom == TRole::Script) {
    for (const std::size_t begin : block.Begins)
      found.push_back({TRole::Template, model.Markers[begin].Span});
  } else {
    for (const std::size_t definition : block.Definitions)
      found.push_back({TRole::Script, model.Script.Statements[definition].Line});
  }
  return found;
}

namespace {

// Under --escape, how the placeholder at template offset AAt is printed: "\n\nescaped as a URL
// attribute"; "" otherwise.
std::string EscapedAs(const TPage& APage, std::size_t AAt) {
  if (!APage.Analysis.Result.Options.Escape) return "";
  const TTemplateContexts& contexts = APage.Model().Contexts();
  const std::size_t index = contexts.IndexAt(AAt);
  if (index == kNowhere) return "";
  const THtmlContext& context = contexts.Context(index);
  return IsRefused(context) ? "\n\ncannot be escaped in " + DescribeContext(context)
                            : "\n\nescaped as " + DescribeContext(context);
}

// The hover text of a block: where it is defined, its copies, its variables.
std::string BlockHover(const TPage& APage, const TSymbol& ASymbol) {
  const TPageModel& model = APage.Model();
  const std::string script = FileName(APage.ScriptUri);
  if (ASymbol.Block == kNowhere)
    return "no block `" + std::string(ASymbol.Name) + "` is defined in " + script;
  const TBlockInfo& block = model.Blocks[ASymbol.Block];
  std::vector<std::size_t> lines;
  for (const std::size_t definition : block.Definitions)
    lines.push_back(model.Script.Statements[definition].Line.Begin);
  std::string text = "block `" + std::string(block.Name) + "`, defined on " +
                     LineList(APage, TRole::Script, lines) + " of " + script;
  lines.clear();
  for (const std::size_t copy : block.Copies) lines.push_back(model.Copies[copy].Span.Begin);
  text += lines.empty()
              ? "; no copy in the template"
              : "; " + std::to_string(lines.size()) + " cop" + (lines.size() > 1 ? "ies" : "y") +
                    " in the template (" + LineList(APage, TRole::Template, lines) + ")";
  std::string names;
  std::set<std::string_view, std::less<>> seen;
  for (const std::size_t s : model.BindingsOf(ASymbol.Block))
    if (const std::string_view name = NameOf(APage, model.Script.Statements[s]);
        seen.insert(name).second)
      names += (names.empty() ? "" : ", ") + std::string("`") + std::string(name) + "`";
  return names.empty() ? text : text + "\n\nvariables: " + names;
}

}  // namespace

std::string HoverText(const TPage& APage, const TSymbol& ASymbol, TRole AFrom) {
  if (ASymbol.Kind == TSymbolKind::Block) return BlockHover(APage, ASymbol);
  const TPageModel& model = APage.Model();
  const bool of_block = ASymbol.Kind == TSymbolKind::BlockVar;
  const std::string block_name =
      of_block && ASymbol.Block != kNowhere ? std::string(model.Blocks[ASymbol.Block].Name) : "";
  const std::vector<const TStatement*> bindings =
      BindingsOf(APage, ASymbol.Kind, ASymbol.Name, ASymbol.Block);
  const std::string what =
      of_block ? "block variable of `" + block_name + "`" : "template variable";
  if (AFrom == TRole::Template) {
    const std::string name = "`{" + std::string(ASymbol.Name) + "}`";
    if (bindings.empty())
      return name + " is not bound" + (of_block ? " in block `" + block_name + "`" : "") +
             ": the page shows it as written";
    // The binding the page uses: with names that differ only in case, not always the last.
    const std::size_t fills =
        model.BindingThatFills(of_block ? ASymbol.Block : kNowhere, ASymbol.Name);
    const TStatement& binding =
        fills == kNowhere ? *bindings.back() : model.Script.Statements[fills];
    return name + " prints\n" + CodeBlock(binding.Expr.Of(ScriptText(APage))) + "\n" + what +
           ", bound on line " + LineNumber(APage, TRole::Script, binding.Line.Begin) + " of " +
           FileName(APage.ScriptUri) + ": `" + std::string(binding.Line.Of(ScriptText(APage))) +
           "`" + EscapedAs(APage, ASymbol.Span.Begin - 1);
  }
  std::string text = what + " `" + std::string(ASymbol.Name) + "`";
  if (!bindings.empty()) {
    text += '\n';
    text += CodeBlock(bindings.back()->Expr.Of(ScriptText(APage)));
  }
  std::vector<std::size_t> uses;
  for (const TPlaceholder* holder :
       PlaceholdersOf(APage, ASymbol.Name, of_block ? ASymbol.Block : kNowhere))
    uses.push_back(holder->Span.Begin);
  if (uses.empty()) return text + "\nno placeholder in " + FileName(APage.TemplateUri) + " uses it";
  return text + "\nused by " + std::to_string(uses.size()) + " placeholder" +
         (uses.size() > 1 ? "s" : "") + " in " + FileName(APage.TemplateUri) + " (" +
         LineList(APage, TRole::Template, uses) + ")";
}

std::vector<TCompletion> CompletionsAt(const TPage& APage, TRole ARole, std::size_t AOffset) {
  const TPageModel& model = APage.Model();
  const std::string_view text = APage.Text(ARole);
  AOffset = std::min(AOffset, text.size());
  const TLineTable& lines = APage.LinesOf(ARole);
  const std::size_t start = lines.LineStart(lines.LineOf(AOffset));
  const std::string_view before = text.substr(start, AOffset - start);
  std::string_view word = before;  // the name being written, and what comes before it
  while (!word.empty() && IsNameChar(word.back())) word.remove_suffix(1);
  const std::string_view lead = word;
  std::vector<TCompletion> found;
  std::set<std::string, std::less<>> seen;
  auto add_blocks = [&] {
    for (const TBlockInfo& block : model.Blocks)
      if (seen.insert(UpperCased(block.Name)).second)
        found.push_back({std::string(block.Name), "block", "", true});
  };
  if (ARole == TRole::Script) {
    std::string_view opener = lead;
    while (!opener.empty() && (opener.front() == ' ' || opener.front() == '\t'))
      opener.remove_prefix(1);
    if (opener == "<<+" || opener == "<<*") {
      add_blocks();
      for (const TMarker& marker : model.Markers)  // blocks the template has but not the script
        if (marker.IsBegin && marker.Form == TMarkerForm::Exact &&
            seen.insert(UpperCased(marker.Name.Of(model.Template))).second)
          found.push_back(
              {std::string(marker.Name.Of(model.Template)), "marker in the template", "", true});
    }
    return found;
  }
  if (lead.ends_with("{")) {
    for (const std::size_t s : model.BindingsOf(model.ScopeAt(AOffset))) {
      const TStatement& statement = model.Script.Statements[s];
      if (seen.insert(UpperCased(NameOf(APage, statement))).second)
        found.push_back({std::string(NameOf(APage, statement)),
                         std::string(statement.Expr.Of(model.Script.Text)), "", false});
    }
    return found;
  }
  if (lead.ends_with("<!--BEGIN ") || lead.ends_with("<!--END ")) {
    add_blocks();
    return found;
  }
  found.push_back(
      {"BEGIN/END", "a block's marker pair", "<!--BEGIN ${1:name}-->$0<!--END ${1:name}-->", true});
  return found;
}

std::vector<TToken> TokensOf(const TPage& APage, TRole ARole) {
  const TPageModel& model = APage.Model();
  std::vector<TToken> tokens;
  auto add = [&](std::size_t AFrom, std::size_t ATo, unsigned AType) {
    if (ATo > AFrom) tokens.push_back({{AFrom, ATo}, AType});
  };
  if (ARole == TRole::Script) {
    for (const TStatement& statement : model.Script.Statements) {
      if (statement.Kind == TStatementKind::PhpLine) continue;
      add(statement.Line.Begin, statement.Name.Begin, kTokenKeyword);
      add(statement.Name.Begin, statement.Name.End,
          statement.IsBinding() ? kTokenVariable : kTokenBlock);
      if (!statement.Separated) continue;
      add(statement.Name.End, statement.Expr.Begin, kTokenKeyword);
      add(statement.Expr.Begin, statement.Expr.End, kTokenExpression);
    }
    for (const TBlockRef& ref : model.Script.Refs) {
      if (model.Script.StatementAt(ref.Span.Begin) != kNowhere) continue;
      add(ref.Span.Begin, ref.Name.Begin, kTokenKeyword);
      add(ref.Name.Begin, ref.Name.End, kTokenBlock);
    }
  } else {
    for (const TMarker& marker : model.Markers) {
      add(marker.Span.Begin, marker.Name.Begin, kTokenKeyword);
      add(marker.Name.Begin, marker.Name.End, kTokenBlock);
      add(marker.Name.End, marker.Span.End, kTokenKeyword);
    }
    for (const TPlaceholder& holder : model.Placeholders())
      if (!holder.Raw) add(holder.Span.Begin, holder.Span.End, kTokenVariable);
  }
  std::sort(tokens.begin(), tokens.end(),
            [](const TToken& A, const TToken& B) { return A.Span.Begin < B.Span.Begin; });
  // No overlaps (a stretch copied twice, a placeholder inside a near-miss marker) and no line
  // ends inside a token.
  const std::string_view text = APage.Text(ARole);
  std::vector<TToken> kept;
  std::size_t end = 0;
  for (const TToken& token : tokens) {
    if (token.Span.Begin < end || token.Span.Of(text).find('\n') != std::string_view::npos)
      continue;
    kept.push_back(token);
    end = token.Span.End;
  }
  return kept;
}

std::vector<TOutline> OutlineOf(const TPage& APage, TRole ARole) {
  const TPageModel& model = APage.Model();
  const std::string_view script = model.Script.Text;
  std::vector<TOutline> outline;
  if (ARole == TRole::Script) {
    const auto binding = [&](std::size_t AStatement) {
      const TStatement& statement = model.Script.Statements[AStatement];
      return TOutline{std::string(NameOf(APage, statement)),
                      std::string(statement.Expr.Of(script)),
                      false,
                      statement.Line,
                      statement.Name,
                      {}};
    };
    for (std::size_t idx = 0; idx < model.Blocks.size(); ++idx) {
      const TStatement& definition = model.Script.Statements[model.Blocks[idx].Definitions.front()];
      outline.push_back(TOutline{std::string(model.Blocks[idx].Name),
                                 "block",
                                 true,
                                 definition.Line,
                                 definition.Name,
                                 {}});
    }
    // The blocks' bindings in one pass (the first entries are the blocks, in order): asking for
    // each block's would read every statement once per block.
    for (std::size_t s = 0; s < model.Script.Statements.size(); ++s) {
      const TStatement& statement = model.Script.Statements[s];
      if (statement.Kind != TStatementKind::BlockVar) continue;
      const std::size_t block = statement.Block;
      if (block < model.Blocks.size()) outline[block].Children.push_back(binding(s));
    }
    for (const std::size_t s : model.BindingsOf(kNowhere)) outline.push_back(binding(s));
    return outline;
  }
  // Copies nest: each goes under the innermost earlier copy that holds it, down to
  // kMaxOutlineDepth; deeper ones are listed beside each other under the copy at that depth.
  std::vector<std::pair<const TBlockCopy*, TOutline>> open;
  auto close_one = [&] {
    TOutline done = std::move(open.back().second);
    open.pop_back();
    (open.empty() ? outline : open.back().second.Children).push_back(std::move(done));
  };
  for (const TBlockCopy& copy : model.Copies) {
    while (!open.empty() && open.back().first->Span.End <= copy.Span.Begin) close_one();
    TOutline entry{std::string(model.Blocks[copy.Block].Name),
                   "copy of the block",
                   true,
                   copy.Span,
                   model.Markers[copy.Begin].Name,
                   {}};
    if (open.size() + 1 == kMaxOutlineDepth)
      open.back().second.Children.push_back(std::move(entry));
    else
      open.emplace_back(&copy, std::move(entry));
  }
  while (!open.empty()) close_one();
  return outline;
}

}  // namespace zoqc::lsp
