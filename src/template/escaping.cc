// The escaped translation's texts, made from the contexts of the page model.
#include "src/template/escaping.h"

#include <algorithm>

#include "src/model/html_escape.h"

namespace zoqc {

TEscaping::TEscaping(std::string_view ATemplate)
    : Spans(PrintedPlaceholders(ATemplate)), Contexts(HtmlContexts(ATemplate, Spans)) {}

const THtmlContext* TEscaping::At(std::size_t AAt) const {
  const auto it = std::lower_bound(Spans.begin(), Spans.end(), AAt,
                                   [](const TSpan& s, std::size_t at) { return s.Begin < at; });
  if (it == Spans.end() || it->Begin != AAt) return nullptr;
  return &Contexts[static_cast<std::size_t>(it - Spans.begin())];
}

std::string_view TEscaping::Text(std::size_t AAt, std::string_view AText, std::size_t APrefix,
                                 std::size_t ASuffix, bool ARaw) {
  if (ARaw) return AText;
  const THtmlContext* context = At(AAt);
  const THtmlContext text;  // a placeholder the template does not hold: escaped as text
  const std::string_view expr = AText.substr(APrefix, AText.size() - APrefix - ASuffix);
  std::string& made = Texts.emplace_back(AText.substr(0, APrefix));
  made.append(EscapedExpression(context ? *context : text, expr));
  made.append(AText.substr(AText.size() - ASuffix));
  return made;
}

}  // namespace zoqc
