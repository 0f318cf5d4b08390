// The page model's answers about scopes: which copy of a block an offset stands in, which block
// a statement belongs to, and what each scope binds and holds.
#include "src/model/page_model.h"

#include <algorithm>
#include <unordered_map>

#include "src/tables/chain_table.h"

namespace zoqc {

std::size_t TPageModel::CopyAt(std::size_t AOffset) const {
  return TCopyWalk(*this).CopyAt(AOffset);
}

std::size_t TPageModel::ScopeAt(std::size_t AOffset) const {
  const std::size_t copy = CopyAt(AOffset);
  return copy == kNowhere ? kNowhere : Copies[copy].Block;
}

std::size_t TCopyWalk::CopyAt(std::size_t AOffset) {
  const std::vector<TBlockCopy>& copies = Model.Copies;
  for (; Next < copies.size() && copies[Next].Span.Begin < AOffset; ++Next) {
    if (!copies[Next].Same) continue;  // a copy left as text scopes nothing
    while (!Open.empty() && copies[Open.back()].Span.End <= copies[Next].Span.Begin)
      Open.pop_back();
    Open.push_back(Next);
  }
  while (!Open.empty() && copies[Open.back()].Span.End <= AOffset) Open.pop_back();
  return Open.empty() ? kNowhere : Open.back();
}

std::size_t TPageModel::ScopeOf(const TPlaceholder& APlaceholder) const {
  return APlaceholder.Copy == kNowhere ? kNowhere : Copies[APlaceholder.Copy].Block;
}

std::vector<std::size_t> TPageModel::BindingsOf(std::size_t ABlock) const {
  const auto& lines = Script.Statements;
  std::vector<std::size_t> found;
  if (ABlock == kNowhere) {
    for (std::size_t s = 0; s < lines.size(); ++s)
      if (lines[s].Kind == TStatementKind::TemplateVar) found.push_back(s);
    return found;
  }
  // A block's "<<<" lines follow one of its "<<*" lines, before the next "<<*" line that defines
  // a block: only those stretches are read.
  const auto defines = [&](std::size_t s) {
    return lines[s].Kind == TStatementKind::BlockDef && !lines[s].Separated;
  };
  for (const std::size_t d : Blocks[ABlock].Definitions)
    for (std::size_t s = d + 1; s < lines.size() && !defines(s); ++s)
      if (lines[s].Kind == TStatementKind::BlockVar) found.push_back(s);
  return found;
}

std::vector<TBoundName> TPageModel::BoundNames(std::size_t ABlock) const {
  std::vector<TBoundName> names;
  // A "<<<" line under "<<*" with the empty name fails, and so binds nothing.
  if (ABlock != kNowhere && Blocks[ABlock].Name.empty()) return names;
  std::unordered_map<std::string_view, std::size_t> index;  // name -> its entry in names
  for (const std::size_t s : BindingsOf(ABlock)) {
    if (!Script.Statements[s].Separated) continue;  // failed: binds nothing
    const std::string_view name = Script.Statements[s].Name.Of(Script.Text);
    const auto [it, added] = index.try_emplace(name, names.size());
    if (added)
      names.push_back({name, s, s});
    else
      names[it->second].Latest = s;
  }
  std::sort(names.begin(), names.end(), [](const TBoundName& x, const TBoundName& y) {
    return ListedBefore(x.Name, x.First, y.Name, y.First);
  });
  return names;
}

std::size_t TPageModel::BindingThatFills(std::size_t ABlock, std::string_view AName) const {
  Fills.resize(Blocks.size() + 1);
  std::optional<TFoldedMap>& fills = Fills[ABlock == kNowhere ? Blocks.size() : ABlock];
  if (!fills) {
    fills.emplace();
    for (const TBoundName& bound : BoundNames(ABlock)) fills->try_emplace(bound.Name, bound.Latest);
  }
  const auto it = fills->find(AName);
  return it == fills->end() ? kNowhere : it->second;
}

std::vector<const TPlaceholder*> TPageModel::PlaceholdersOf(std::size_t ABlock) const {
  std::vector<const TPlaceholder*> found;
  for (const TPlaceholder& placeholder : Placeholders())
    if (!placeholder.Raw && ScopeOf(placeholder) == ABlock) found.push_back(&placeholder);
  return found;
}

}  // namespace zoqc
