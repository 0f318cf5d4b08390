// The escaped translation's texts, made from the contexts of the page model.
#include "src/template/escaping.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zoqc {

TEscaping::TEscaping(const TTemplateContexts& AContexts) : Places(AContexts) {
  // The model numbered the contexts: 0 is text, also for a placeholder the template does not
  // hold.
  Escapers.resize(Places.Distinct().size());
  // The table grows as texts are made: a streamed page makes none for placeholders in text,
  // and zeroed room for thousands would cost a fresh page of memory per hundred slots.
  Slots.resize(64);
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
  const THtmlContext& context = Places.Distinct()[AKind];
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
  TSlot* slot = &ASlot;
  if (2 * (Used + 1) > Slots.size()) Grow(), slot = &Slot(AKind, AText);
  *slot = {AText.data(), AText.size(), AKind, std::string_view(made, size)};
  ++Used;
  return slot->Made;
}

}  // namespace zoqc
