// Variable substitution: one left-to-right pass over the template.
#include "src/template/variables.h"

#include <bit>
#include <cstring>
#include <type_traits>

#include "src/text/text.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zoqc {

namespace {

// The hash of a name of kShortName characters or more (and of a key that is no name).
std::uint32_t LongHash(std::string_view AName) { return FoldedNameHash(AName); }

}  // namespace

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
    TFolded folded;
    const bool short_name = FoldShort(AKey, folded);
    const std::uint32_t hash = short_name ? ShortHash(folded) : LongHash(AKey);
    const std::size_t slot = SlotOf(hash, short_name, folded, AKey);
    if (Slots[slot] != 0) return;  // a key listed earlier, up to case, wins
    const std::size_t start = Texts.size();
    append(AKey);
    append(APrefix);
    append(AValue);
    append(ASuffix);
    const char* base = Texts.data() + start;
    Entries.push_back({folded,
                       std::string_view(base + AKey.size(), Texts.size() - start - AKey.size()),
                       std::string_view(base, AKey.size())});
    Slots[slot] = (static_cast<std::uint64_t>(hash) << 32) | Entries.size();
  });
}

bool TPlaceholderIndex::FoldShort(std::string_view AName, TFolded& AFolded) {
  AFolded = kNotShort;
  if (AName.size() >= kShortName) return false;
  TFolded folded;
  for (std::size_t i = 0; i < AName.size(); ++i) {
    const unsigned char b = kNameFold.Of[static_cast<unsigned char>(AName[i])];
    if (!b) return false;
    (i < 8 ? folded.Lo : folded.Hi) |= std::uint64_t{b} << (8 * (i % 8));
  }
  AFolded = folded;
  return true;
}

std::size_t TPlaceholderIndex::SlotOf(std::uint32_t AHash, bool AShort, const TFolded& AFolded,
                                      std::string_view AName) const {
  for (std::size_t slot = AHash & Mask;; slot = (slot + 1) & Mask) {
    const std::uint64_t s = Slots[slot];
    if (s == 0) return slot;
    if ((s >> 32) != AHash) continue;
    const TEntry& entry = Entries[(s & 0xFFFFFFFFu) - 1];
    if (AShort ? entry.Folded == AFolded : SameText(entry.Key, AName)) return slot;
  }
}

const std::string_view* TPlaceholderIndex::Found(std::size_t ASlot, std::size_t AEnd,
                                                 std::size_t AIdx, std::size_t& ALength,
                                                 std::string_view* AKey) const {
  const std::uint64_t s = Slots[ASlot];
  if (s == 0) return nullptr;
  ALength = AEnd + 1 - AIdx;
  const std::size_t e = (s & 0xFFFFFFFFu) - 1;
  const TEntry& entry = Entries[e];
  Hit[e] = 1;
  if (AKey) *AKey = entry.Key;
  return &entry.Text;
}

const std::string_view* TPlaceholderIndex::Match(std::string_view AText, std::size_t AIdx,
                                                 std::size_t& ALength,
                                                 std::string_view* AKey) const {
  if (Entries.empty()) return nullptr;
  const std::size_t from = AIdx + 1;  // past "{"
#if defined(__SSE2__) || defined(_M_X64)
  // Where 16 bytes follow the "{", one compare of them finds the name's end, and the same
  // bytes, masked to the name and folded, are its key.
  if (AText.size() - from >= kShortName) {
    const char* const at = AText.data() + from;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // Letters: (byte | 0x20) in 'a'..'z'; digits: byte in '0'..'9' (unsigned ranges taken as
    // signed compares after a shift by 0x80).
    const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i letter =
        _mm_cmplt_epi8(_mm_add_epi8(lower, _mm_set1_epi8(static_cast<char>(0x80 - 'a'))),
                       _mm_set1_epi8(static_cast<char>(-128 + 26)));
    const __m128i digit =
        _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - '0'))),
                       _mm_set1_epi8(static_cast<char>(-128 + 10)));
    const unsigned stop =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit))) & 0xFFFFu;
    if (stop != 0) {  // else a long name: below
      const unsigned length = static_cast<unsigned>(std::countr_zero(stop));
      if (at[length] != '}') return nullptr;
      const __m128i keep =
          _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(length)),
                         _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
      const __m128i folded =
          _mm_and_si128(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDF))), keep);
      TFolded key;
      key.Lo = static_cast<std::uint64_t>(_mm_cvtsi128_si64(folded));
      key.Hi = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(folded, folded)));
      const std::uint32_t hash = ShortHash(key);
      for (std::size_t slot = hash & Mask;; slot = (slot + 1) & Mask) {
        const std::uint64_t s = Slots[slot];
        if (s == 0) return nullptr;
        if ((s >> 32) == hash && Entries[(s & 0xFFFFFFFFu) - 1].Folded == key)
          return Found(slot, from + length, AIdx, ALength, AKey);
      }
    }
  }
#endif
  const std::size_t end = NameEnd(AText, from);
  if (end >= AText.size() || AText[end] != '}') return nullptr;
  const std::string_view name = AText.substr(from, end - from);
  TFolded key;
  const bool short_name = FoldShort(name, key);
  return Found(SlotOf(short_name ? ShortHash(key) : LongHash(name), short_name, key, name), end,
               AIdx, ALength, AKey);
}

// The substitution loop runs once per "{" of the template: the lookup and the appends are
// inlined into it.
#if defined(__GNUC__) || defined(__clang__)
#define SUBSTITUTE_INLINED [[gnu::flatten]]
#else
#define SUBSTITUTE_INLINED
#endif

namespace {

// Calls AEmit(text, kNowhere, "") for each stretch of AText and AEmit(text, placeholder offset,
// key) for each placeholder text, in order; ALeft(offset) for each placeholder left as written.
// With AEscape (a TEscaping* when the page is escaped), "{!name}" is a placeholder too, and each
// placeholder's text is AEscape->Text(offset in AText, ...).
template <typename TEmit, typename TLeft, typename TEscape = std::nullptr_t>
SUBSTITUTE_INLINED void Substitute(std::string_view AText, const TPlaceholderIndex& ANames,
                                   TEmit AEmit, TLeft ALeft, TEscape AEscape = nullptr) {
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
