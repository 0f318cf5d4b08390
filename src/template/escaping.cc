// The escaped translation's texts, made from the contexts of the page model.
#include "src/template/escaping.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

namespace zoqc {

TEscaping::TEscaping(std::string_view ATemplate) : Places(ATemplate), KindOf(1, 0) {
  // Each distinct context gets a number from 1 (0: a placeholder the template does not hold).
  // Most are alike: one without a URL tail is told by its fields alone, and most often it is
  // the one before it.
  std::unordered_map<std::string, std::uint32_t> tails;
  std::unordered_map<std::uint64_t, std::uint32_t> kinds;
  const std::span<const THtmlContext> contexts = Places.Contexts();
  Kinds.reserve(contexts.size());
  std::uint64_t last_key = 0;
  std::uint32_t last = 0;  // the number of last_key, 0: none yet
  for (std::size_t p = 0; p < contexts.size(); ++p) {
    const THtmlContext& c = contexts[p];
    const std::uint64_t key = std::uint64_t{static_cast<unsigned char>(c.Place)} |
                              std::uint64_t{static_cast<unsigned char>(c.Attribute)} << 8 |
                              std::uint64_t{static_cast<unsigned char>(c.Quote)} << 16 |
                              std::uint64_t{static_cast<unsigned char>(c.Js)} << 24 |
                              std::uint64_t{static_cast<unsigned char>(c.Css)} << 32 |
                              std::uint64_t{static_cast<unsigned char>(c.Url)} << 40;
    const std::uint32_t number = static_cast<std::uint32_t>(KindOf.size());
    std::uint32_t kind;
    if (!c.UrlTail.empty()) {
      std::string tail(reinterpret_cast<const char*>(&key), sizeof key);
      kind = tails.try_emplace(tail.append(c.UrlTail), number).first->second;
    } else if (last && key == last_key) {
      kind = last;
    } else {
      kind = last = kinds.try_emplace(key, number).first->second;
      last_key = key;
    }
    if (kind == number) KindOf.push_back(p);
    Kinds.push_back(kind);
  }
  Escapers.resize(KindOf.size());
  // Room for a text per four placeholders, up to some thousands, before the table first grows:
  // a page prints most names more than once (the bench pages ten times).
  Slots.resize(std::bit_ceil(2 * std::clamp<std::size_t>(contexts.size() / 4, 32, 4096)));
}

const THtmlContext* TEscaping::At(std::size_t AAt) const {
  const std::size_t index = Places.IndexAt(AAt);
  return index == kNowhere ? nullptr : &Places.Contexts()[index];
}

void TEscaping::Grow() {
  std::vector<TSlot> old(Slots.size() * 2);
  old.swap(Slots);
  Used = 0;
  for (const TSlot& s : old)
    if (s.Text) Slot(s.Kind, {s.Text, s.Size}) = s, ++Used;
}

char* TEscaping::Keep(std::size_t ASize) {
  if (ASize > ChunkLeft) {
    ChunkSize = std::max<std::size_t>(ASize, 64 * 1024);
    Chunks.emplace_back(new char[ChunkSize]);  // not zeroed
    ChunkLeft = ChunkSize;
  }
  char* const at = Chunks.back().get() + (ChunkSize - ChunkLeft);
  ChunkLeft -= ASize;
  return at;
}

std::string_view TEscaping::Make(TSlot& ASlot, std::uint32_t AKind, std::string_view AText,
                                 std::size_t APrefix, std::size_t ASuffix) {
  const THtmlContext text;  // a placeholder the template does not hold: escaped as text
  const THtmlContext& context = AKind ? Places.Contexts()[KindOf[AKind]] : text;
  const std::string_view expr = AText.substr(APrefix, AText.size() - APrefix - ASuffix);
  std::string escaped;  // an expression that escapes already, as EscapedExpression keeps it
  std::string_view middle = expr, before, after;
  if (IsEscaped(expr)) {
    escaped = EscapedExpression(context, expr);
    middle = escaped;
  } else {
    std::optional<TEscaper>& escaper = Escapers[AKind];
    if (!escaper) escaper = ValueEscaper(context);
    before = escaper->Before, after = escaper->After;
  }
  const std::string_view pieces[] = {AText.substr(0, APrefix), before, middle, after,
                                     AText.substr(AText.size() - ASuffix)};
  std::size_t size = 0;
  for (const std::string_view piece : pieces) size += piece.size();
  char* const made = Keep(size);
  char* to = made;
  for (const std::string_view piece : pieces) {
    if (!piece.empty()) std::memcpy(to, piece.data(), piece.size());  // memcpy: no null source
    to += piece.size();
  }
  ASlot = {AText.data(), AText.size(), AKind, std::string_view(made, size)};
  ++Used;
  return ASlot.Made;
}

}  // namespace zoqc
