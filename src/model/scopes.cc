// The page model's answers about scopes: which copy of a block an offset stands in, which block
// a statement belongs to, and what each scope binds and holds.
#include "src/model/page_model.h"

namespace zoqc {

std::size_t TPageModel::CopyAt(std::size_t AOffset) const {
  std::size_t found = kNowhere;
  for (std::size_t c = 0; c < Copies.size() && Copies[c].Span.Begin < AOffset; ++c)
    if (Copies[c].Same && AOffset < Copies[c].Span.End) found = c;  // later ones lie inside
  return found;
}

std::size_t TPageModel::ScopeAt(std::size_t AOffset) const {
  const std::size_t copy = CopyAt(AOffset);
  return copy == kNowhere ? kNowhere : Copies[copy].Block;
}

std::size_t TPageModel::ScopeOf(const TPlaceholder& APlaceholder) const {
  return APlaceholder.Copy == kNowhere ? kNowhere : Copies[APlaceholder.Copy].Block;
}

std::size_t TPageModel::BlockOf(const TStatement& AStatement) const {
  if (AStatement.Kind == TStatementKind::PhpLine || AStatement.Kind == TStatementKind::TemplateVar)
    return kNowhere;
  if (AStatement.Kind != TStatementKind::BlockVar)
    return BlockNamed(AStatement.Name.Of(Script.Text));
  if (AStatement.Block == kNowhere) return kNowhere;
  return BlockNamed(Script.Statements[AStatement.Block].Name.Of(Script.Text));
}

std::vector<std::size_t> TPageModel::BindingsOf(std::size_t ABlock) const {
  std::vector<std::size_t> found;
  for (std::size_t s = 0; s < Script.Statements.size(); ++s) {
    const TStatement& statement = Script.Statements[s];
    if (ABlock == kNowhere
            ? statement.Kind == TStatementKind::TemplateVar
            : statement.Kind == TStatementKind::BlockVar && BlockOf(statement) == ABlock)
      found.push_back(s);
  }
  return found;
}

std::vector<const TPlaceholder*> TPageModel::PlaceholdersOf(std::size_t ABlock) const {
  std::vector<const TPlaceholder*> found;
  for (const TPlaceholder& placeholder : Placeholders)
    if (ScopeOf(placeholder) == ABlock) found.push_back(&placeholder);
  return found;
}

}  // namespace zoqc
