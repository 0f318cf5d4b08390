// The escaped translation's texts, made from the contexts of the page model.
#include "src/template/escaping.h"

#include <algorithm>

#include "src/model/html_escape.h"

namespace zoqc {

TEscaping::TEscaping(std::string_view ATemplate)
    : Spans(PrintedPlaceholders(ATemplate)), Contexts(HtmlContexts(ATemplate, Spans)) {
  // Each distinct context gets a number from 1 (0: a placeholder the template does not hold).
  std::unordered_map<std::string, std::uint32_t> kinds;
  Kinds.reserve(Contexts.size());
  for (const THtmlContext& c : Contexts) {
    std::string key{
        static_cast<char>(c.Place), static_cast<char>(c.Attribute), c.Quote,
        static_cast<char>(c.Js),    static_cast<char>(c.Css),       static_cast<char>(c.Url)};
    key.append(c.UrlTail);
    Kinds.push_back(kinds.try_emplace(std::move(key), kinds.size() + 1).first->second);
  }
}

const THtmlContext* TEscaping::At(std::size_t AAt) const {
  const auto it = std::lower_bound(Spans.begin(), Spans.end(), AAt,
                                   [](const TSpan& s, std::size_t at) { return s.Begin < at; });
  if (it == Spans.end() || it->Begin != AAt) return nullptr;
  return &Contexts[static_cast<std::size_t>(it - Spans.begin())];
}

std::string_view TEscaping::Text(std::size_t AAt, std::string_view AText, std::size_t APrefix,
                                 std::size_t ASuffix, bool ARaw) {
  if (ARaw) return AText;
  const THtmlContext* found = At(AAt);
  const THtmlContext text;  // a placeholder the template does not hold: escaped as text
  const THtmlContext& context = found ? *found : text;
  // A name printed again in the same context gets the text made the first time: AText views
  // the placeholder index's own text of the name, which stays where it is.
  const auto [it, added] =
      Made.try_emplace({found ? Kinds[static_cast<std::size_t>(found - Contexts.data())] : 0,
                        AText.data(), AText.size()});
  if (!added) return it->second;
  const std::string_view expr = AText.substr(APrefix, AText.size() - APrefix - ASuffix);
  std::string& made = Texts.emplace_back(AText.substr(0, APrefix));
  made.append(EscapedExpression(context, expr));
  made.append(AText.substr(AText.size() - ASuffix));
  return it->second = made;
}

}  // namespace zoqc
