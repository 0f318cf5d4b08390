// The escaped translation's texts: each placeholder the page prints becomes the PHP that prints
// its expression escaped for the HTML context where it stands (the page model's answer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/html/html_context.h"
#include "src/html/html_escape.h"

namespace zoqc {

// The texts made from the contexts of every "{name}" and "{!name}" of a template (the page
// model's answer, which must outlive this); the texts live as long as this.
class TEscaping {
 public:
  explicit TEscaping(const TTemplateContexts& AContexts);

  // The text that replaces the placeholder at template offset AAt, made from its unescaped
  // text AText (APrefix bytes, the expression, ASuffix bytes): the same with the expression
  // escaped, or AText itself for a "{!name}" (ARaw).
  std::string_view Text(std::size_t AAt, std::string_view AText, std::size_t APrefix,
                        std::size_t ASuffix, bool ARaw) {
    if (ARaw) return AText;
    return TextOf(Places.IndexAt(AAt), AText, APrefix, ASuffix);
  }
  // The same for the placeholder at AIndex of Contexts().Spans() (kNowhere: none there), which
  // is not a "{!name}".
  std::string_view TextOf(std::size_t AIndex, std::string_view AText, std::size_t APrefix,
                          std::size_t ASuffix) {
    // A name printed again in the same context gets the text made the first time: AText views
    // the placeholder index's own text of the name, which stays where it is.
    const std::uint32_t kind = AIndex == kNowhere ? 0 : Places.Kinds()[AIndex];
    TSlot& slot = Slot(kind, AText);
    return slot.Text ? slot.Made : Make(slot, kind, AText, APrefix, ASuffix);
  }
  // The contexts of all the template's placeholders.
  const TTemplateContexts& Contexts() const { return Places; }

 private:
  // The text made for the unescaped text at AText (its address and size) in context number
  // AKind, or the free slot where it goes.
  struct TSlot {
    const char* Text = nullptr;  // null: free
    std::size_t Size = 0;
    std::uint32_t Kind = 0;
    std::string_view Made;
  };
  TSlot& Slot(std::uint32_t AKind, std::string_view AText) {
    const std::size_t mask = Slots.size() - 1;
    std::size_t at = static_cast<std::size_t>(
        ((reinterpret_cast<std::uintptr_t>(AText.data()) >> 3) ^ (std::uint64_t{AKind} << 32)) *
            0x9E3779B97F4A7C15u >>
        32);
    for (;; ++at) {
      TSlot& s = Slots[at & mask];
      if (!s.Text || (s.Text == AText.data() && s.Size == AText.size() && s.Kind == AKind))
        return s;
    }
  }
  void Grow();
  // Makes the text of a placeholder of AText in context number AKind into the free ASlot (or
  // where it goes after the table grew: it stays at most half full).
  std::string_view Make(TSlot& ASlot, std::uint32_t AKind, std::string_view AText,
                        std::size_t APrefix, std::size_t ASuffix);
  // ASize bytes of storage that lives as long as this.
  char* Keep(std::size_t ASize);

  const TTemplateContexts& Places;
  std::vector<std::optional<TEscaper>> Escapers;  // per context number, once asked for
  std::vector<TSlot> Slots;                       // open addressing, a power of two
  std::size_t Used = 0;                           // slots taken
  std::vector<std::unique_ptr<char[]>> Chunks;    // what Keep copied, in chunks
  std::size_t ChunkSize = 0, ChunkLeft = 0;       // the last chunk's size, and its free end
};

}  // namespace zoqc
