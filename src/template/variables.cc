// Variable substitution: one left-to-right pass over the template.
#include "src/template/variables.h"

#include <bit>
#include <cstring>
#include <functional>

#include "src/text/text.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zoqc {

// What Bind does for each new name: into the binding loop, which a large page runs per statement.
#if defined(__GNUC__) || defined(__clang__)
#define BIND_INLINED [[gnu::always_inline]] inline
#else
#define BIND_INLINED inline
#endif

namespace {

// The hash of a name of kShortName characters or more (and of a key that is no name).
std::uint32_t LongHash(std::string_view AName) { return FoldedNameHash(AName); }

#if defined(__SSE2__) || defined(_M_X64)
// A name of fewer than 16 bytes as the folded words of FoldShort (bit 5 of each byte cleared,
// zero-padded), when all its bytes are name characters: read by loads that stay within the name
// (two that overlap, whose common bytes are alike) and tested together.
bool FoldWords(std::string_view AName, std::uint64_t& ALo, std::uint64_t& AHi) {
  const std::size_t size = AName.size();
  const char* const at = AName.data();
  const auto load = [](const char* AAt, auto AWord) {
    std::memcpy(&AWord, AAt, sizeof AWord);
    return static_cast<std::uint64_t>(AWord);
  };
  std::uint64_t lo = 0, hi = 0;
  if (size >= 8) {
    lo = load(at, std::uint64_t{});
    if (size > 8) hi = load(at + size - 8, std::uint64_t{}) >> (8 * (16 - size));
  } else if (size >= 4) {
    lo = load(at, std::uint32_t{}) | load(at + size - 4, std::uint32_t{}) << (8 * (size - 4));
  } else if (size > 0) {
    const auto byte = [&](std::size_t AIndex) {
      return std::uint64_t{static_cast<unsigned char>(at[AIndex])} << (8 * AIndex);
    };
    lo = byte(0) | byte(size / 2) | byte(size - 1);
  }
  const __m128i words = _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
  if (NotNameBytes(words) & ((1u << size) - 1)) return false;
  constexpr std::uint64_t kFold = 0xDFDFDFDFDFDFDFDFu;
  ALo = lo & kFold, AHi = hi & kFold;
  return true;
}
#endif

}  // namespace

BIND_INLINED void TPlaceholderIndex::Add(std::size_t ASlot, std::uint32_t AHash,
                                         const TFolded& AFolded, std::string_view AKey,
                                         std::string_view AValue) {
  if (Entries.size() >= UINT32_MAX) throw std::bad_alloc();  // beyond a slot's reach
  TEntry& entry = Entries.emplace_back();
  entry.Folded = AFolded == kNotShort
                     ? TFolded{std::uint64_t{Size32(AKey)} << 32 | AHash, kNotShort.Hi}
                     : AFolded;
  entry.SetText(Store(AValue));
  entry.KeyAt = AKey.data();
  Slots[ASlot] = static_cast<std::uint32_t>(Entries.size());
  if (2 * Entries.size() > Slots.size()) Grow(2 * Slots.size());
}

BIND_INLINED std::string_view TPlaceholderIndex::Store(std::string_view AValue) {
  if (ViewsValues) return AValue;
  const std::string_view prefix = PrefixText, suffix = SuffixText;
  const std::size_t size = prefix.size() + AValue.size() + suffix.size();
  if (Texts.empty() || Texts.back().capacity() - Texts.back().size() < size)
    Texts.emplace_back().reserve(
        std::max({size, std::size_t{4096}, Texts.empty() ? 0 : 2 * Texts.back().capacity()}));
  TLargeVector<char>& texts = Texts.back();  // within its capacity: what it holds stays put
  const std::size_t start = texts.size();
  texts.resize(start + size);
  char* const at = texts.data() + start;
  if (!prefix.empty()) std::memcpy(at, prefix.data(), prefix.size());
  if (!AValue.empty()) std::memcpy(at + prefix.size(), AValue.data(), AValue.size());
  if (!suffix.empty())
    std::memcpy(at + prefix.size() + AValue.size(), suffix.data(), suffix.size());
  return std::string_view(at, size);
}

TPlaceholderIndex::TPlaceholderIndex(const THashTable* ATable, std::string_view APrefix,
                                     std::string_view ASuffix)
    : TPlaceholderIndex(APrefix, ASuffix) {
  if (!ATable) return;
  std::size_t count = 0;
  std::size_t bytes = 0;
  ATable->ForEachPair([&](std::string_view, std::string_view AValue) {
    ++count;
    bytes += AValue.size();
  });
  Reserve(count, bytes);
  // In listing order: a key listed earlier, up to case, wins.
  ATable->ForEachPair([&](std::string_view AKey, std::string_view AValue) {
    TFolded folded;
    const bool short_name = FoldShort(AKey, folded);
    const std::uint32_t hash = HashOf(AKey, short_name, folded);
    const std::size_t slot = SlotOf(hash, short_name, folded, AKey);
    if (Slots[slot] == 0) Add(slot, hash, folded, AKey, AValue);
  });
}

TPlaceholderIndex::TPlaceholderIndex(std::string_view APrefix, std::string_view ASuffix,
                                     bool AViewed)
    : PrefixText(APrefix), SuffixText(ASuffix), ViewsValues(AViewed) {
  Grow(16);
}

void TPlaceholderIndex::UseArena(TArena* AArena) {
  Entries = TLargeVector<TEntry>(TLargeAllocator<TEntry>(AArena));
  Slots = TLargeVector<std::uint32_t>(TLargeAllocator<std::uint32_t>(AArena));
  Grow(16);
}

void TPlaceholderIndex::Reserve(std::size_t ACount, std::size_t AValueBytes) {
  const std::size_t size = SlotsFor(Entries.size() + ACount);
  if (size > Slots.size()) Grow(size);
  Entries.reserve(Entries.size() + ACount);
  const std::size_t bytes = AValueBytes + ACount * (PrefixText.size() + SuffixText.size());
  if (!ViewsValues && bytes > 0 &&
      (Texts.empty() || Texts.back().capacity() - Texts.back().size() < bytes))
    Texts.emplace_back().reserve(bytes);
}

void TPlaceholderIndex::Bind(std::string_view AKey, std::string_view AValue) {
  if (Bindings >= kHit) throw std::bad_alloc();  // beyond the marks' times
  const std::uint32_t now = Bindings++;
  TFolded folded;
#if defined(__SSE2__) || defined(_M_X64)
  // A short name (the usual key) is folded and probed here, without calls.
  const bool short_name = AKey.size() < kShortName && FoldWords(AKey, folded.Lo, folded.Hi);
  if (!short_name) folded = kNotShort;
#else
  const bool short_name = FoldShort(AKey, folded);
#endif
  const std::uint32_t hash = HashOf(AKey, short_name, folded);
  std::size_t slot = hash & Mask;
  if (short_name) {
    for (std::uint32_t s; (s = Slots[slot]) != 0 && !(Entries[s - 1].Folded == folded);)
      slot = (slot + 1) & Mask;
  } else {
    slot = SlotOf(hash, short_name, folded, AKey);
  }
  if (Slots[slot] == 0) {
    Add(slot, hash, folded, AKey, AValue);
    Entries.back().Marks = now;
    return;
  }
  const std::size_t e = Slots[slot] - 1;
  TEntry& entry = Entries[e];
  if (entry.Key() == AKey) {  // bound again: the new value, the same place
    entry.SetText(Store(AValue));
    return;
  }
  // Another spelling of a matched key: the one listed first is matched. Both keep the time of
  // their first binding, so once listed after, a key stays so.
  const auto [behind, added] = Behind.try_emplace(AKey, now);
  if (!added || !ListedBefore(AKey, now, entry.Key(), entry.Added())) return;
  Behind.erase(behind);
  Behind.emplace(entry.Key(), entry.Added());
  entry.KeyAt = AKey.data();  // of the same size
  entry.SetText(Store(AValue));
  entry.Marks = (entry.Marks & kHit) | now;
}

std::string_view TPlaceholderIndex::ValueOf(std::string_view AName) const {
  TFolded folded;
  const bool short_name = FoldShort(AName, folded);
  const std::uint32_t s =
      Slots[SlotOf(HashOf(AName, short_name, folded), short_name, folded, AName)];
  if (s == 0) return {};
  const std::string_view text = Entries[s - 1].Text();
  return text.substr(PrefixSize(), text.size() - PrefixSize() - SuffixSize());
}

void TPlaceholderIndex::Grow(std::size_t ASlots) {
  TLargeVector<std::uint32_t>(ASlots, 0, Slots.get_allocator()).swap(Slots);
  Mask = ASlots - 1;
  for (std::size_t e = 0; e < Entries.size(); ++e) {
    std::size_t slot = HashOf(Entries[e]) & Mask;
    while (Slots[slot] != 0) slot = (slot + 1) & Mask;
    Slots[slot] = static_cast<std::uint32_t>(e + 1);
  }
}

std::uint32_t TPlaceholderIndex::HashOf(std::string_view AName, bool AShort,
                                        const TFolded& AFolded) {
  return AShort ? ShortHash(AFolded) : LongHash(AName);
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
    const std::uint32_t s = Slots[slot];
    if (s == 0) return slot;
    const TEntry& entry = Entries[s - 1];
    if (AShort ? entry.Folded == AFolded
               : entry.Folded.Hi == kNotShort.Hi &&
                     static_cast<std::uint32_t>(entry.Folded.Lo) == AHash &&
                     SameText(entry.Key(), AName))
      return slot;
  }
}

std::optional<std::string_view> TPlaceholderIndex::Found(std::size_t ASlot, std::size_t AEnd,
                                                         std::size_t AIdx, std::size_t& ALength,
                                                         std::string_view* AKey) const {
  const std::uint32_t s = Slots[ASlot];
  if (s == 0) return std::nullopt;
  ALength = AEnd + 1 - AIdx;
  const std::size_t e = s - 1;
  const TEntry& entry = Entries[e];
  entry.Marks |= kHit;
  if (AKey) *AKey = entry.Key();
  return entry.Text();
}

std::optional<std::string_view> TPlaceholderIndex::Match(std::string_view AText, std::size_t AIdx,
                                                         std::size_t& ALength,
                                                         std::string_view* AKey) const {
  if (Entries.empty()) return std::nullopt;
  const std::size_t from = AIdx + 1;  // past "{"
#if defined(__SSE2__) || defined(_M_X64)
  // Where 16 bytes follow the "{", one compare of them finds the name's end, and the same
  // bytes, masked to the name and folded, are its key.
  if (AText.size() - from >= kShortName) {
    const char* const at = AText.data() + from;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const unsigned stop = NotNameBytes(v);
    if (stop != 0) {  // else a long name: below
      const unsigned length = static_cast<unsigned>(std::countr_zero(stop));
      if (at[length] != '}') return std::nullopt;
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
        const std::uint32_t s = Slots[slot];
        if (s == 0) return std::nullopt;
        if (Entries[s - 1].Folded == key) return Found(slot, from + length, AIdx, ALength, AKey);
      }
    }
  }
#endif
  const std::size_t end = NameEnd(AText, from);
  if (end >= AText.size() || AText[end] != '}') return std::nullopt;
  const std::string_view name = AText.substr(from, end - from);
  TFolded key;
  const bool short_name = FoldShort(name, key);
  return Found(SlotOf(HashOf(name, short_name, key), short_name, key, name), end, AIdx, ALength,
               AKey);
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
template <typename TEmit, typename TLeft>
SUBSTITUTE_INLINED void Substitute(std::string_view AText, const TPlaceholderIndex& ANames,
                                   TEmit AEmit, TLeft ALeft) {
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
    std::optional<std::string_view> text = ANames.Match(AText, idx, length, &key);
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

#if defined(__SSE2__) || defined(_M_X64)
// Substitute for a sink that lends room, from AText's start: the text is copied into the room
// 32 bytes at a time while it is searched for "{", so each byte is read once, and each echo,
// APrefix, its text, ASuffix, is written there too. Stops where fewer than 16 bytes are left or
// no room is lent, and yields where: the rest is for Substitute. AWritten counts the bytes.
template <typename TLeft>
SUBSTITUTE_INLINED std::size_t SubstituteInPlace(std::string_view AText,
                                                 const TPlaceholderIndex& ANames, TPageSink& ASink,
                                                 std::string_view APrefix, std::string_view ASuffix,
                                                 TLeft ALeft, std::size_t& AWritten) {
  constexpr std::size_t kRoom = 32 + 3 * 64;  // 32 bytes of text, or an echo copied inline
  const char* const data = AText.data();
  const std::size_t size = AText.size();
  const __m128i brace = _mm_set1_epi8('{');
  // A prefix and suffix of up to 16 bytes (as the page's are) are stored whole, zero-padded.
  const bool padded = APrefix.size() <= 16 && ASuffix.size() <= 16;
  char fixes[2][16] = {};
  if (padded) {
    std::memcpy(fixes[0], APrefix.data(), APrefix.size());
    std::memcpy(fixes[1], ASuffix.data(), ASuffix.size());
  }
  const __m128i prefix = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fixes[0]));
  const __m128i suffix = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fixes[1]));
  char* out = ASink.Cursor();
  char* limit = ASink.Limit();
  char* mark = out;  // AWritten counts the bytes before
  std::size_t idx = 0;
  while (size - idx >= 16) {
    if (static_cast<std::size_t>(limit - out) < kRoom) {
      AWritten += static_cast<std::size_t>(out - mark);
      ASink.MoveTo(out);
      if (!ASink.Lend(kRoom)) return idx;
      mark = out = ASink.Cursor(), limit = ASink.Limit();
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + idx));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    unsigned found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, brace)));
    if (size - idx >= 32) {  // two blocks a round
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + idx + 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), w);
      found |= static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, brace))) << 16;
      if (found == 0) {
        idx += 32, out += 32;
        continue;
      }
    } else if (found == 0) {
      idx += 16, out += 16;
      continue;
    }
    const unsigned skip = static_cast<unsigned>(std::countr_zero(found));
    idx += skip, out += skip;  // on the "{", copied already
    std::size_t length = 0;
    const std::optional<std::string_view> text = ANames.Match(AText, idx, length);
    if (!text) {
      if (IsPlaceholderAt(AText, idx)) ALeft(idx);
      ++idx, ++out;
      continue;
    }
    idx += length;
    if (padded && text->size() <= 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), prefix);
      out += APrefix.size();
      TPageSink::PutShort(out, *text);
      out += text->size();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), suffix);
      out += ASuffix.size();
      continue;
    }
    if ((APrefix.size() | text->size() | ASuffix.size()) <= 64) {
      TPageSink::PutSmall(out, APrefix);
      TPageSink::PutSmall(out + APrefix.size(), *text);
      TPageSink::PutSmall(out + APrefix.size() + text->size(), ASuffix);
      out += APrefix.size() + text->size() + ASuffix.size();
      continue;
    }
    AWritten +=
        static_cast<std::size_t>(out - mark) + APrefix.size() + text->size() + ASuffix.size();
    ASink.MoveTo(out);
    ASink.AppendThree(APrefix, *text, ASuffix);
    mark = out = ASink.Cursor(), limit = ASink.Limit();
  }
  AWritten += static_cast<std::size_t>(out - mark);
  ASink.MoveTo(out);
  return idx;
}
#endif

// One piece AText of the page, at template offset ABase: its placeholders are those of ASpans
// (every "{name}" and "{!name}" of the template, in order, each with its context) from ANext on
// that stand in it; ANext moves past them. Calls AEmit(text) for each stretch of AText and
// APrint(index in ASpans, unescaped text, raw, offset in AText) for each placeholder with a
// value; ALeft(offset in AText) for each "{name}" left as written.
template <typename TEmit, typename TLeft, typename TPrint>
SUBSTITUTE_INLINED void SubstitutePiece(std::string_view AText, std::size_t ABase,
                                        std::span<const TSpan> ASpans, std::size_t& ANext,
                                        const TPlaceholderIndex& ANames, TEmit AEmit, TLeft ALeft,
                                        TPrint APrint) {
  const std::size_t end = ABase + AText.size();
  if (ANext > 0 && ASpans[ANext - 1].Begin >= ABase)  // the pieces went back: found again
    ANext = static_cast<std::size_t>(
        std::lower_bound(ASpans.begin(), ASpans.end(), ABase,
                         [](const TSpan& s, std::size_t at) { return s.Begin < at; }) -
        ASpans.begin());
  while (ANext < ASpans.size() && ASpans[ANext].Begin < ABase) ++ANext;
  std::size_t done = 0;  // AText before this index is emitted
  for (; ANext < ASpans.size() && ASpans[ANext].Begin < end; ++ANext) {
    const TSpan span = ASpans[ANext];
    if (span.End > end) continue;  // cut short by the piece's end: no placeholder here
    const std::size_t idx = span.Begin - ABase;
    const bool raw = AText[idx + 1] == '!';  // "{!name}"
    std::size_t length = 0;
    const std::optional<std::string_view> text = ANames.Match(AText, idx + raw, length);
    if (!text) {
      if (!raw) ALeft(idx);
      continue;
    }
    AEmit(AText.substr(done, idx - done));
    APrint(ANext, *text, raw, idx);
    done = idx + length + raw;
  }
  AEmit(AText.substr(done));
}

// SubstituteVariables for an escaped page: the pieces take the placeholders found with their
// contexts in turn, and each prints AEscape's text for it.
SUBSTITUTE_INLINED void SubstituteEscaped(std::span<const std::string_view> ATemplatePieces,
                                          const TPlaceholderIndex& AVars, TPageBuilder& APage,
                                          std::string_view ATemplate,
                                          std::vector<std::size_t>& ALeft,
                                          std::span<const std::size_t> APieceCuts,
                                          TEscaping& AEscape) {
  // The placeholders were found with their contexts: the pieces, in order, take them in turn.
  const std::span<const TSpan> spans = AEscape.Contexts().Spans();
  std::size_t next = 0;
  // A streamed page's echoes: "<?php echo ", the expression escaped for text around it, ";?>".
  const std::uint32_t* const kinds = AEscape.Contexts().Kinds().data();
  const std::string_view prefix = AVars.Prefix(), suffix = AVars.Suffix();
  std::string text_head, text_tail;
  if (AVars.Viewed()) {
    const TEscaper text = ValueEscaper(AEscape.Contexts().Distinct()[0]);
    text_head = std::string(prefix).append(text.Before);
    text_tail = std::string(text.After).append(suffix);
  }
  const auto in_template = [&](std::string_view APiece) {
    const std::less<const char*> before;
    return !before(APiece.data(), ATemplate.data()) &&
           !before(ATemplate.data() + ATemplate.size(), APiece.data() + APiece.size());
  };
  for (std::size_t p = 0; p < ATemplatePieces.size(); ++p) {
    const std::string_view piece = ATemplatePieces[p];
    const std::size_t cut = p < APieceCuts.size() ? APieceCuts[p] : kNowhere;
    if (cut != kNowhere) {  // a block's echo prints its buffer as it is
      APage.Append(piece, {0, TOrigin::Generated, kNowhere, kNowhere, cut});
      continue;
    }
    // Without provenance an echo is a piece of its own, which holds no placeholder.
    if (!in_template(piece)) {
      APage.Append(piece, {});
      continue;
    }
    const std::size_t base = static_cast<std::size_t>(piece.data() - ATemplate.data());
    const auto left = [&](std::size_t AAt) { ALeft.push_back(base + AAt); };
    if (AVars.Viewed()) {  // streamed: prefix, expression (or its escaped text), suffix
      SubstitutePiece(
          piece, base, spans, next, AVars,
          [&](std::string_view APiece) { APage.Append(APiece, {}); }, left,
          [&](std::size_t AIndex, std::string_view AExpr, bool ARaw, std::size_t) {
            if (ARaw) return APage.AppendThree(prefix, AExpr, suffix);
            // Text, the common context, wraps the expression in the same calls every time.
            if (kinds[AIndex] == 0 && !IsEscaped(AExpr))
              return APage.AppendThree(text_head, AExpr, text_tail);
            APage.AppendThree(prefix, AEscape.TextOf(AIndex, AExpr, 0, 0), suffix);
          });
      continue;
    }
    SubstitutePiece(
        piece, base, spans, next, AVars,
        [&](std::string_view APiece) {
          if (!APage.Recording()) return APage.Append(APiece, {});
          APage.Append(APiece, {0, TOrigin::Template,
                                static_cast<std::size_t>(APiece.data() - ATemplate.data())});
        },
        left,
        [&](std::size_t AIndex, std::string_view AText, bool ARaw, std::size_t APlace) {
          const std::string_view text =
              ARaw ? AText : AEscape.TextOf(AIndex, AText, AVars.PrefixSize(), AVars.SuffixSize());
          if (!APage.Recording()) return APage.Append(text, {});
          APage.Append(text, {0, TOrigin::Generated, kNowhere, kNowhere, base + APlace});
        });
  }
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
  if (AEscape)  // each placeholder escaped for where it stands
    return SubstituteEscaped(ATemplatePieces, AVars, APage, ATemplate, ALeft, APieceCuts, *AEscape);
  if (!APage.Recording()) {
    const std::string_view prefix = AVars.Prefix(), suffix = AVars.Suffix();
    TPageSink& sink = APage.Sink();
    for (std::size_t p = 0; p < ATemplatePieces.size(); ++p) {
      const std::string_view piece = ATemplatePieces[p];
      const std::size_t base = static_cast<std::size_t>(piece.data() - ATemplate.data());
      std::size_t from = 0;  // the piece before this is written
#if defined(__SSE2__) || defined(_M_X64)
      if (!AVars.Empty()) {
        std::size_t written = 0;
        from = SubstituteInPlace(
            piece, AVars, sink, prefix, suffix,
            [&](std::size_t AAt) { ALeft.push_back(base + AAt); }, written);
        APage.Wrote(written);
      }
#endif
      Substitute(
          piece.substr(from), AVars,
          [&](std::string_view APiece, std::size_t APlace, std::string_view) {
            if (APlace == kNowhere || !AVars.Viewed()) return APage.Append(APiece, {});
            APage.AppendThree(prefix, APiece, suffix);
          },
          [&](std::size_t AAt) { ALeft.push_back(base + from + AAt); });
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
          const TSegment generated{0, TOrigin::Generated, kNowhere, kNowhere, at};
          APage.Append(AVars.Viewed() ? AVars.Prefix() : APiece.substr(0, prefix), generated);
          APage.Append(
              APiece.substr(prefix, APiece.size() - prefix - suffix),
              {0, offset == kNowhere ? TOrigin::Generated : TOrigin::Script, offset, kNowhere, at});
          APage.Append(AVars.Viewed() ? AVars.Suffix() : APiece.substr(APiece.size() - suffix),
                       generated);
        },
        [&](std::size_t AAt) { ALeft.push_back(base + AAt); });
  }
}

}  // namespace zoqc
