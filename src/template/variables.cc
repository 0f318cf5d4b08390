// Variable substitution: one left-to-right pass over the template.
#include "src/template/variables.h"

#include <cstring>
#include <type_traits>

#include "src/text/text.h"

namespace zoqc {

TPlaceholderIndex::TPlaceholderIndex(const THashTable* ATable, std::string_view APrefix,
                                     std::string_view ASuffix)
    : Prefix(APrefix.size()), Suffix(ASuffix.size()) {
  if (!ATable) return;
  std::size_t count = 0;
  std::size_t bytes = 0;
  ATable->ForEachPair([&](std::string_view AKey, std::string_view AValue) {
    ++count;
    bytes += AKey.size() + APrefix.size() + AValue.size() + ASuffix.size();
  });
  Texts.reserve(bytes);  // never grows past this, so the views below stay valid
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  Slots.assign(size, 0);
  Mask = size - 1;
  Entries.reserve(count);
  Hit.assign(count, 0);
  const auto append = [&](std::string_view APart) {
    Texts.insert(Texts.end(), APart.begin(), APart.end());
  };
  ATable->ForEachPair([&](std::string_view AKey, std::string_view AValue) {
    const std::uint32_t hash = FoldedNameHash(AKey);
    const std::size_t slot = SlotOf(hash, AKey);
    if (Slots[slot] != 0) return;  // a key listed earlier, up to case, wins
    const std::size_t start = Texts.size();
    append(AKey);
    append(APrefix);
    append(AValue);
    append(ASuffix);
    const char* base = Texts.data() + start;
    Entries.push_back({std::string_view(base, AKey.size()),
                       std::string_view(base + AKey.size(), Texts.size() - start - AKey.size())});
    Slots[slot] = (static_cast<std::uint64_t>(hash) << 32) | Entries.size();
  });
}

std::size_t TPlaceholderIndex::SlotOf(std::uint32_t AHash, std::string_view AKey) const {
  for (std::size_t slot = AHash & Mask;; slot = (slot + 1) & Mask) {
    const std::uint64_t s = Slots[slot];
    if (s == 0) return slot;
    if ((s >> 32) == AHash && SameText(Entries[(s & 0xFFFFFFFFu) - 1].Key, AKey)) return slot;
  }
}

const std::string_view* TPlaceholderIndex::Match(std::string_view AText, std::size_t AIdx,
                                                 std::size_t& ALength,
                                                 std::string_view* AKey) const {
  if (Entries.empty()) return nullptr;
  // Finds the end of the name and hashes it in the same loop.
  const unsigned char* const text = reinterpret_cast<const unsigned char*>(AText.data());
  std::uint64_t h = kNameHashSeed;
  std::size_t end = AIdx + 1;  // past "{"
  for (; end < AText.size(); ++end) {
    const unsigned char folded = kNameFold.Of[text[end]];
    if (!folded) break;
    h = NameHashStep(h, folded);
  }
  if (end >= AText.size() || AText[end] != '}') return nullptr;
  const std::string_view name = AText.substr(AIdx + 1, end - AIdx - 1);
  const std::uint64_t s = Slots[SlotOf(NameHashFinish(h), name)];
  if (s == 0) return nullptr;
  ALength = end + 1 - AIdx;
  const std::size_t e = (s & 0xFFFFFFFFu) - 1;
  const TEntry& entry = Entries[e];
  Hit[e] = 1;
  if (AKey) *AKey = entry.Key;
  return &entry.Text;
}

namespace {

// Calls AEmit(text, kNowhere, "") for each stretch of AText and AEmit(text, placeholder offset,
// key) for each placeholder text, in order; ALeft(offset) for each placeholder left as written.
// With AEscape (a TEscaping* when the page is escaped), "{!name}" is a placeholder too, and each
// placeholder's text is AEscape->Text(offset in AText, ...).
template <typename TEmit, typename TLeft, typename TEscape = std::nullptr_t>
void Substitute(std::string_view AText, const TPlaceholderIndex& ANames, TEmit AEmit, TLeft ALeft,
                TEscape AEscape = nullptr) {
  if (ANames.Empty()) {
    for (std::size_t idx = AText.find('{'); idx != std::string_view::npos;
         idx = AText.find('{', idx + 1))
      if (IsPlaceholderAt(AText, idx)) ALeft(idx);
    AEmit(AText, kNowhere, std::string_view());
    return;
  }
  const char* const data = AText.data();
  std::size_t done = 0;  // AText before this index is emitted
  std::size_t idx = 0;
  while (idx < AText.size()) {
    const void* brace = std::memchr(data + idx, '{', AText.size() - idx);
    if (!brace) break;
    idx = static_cast<std::size_t>(static_cast<const char*>(brace) - data);
    std::size_t length = 0;
    std::string_view key;
    const std::string_view* text = ANames.Match(AText, idx, length, &key);
    if constexpr (!std::is_same_v<TEscape, std::nullptr_t>) {
      bool raw = false;
      if (!text && idx + 1 < AText.size() && AText[idx + 1] == '!') {  // "{!name}"
        text = ANames.Match(AText, idx + 1, length, &key);
        raw = text != nullptr;
        length += raw;
      }
      if (text) {
        AEmit(AText.substr(done, idx - done), kNowhere, std::string_view());
        AEmit(AEscape(idx, *text, raw), idx, key);
        idx += length;
        done = idx;
        continue;
      }
    }
    if (!text) {
      if (IsPlaceholderAt(AText, idx)) ALeft(idx);
      ++idx;
      continue;
    }
    AEmit(AText.substr(done, idx - done), kNowhere, std::string_view());
    AEmit(*text, idx, key);
    idx += length;
    done = idx;
  }
  AEmit(AText.substr(done), kNowhere, std::string_view());
}

}  // namespace

bool IsPlaceholderAt(std::string_view AText, std::size_t AIdx) {
  const std::size_t end = NameEnd(AText, AIdx + 1);
  return end > AIdx + 1 && end < AText.size() && AText[end] == '}';
}

void SubstituteVariables(std::span<const std::string_view> ATemplatePieces,
                         const TPlaceholderIndex& AVars, TPageBuilder& APage,
                         std::string_view ATemplate, std::vector<std::size_t>& ALeft,
                         std::span<const std::size_t> APieceCuts, const TExpressionOffsets* AExprOf,
                         TEscaping* AEscape) {
  if (AEscape) {  // each placeholder escaped for where it stands
    for (std::size_t p = 0; p < ATemplatePieces.size(); ++p) {
      const std::string_view piece = ATemplatePieces[p];
      const std::size_t cut = p < APieceCuts.size() ? APieceCuts[p] : kNowhere;
      if (cut != kNowhere) {  // a block's echo prints its buffer as it is
        APage.Append(piece, {0, TOrigin::Generated, kNowhere, kNowhere, cut});
        continue;
      }
      // Without provenance an echo is a piece of its own, which holds no "{".
      const auto base = [&] { return static_cast<std::size_t>(piece.data() - ATemplate.data()); };
      Substitute(
          piece, AVars,
          [&](std::string_view APiece, std::size_t APlace, std::string_view) {
            if (!APage.Recording()) return APage.Append(APiece, {});
            if (APlace == kNowhere)
              APage.Append(APiece, {0, TOrigin::Template,
                                    static_cast<std::size_t>(APiece.data() - ATemplate.data())});
            else
              APage.Append(APiece, {0, TOrigin::Generated, kNowhere, kNowhere, base() + APlace});
          },
          [&](std::size_t AAt) { ALeft.push_back(base() + AAt); },
          [&](std::size_t AAt, std::string_view AText, bool ARaw) {
            return AEscape->Text(base() + AAt, AText, AVars.PrefixSize(), AVars.SuffixSize(), ARaw);
          });
    }
    return;
  }
  if (!APage.Recording()) {
    for (std::size_t p = 0; p < ATemplatePieces.size(); ++p) {
      const std::string_view piece = ATemplatePieces[p];
      Substitute(
          piece, AVars,
          [&](std::string_view APiece, std::size_t, std::string_view) { APage.Append(APiece, {}); },
          [&](std::size_t AAt) {
            ALeft.push_back(static_cast<std::size_t>(piece.data() - ATemplate.data()) + AAt);
          });
    }
    return;
  }
  for (std::size_t p = 0; p < ATemplatePieces.size(); ++p) {
    const std::string_view piece = ATemplatePieces[p];
    const std::size_t cut = p < APieceCuts.size() ? APieceCuts[p] : kNowhere;
    if (cut != kNowhere) {  // a block's echo
      APage.Append(piece, {0, TOrigin::Generated, kNowhere, kNowhere, cut});
      continue;
    }
    const std::size_t base = static_cast<std::size_t>(piece.data() - ATemplate.data());
    Substitute(
        piece, AVars,
        [&](std::string_view APiece, std::size_t APlace, std::string_view AKey) {
          if (APlace == kNowhere) {
            APage.Append(APiece, {0, TOrigin::Template,
                                  static_cast<std::size_t>(APiece.data() - ATemplate.data())});
            return;
          }
          // "<?php echo ", the expression, ";?>"
          const std::size_t at = base + APlace;
          const std::size_t prefix = AVars.PrefixSize(), suffix = AVars.SuffixSize();
          const auto expr = AExprOf ? AExprOf->find(AKey) : TExpressionOffsets::const_iterator();
          const std::size_t offset = AExprOf && expr != AExprOf->end() ? expr->second : kNowhere;
          APage.Append(APiece.substr(0, prefix), {0, TOrigin::Generated, kNowhere, kNowhere, at});
          APage.Append(
              APiece.substr(prefix, APiece.size() - prefix - suffix),
              {0, offset == kNowhere ? TOrigin::Generated : TOrigin::Script, offset, kNowhere, at});
          APage.Append(APiece.substr(APiece.size() - suffix),
                       {0, TOrigin::Generated, kNowhere, kNowhere, at});
        },
        [&](std::size_t AAt) { ALeft.push_back(base + AAt); });
  }
}

}  // namespace zoqc
