// Variable substitution: one left-to-right pass over the template.
#include "src/template/variables.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "src/text/bytes.h"
#include "src/text/text.h"

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

TPlaceholderIndex::TLook TPlaceholderIndex::Look(std::string_view AText, std::size_t AIdx) const {
  TLook look;
  look.Length = kUnread;
#if defined(__SSE2__) || defined(_M_X64)
  // Where 16 bytes follow the "{", one compare of them finds the name's end, and the same
  // bytes, masked to the name and folded, are its key.
  const std::size_t from = AIdx + 1;  // past "{"
  if (AText.size() - from < kShortName) return look;
  const char* const at = AText.data() + from;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const unsigned stop = NotNameBytes(v);
  if (stop == 0) return look;  // a long name
  const unsigned length = static_cast<unsigned>(std::countr_zero(stop));
  if (at[length] != '}') {
    look.Length = kNoName;
    return look;
  }
  const __m128i keep =
      _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(length)),
                     _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  const __m128i folded =
      _mm_and_si128(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDF))), keep);
  look.Lo = static_cast<std::uint64_t>(_mm_cvtsi128_si64(folded));
  look.Hi = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(folded, folded)));
  look.Hash = ShortHash(TFolded{look.Lo, look.Hi});
  look.Length = length;
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(Slots.data() + (look.Hash & Mask));
#endif
#endif
  return look;
}

std::optional<std::string_view> TPlaceholderIndex::Matched(const TLook& ALook,
                                                           std::string_view AText, std::size_t AIdx,
                                                           std::size_t& ALength,
                                                           std::string_view* AKey) const {
  // (With no names, every slot is empty.)
  if (ALook.Length >= kUnread) {
    if (ALook.Length == kNoName) return std::nullopt;
    // Read byte by byte.
    const std::size_t from = AIdx + 1;
    const std::size_t end = NameEnd(AText, from);
    if (end >= AText.size() || AText[end] != '}') return std::nullopt;
    const std::string_view name = AText.substr(from, end - from);
    TFolded key;
    const bool short_name = FoldShort(name, key);
    return Found(SlotOf(HashOf(name, short_name, key), short_name, key, name), end, AIdx, ALength,
                 AKey);
  }
  const TFolded key{ALook.Lo, ALook.Hi};
  for (std::size_t slot = ALook.Hash & Mask;; slot = (slot + 1) & Mask) {
    const std::uint32_t s = Slots[slot];
    if (s == 0) return std::nullopt;
    if (Entries[s - 1].Folded == key)
      return Found(slot, AIdx + 1 + ALook.Length, AIdx, ALength, AKey);
  }
}

std::optional<std::string_view> TPlaceholderIndex::Match(std::string_view AText, std::size_t AIdx,
                                                         std::size_t& ALength,
                                                         std::string_view* AKey) const {
  if (Entries.empty()) return std::nullopt;
  return Matched(Look(AText, AIdx), AText, AIdx, ALength, AKey);
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
  const TBytes<1> brace('{');
  std::size_t done = 0;  // AText before this index is emitted
  for (std::size_t idx = brace.Next(AText, 0); idx < AText.size(); idx = brace.Next(AText, idx)) {
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
// Writes a page into the room a sink lends: stretches of template text and echoes (APrefix, a
// text, ASuffix), copied by 16-byte blocks, which may store up to 16 bytes past their end.
class TInPlace {
 public:
  TInPlace(TPageSink& ASink, std::string_view APrefix, std::string_view ASuffix)
      : Sink(ASink),
        Prefix(APrefix),
        Suffix(ASuffix),
        Out(ASink.Cursor()),
        Limit(ASink.Limit()),
        Mark(Out),
        Padded(APrefix.size() <= 16 && ASuffix.size() <= 16) {
    char fixes[2][16] = {};  // a prefix and suffix of up to 16 bytes are stored whole
    if (Padded) {
      std::memcpy(fixes[0], APrefix.data(), APrefix.size());
      std::memcpy(fixes[1], ASuffix.data(), ASuffix.size());
    }
    PrefixBlock = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fixes[0]));
    SuffixBlock = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fixes[1]));
  }
  static constexpr std::size_t kEcho = 3 * 64;  // an echo written inline, at most

  // Room for ACount bytes and a block more, or false: the sink lends none.
  bool Room(std::size_t ACount) {
    if (static_cast<std::size_t>(Limit - Out) >= ACount + 16) return true;
    Settle();
    const bool lent = Sink.Lend(ACount + 16);
    Mark = Out = Sink.Cursor(), Limit = Sink.Limit();
    return lent;
  }
  // Copies ACount bytes of AData to the page, after Room(ACount).
  void Copy(const char* AData, std::size_t ACount) {
    if (ACount <= 16) {
      TPageSink::PutShort(Out, {AData, ACount});
    } else {
      for (std::size_t k = 0; k + 16 < ACount; k += 16) Store(Out + k, Load(AData + k));
      Store(Out + ACount - 16, Load(AData + ACount - 16));
    }
    Out += ACount;
  }
  // Copies 32 bytes of AData (the text copied as it is searched) without moving on; yields
  // where they hold one of ABytes, a bit for each.
  unsigned Copy32(const char* AData, const TBytes<1>& ABytes) {
    const __m128i v = Load(AData), w = Load(AData + 16);
    Store(Out, v), Store(Out + 16, w);
    return ABytes.In16(v) | ABytes.In16(w) << 16;
  }
  void Skip(std::size_t ACount) { Out += ACount; }
  // The echo of AText, after Room(kEcho).
  void Echo(std::string_view AText) {
    if (Padded && AText.size() <= 16) {
      Store(Out, PrefixBlock);
      Out += Prefix.size();
      TPageSink::PutShort(Out, AText);
      Out += AText.size();
      Store(Out, SuffixBlock);
      Out += Suffix.size();
    } else if ((Prefix.size() | AText.size() | Suffix.size()) <= 64) {
      TPageSink::PutSmall(Out, Prefix);
      TPageSink::PutSmall(Out + Prefix.size(), AText);
      TPageSink::PutSmall(Out + Prefix.size() + AText.size(), Suffix);
      Out += Prefix.size() + AText.size() + Suffix.size();
    } else {
      EchoOther(Prefix, AText, Suffix);
    }
  }
  // The echo of AText (up to 64 bytes) between a head and a tail of up to 64 bytes each, kept
  // in four blocks that are stored whole, after Room(kEcho).
  void EchoBetween(const __m128i (&AHead)[4], std::size_t AHeadSize, std::string_view AText,
                   const __m128i (&ATail)[4], std::size_t ATailSize) {
    for (int k = 0; k < 4; ++k) Store(Out + 16 * k, AHead[k]);
    Out += AHeadSize;
    TPageSink::PutSmall(Out, AText);
    Out += AText.size();
    for (int k = 0; k < 4; ++k) Store(Out + 16 * k, ATail[k]);
    Out += ATailSize;
  }
  // The echo of AText between APrefix and ASuffix, given to the sink (any size, any room).
  void EchoOther(std::string_view APrefix, std::string_view AText, std::string_view ASuffix) {
    Settle();
    Sink.AppendThree(APrefix, AText, ASuffix);
    Written += APrefix.size() + AText.size() + ASuffix.size();
    Mark = Out = Sink.Cursor(), Limit = Sink.Limit();
  }
  // Gives the sink what was written; yields how many bytes were, in all.
  std::size_t Finish() {
    Settle();
    return Written;
  }

  static __m128i Load(const char* AAt) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(AAt));
  }

 private:
  static void Store(char* AAt, __m128i AV) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AAt), AV);
  }
  void Settle() {
    Written += static_cast<std::size_t>(Out - Mark);
    Sink.MoveTo(Out);
  }

  TPageSink& Sink;
  const std::string_view Prefix, Suffix;
  char* Out;
  char* Limit;
  char* Mark;  // Written counts the bytes before
  std::size_t Written = 0;
  const bool Padded;
  __m128i PrefixBlock, SuffixBlock;
};

// Substitute into a sink that lends room, from AText's start: the text is copied 32 bytes at a
// time while it is searched for "{", so each byte is read once, and each echo is written in
// its placeholder's place. Stops where fewer than 32 bytes are left or no room is lent, and
// yields where: the rest is for Substitute.
template <typename TLeft>
SUBSTITUTE_INLINED std::size_t SubstituteInPlace(std::string_view AText,
                                                 const TPlaceholderIndex& ANames, TInPlace& APage,
                                                 TLeft ALeft) {
  const TBytes<1> brace('{');
  std::size_t idx = 0;
  while (AText.size() - idx >= 32) {
    if (!APage.Room(32 + TInPlace::kEcho)) return idx;
    const unsigned found = APage.Copy32(AText.data() + idx, brace);
    if (found == 0) {
      APage.Skip(32), idx += 32;
      continue;
    }
    const unsigned skip = static_cast<unsigned>(std::countr_zero(found));
    APage.Skip(skip), idx += skip;  // on the "{", copied already
    std::size_t length = 0;
    const std::optional<std::string_view> text = ANames.Match(AText, idx, length);
    if (!text) {
      if (IsPlaceholderAt(AText, idx)) ALeft(idx);
      APage.Skip(1), ++idx;
      continue;
    }
    APage.Echo(*text);
    idx += length;
  }
  return idx;
}

// SubstituteInPlace for names too many for the processor's caches, 2 KiB of text at a time:
// first every "{" of it is found and its name looked up far enough to ask for its slot, so
// that the slots come from memory together, not one after the other; then the text is copied
// with the echoes in place.
template <typename TLeft>
SUBSTITUTE_INLINED std::size_t SubstituteLookingAhead(std::string_view AText,
                                                      const TPlaceholderIndex& ANames,
                                                      TInPlace& APage, TLeft ALeft) {
  constexpr std::size_t kStretch = 2048;  // text looked through at once
  constexpr std::size_t kLooks = 64;      // placeholders looked up at once, at most
  const char* const data = AText.data();
  const std::size_t size = AText.size();
  const TBytes<1> brace('{');
  TPlaceholderIndex::TLook looks[kLooks];
  std::size_t places[kLooks];
  std::size_t idx = 0;  // AText before it is written
  while (size - idx >= 32) {
    // Every "{" from idx to scan is in places, its name looked up.
    const std::size_t end = std::min(size, idx + kStretch);
    std::size_t scan = idx, count = 0;
    for (; end - scan >= 32; scan += 32) {
      unsigned found = brace.In16(data + scan) | brace.In16(data + scan + 16) << 16;
      if (found == 0) continue;
      if (count > kLooks - 32) break;  // these 32 bytes start the next stretch
      do {
        places[count] = scan + static_cast<unsigned>(std::countr_zero(found));
        looks[count] = ANames.Look(AText, places[count]);
        ++count;
        found &= found - 1;
      } while (found != 0);
    }
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t at = places[k];
      if (!APage.Room(at - idx + TInPlace::kEcho)) return idx;
      APage.Copy(data + idx, at - idx);
      idx = at;
      std::size_t length = 0;
      const std::optional<std::string_view> text = ANames.Matched(looks[k], AText, at, length);
      if (!text) {
        if (IsPlaceholderAt(AText, at)) ALeft(at);
        APage.Copy(data + at, 1);
        ++idx;
        continue;
      }
      APage.Echo(*text);
      idx += length;
    }
    if (scan > idx) {  // the rest holds no "{"
      if (!APage.Room(scan - idx)) return idx;
      APage.Copy(data + idx, scan - idx);
      idx = scan;
    }
  }
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
#if defined(__SSE2__) || defined(_M_X64)
  bool wide_made = false, wide = false;  // text's head and tail fit four blocks each
  __m128i head_blocks[4], tail_blocks[4];
#endif
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
#if defined(__SSE2__) || defined(_M_X64)
    // Streamed without provenance: the stretches and the text echoes are written into the room
    // the sink lends, as the default page is; an echo of another context goes to the page.
    if (AVars.Viewed() && !APage.Recording()) {
      if (!wide_made) {  // the text echo's head and tail as blocks, once
        wide_made = true;
        wide = text_head.size() <= 64 && text_tail.size() <= 64;
        char blocks[2][64] = {};
        if (wide) {
          std::memcpy(blocks[0], text_head.data(), text_head.size());
          std::memcpy(blocks[1], text_tail.data(), text_tail.size());
        }
        for (int k = 0; k < 4; ++k) {
          head_blocks[k] = TInPlace::Load(blocks[0] + 16 * k);
          tail_blocks[k] = TInPlace::Load(blocks[1] + 16 * k);
        }
      }
      TInPlace out(APage.Sink(), text_head, text_tail);
      bool lent = true;  // the sink lends room (else, from the first it does not, the page)
      SubstitutePiece(
          piece, base, spans, next, AVars,
          [&](std::string_view AStretch) {
            if (lent) {
              if (out.Room(AStretch.size() + TInPlace::kEcho))
                return out.Copy(AStretch.data(), AStretch.size());
              APage.Wrote(out.Finish()), lent = false;
            }
            APage.Append(AStretch, {});
          },
          left,
          [&](std::size_t AIndex, std::string_view AExpr, bool ARaw, std::size_t) {
            // Text, the common context, wraps the expression in the same calls every time.
            const bool text = !ARaw && kinds[AIndex] == 0 && !IsEscaped(AExpr);
            if (!lent) {
              if (text) return APage.AppendThree(text_head, AExpr, text_tail);
              return APage.AppendThree(prefix, ARaw ? AExpr : AEscape.TextOf(AIndex, AExpr, 0, 0),
                                       suffix);
            }
            if (!text)
              return out.EchoOther(prefix, ARaw ? AExpr : AEscape.TextOf(AIndex, AExpr, 0, 0),
                                   suffix);
            if (wide && AExpr.size() <= 64)  // room made by the stretch before
              return out.EchoBetween(head_blocks, text_head.size(), AExpr, tail_blocks,
                                     text_tail.size());
            out.Echo(AExpr);
          });
      if (lent) APage.Wrote(out.Finish());
      continue;
    }
#endif
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
        TInPlace in_place(sink, prefix, suffix);
        const auto left = [&](std::size_t AAt) { ALeft.push_back(base + AAt); };
        from = AVars.Large() ? SubstituteLookingAhead(piece, AVars, in_place, left)
                             : SubstituteInPlace(piece, AVars, in_place, left);
        APage.Wrote(in_place.Finish());
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
