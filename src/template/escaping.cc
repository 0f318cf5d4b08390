// The escaped translation's texts, made from the contexts of the page model.
#include "src/template/escaping.h"

#include <algorithm>

#include "src/model/html_escape.h"

namespace zoqc {

TEscaping::TEscaping(std::string_view ATemplate) : Places(ATemplate) {
  // Each distinct context gets a number from 1 (0: a placeholder the template does not hold).
  // Most are alike: one without a URL tail is told by its fields alone.
  std::unordered_map<std::string, std::uint32_t> tails;
  std::unordered_map<std::uint64_t, std::uint32_t> kinds;
  const std::span<const THtmlContext> contexts = Places.Contexts();
  Kinds.reserve(contexts.size());
  for (const THtmlContext& c : contexts) {
    const std::uint64_t key = std::uint64_t{static_cast<unsigned char>(c.Place)} |
                              std::uint64_t{static_cast<unsigned char>(c.Attribute)} << 8 |
                              std::uint64_t{static_cast<unsigned char>(c.Quote)} << 16 |
                              std::uint64_t{static_cast<unsigned char>(c.Js)} << 24 |
                              std::uint64_t{static_cast<unsigned char>(c.Css)} << 32 |
                              std::uint64_t{static_cast<unsigned char>(c.Url)} << 40;
    const std::uint32_t number = static_cast<std::uint32_t>(kinds.size() + tails.size() + 1);
    if (c.UrlTail.empty()) {
      Kinds.push_back(kinds.try_emplace(key, number).first->second);
    } else {
      std::string tail(reinterpret_cast<const char*>(&key), sizeof key);
      Kinds.push_back(tails.try_emplace(tail.append(c.UrlTail), number).first->second);
    }
  }
}

const THtmlContext* TEscaping::At(std::size_t AAt) const {
  const std::size_t index = Places.IndexAt(AAt);
  return index == kNowhere ? nullptr : &Places.Contexts()[index];
}

std::string_view TEscaping::Text(std::size_t AAt, std::string_view AText, std::size_t APrefix,
                                 std::size_t ASuffix, bool ARaw) {
  if (ARaw) return AText;
  const THtmlContext* found = At(AAt);
  const THtmlContext text;  // a placeholder the template does not hold: escaped as text
  const THtmlContext& context = found ? *found : text;
  // A name printed again in the same context gets the text made the first time: AText views
  // the placeholder index's own text of the name, which stays where it is.
  const auto [it, added] = Made.try_emplace(
      {found ? Kinds[static_cast<std::size_t>(found - Places.Contexts().data())] : 0, AText.data(),
       AText.size()});
  if (!added) return it->second;
  const std::string_view expr = AText.substr(APrefix, AText.size() - APrefix - ASuffix);
  std::string& made = Texts.emplace_back(AText.substr(0, APrefix));
  made.append(EscapedExpression(context, expr));
  made.append(AText.substr(AText.size() - ASuffix));
  return it->second = made;
}

}  // namespace zoqc
