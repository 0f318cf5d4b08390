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
#else
  (void)AText, (void)AIdx;  // without SSE2 every name is read by Matched
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

// The substitution loop runs once per "{" of the template: the lookup and the writes are
// inlined into it.
#if defined(__GNUC__) || defined(__clang__)
#define SUBSTITUTE_INLINED [[gnu::flatten]]
#else
#define SUBSTITUTE_INLINED
#endif

namespace {

// A "{" of a piece that may open a placeholder: at At of the piece; Raw for a "{!name}";
// Index, its place among the contexts' placeholders.
struct TCandidate {
  std::size_t At = 0;
  std::size_t Index = kNowhere;
  bool Raw = false;
};

// Where the placeholders of a piece come from. Each gives Next(from, candidate): the next "{"
// at or after the offset from, false past the last. kListed: every candidate is a placeholder
// of either form, whose context the escaping knows.
//
// Every "{" of the text, 32 bytes looked through at a time.
class TBraces {
 public:
  static constexpr bool kListed = false;
  explicit TBraces(std::string_view AText) : Text(AText) {}
  bool Next(std::size_t AFrom, TCandidate& AOut) {
    for (; Text.size() - AFrom >= 32; AFrom += 32)
      if (const unsigned found =
              Brace.In16(Text.data() + AFrom) | Brace.In16(Text.data() + AFrom + 16) << 16) {
        AOut.At = AFrom + static_cast<unsigned>(std::countr_zero(found));
        return true;
      }
    AOut.At = Brace.Next(Text, AFrom);
    return AOut.At < Text.size();
  }

 private:
  const std::string_view Text;
  const TBytes<1> Brace{'{'};
};

// The placeholders that the model found with their contexts (every "{name}" and "{!name}" of
// the template, in order) that stand in the piece at template offset ABase; ANext, the first
// not taken yet, moves past them.
class TListed {
 public:
  static constexpr bool kListed = true;
  TListed(std::string_view AText, std::size_t ABase, std::span<const TSpan> ASpans,
          std::size_t& ANext)
      : Text(AText), Base(ABase), Spans(ASpans), Taken(ANext) {
    if (Taken > 0 && Spans[Taken - 1].Begin >= Base)  // the pieces went back: found again
      Taken = static_cast<std::size_t>(
          std::lower_bound(Spans.begin(), Spans.end(), Base,
                           [](const TSpan& s, std::size_t at) { return s.Begin < at; }) -
          Spans.begin());
    while (Taken < Spans.size() && Spans[Taken].Begin < Base) ++Taken;
  }
  bool Next(std::size_t, TCandidate& AOut) {
    const std::size_t end = Base + Text.size();
    for (; Taken < Spans.size() && Spans[Taken].Begin < end; ++Taken) {
      if (Spans[Taken].End > end) continue;  // cut short by the piece's end: no placeholder
      AOut.At = Spans[Taken].Begin - Base;
      AOut.Raw = Text[AOut.At + 1] == '!';
      AOut.Index = Taken++;
      return true;
    }
    return false;
  }

 private:
  const std::string_view Text;
  const std::size_t Base;
  const std::span<const TSpan> Spans;
  std::size_t& Taken;
};

// Writes a page into the room a sink lends: stretches of template text and echoes (a head, a
// text, a tail), copied by 16-byte blocks, which may store past their end
// (an echo, up to kEcho bytes from its start).
class TInPlace {
 public:
  // A head and tail of up to 64 bytes each are stored whole.
  TInPlace(TPageSink& ASink, std::string_view AHead, std::string_view ATail)
      : Sink(ASink),
        Head(AHead),
        Tail(ATail),
        Blocks(AHead.size() <= 64 && ATail.size() <= 64 ? 64 : 0) {
    if (Blocks != 0) {
      std::memcpy(HeadBlocks, AHead.data(), AHead.size());
      std::memcpy(TailBlocks, ATail.data(), ATail.size());
    }
    Resume();
  }
  static constexpr std::size_t kEcho = 3 * 64;  // an echo written inline, at most

  // Writes on where the sink's room now starts.
  void Resume() { Mark = Out = Sink.Cursor(), Limit = Sink.Limit(), Written = 0; }
  // Room for ACount bytes and a block more, or false: the sink lends none.
  bool Room(std::size_t ACount) {
    if (static_cast<std::size_t>(Limit - Out) >= ACount + 16) return true;
    Settle();
    const bool lent = Sink.Lend(ACount + 16);
    Mark = Out = Sink.Cursor(), Limit = Sink.Limit();
    return lent;
  }
  // Copies ACount bytes of AData, of which AReadable can be read, to the page, after
  // Room(ACount).
  void Copy(const char* AData, std::size_t ACount, std::size_t AReadable) {
    if (ACount <= 64 && AReadable >= 64) {  // whole blocks
      std::memcpy(Out, AData, 32);
      if (ACount > 32) std::memcpy(Out + 32, AData + 32, 32);
    } else if (ACount <= 16) {
      TPageSink::PutShort(Out, {AData, ACount});
    } else {
      for (std::size_t k = 0; k + 16 < ACount; k += 16) std::memcpy(Out + k, AData + k, 16);
      std::memcpy(Out + ACount - 16, AData + ACount - 16, 16);
    }
    Out += ACount;
  }
  // Copies 32 bytes of AData (the text copied as it is searched) without moving on; yields
  // where they hold one of ABytes, a bit for each.
  unsigned Copy32(const char* AData, const TBytes<1>& ABytes) {
    std::memcpy(Out, AData, 32);
    return ABytes.In16(AData) | ABytes.In16(AData + 16) << 16;
  }
  void Skip(std::size_t ACount) { Out += ACount; }
  // The echo of AText between the head and the tail, after Room(kEcho).
  void Echo(std::string_view AText) {
    if (AText.size() > Blocks) return Give(Head, AText, Tail);
    Put(HeadBlocks, Head.size());
    TPageSink::PutSmall(Out, AText);
    Out += AText.size();
    Put(TailBlocks, Tail.size());
  }
  // Gives the sink AFirst, ASecond and AThird (any size, any room).
  void Give(std::string_view AFirst, std::string_view ASecond, std::string_view AThird) {
    Settle();
    Sink.AppendThree(AFirst, ASecond, AThird);
    Written += AFirst.size() + ASecond.size() + AThird.size();
    Mark = Out = Sink.Cursor(), Limit = Sink.Limit();
  }
  // Gives the sink what was written; yields how many bytes were since Resume.
  std::size_t Finish() {
    Settle();
    return Written;
  }

 private:
  void Put(const char (&ABlocks)[64], std::size_t ASize) {
    if (ASize <= 16)
      std::memcpy(Out, ABlocks, 16);
    else
      std::memcpy(Out, ABlocks, 64);
    Out += ASize;
  }
  void Settle() {
    Written += static_cast<std::size_t>(Out - Mark);
    Sink.MoveTo(Out);
  }

  TPageSink& Sink;
  const std::string_view Head, Tail;
  const std::size_t Blocks;  // the longest text echoed between them (0: the blocks are unused)
  char HeadBlocks[64] = {}, TailBlocks[64] = {};
  char* Out = nullptr;
  char* Limit = nullptr;
  char* Mark = nullptr;  // Written counts the bytes before
  std::size_t Written = 0;
};

// Writes the stretches and echoes of the pieces: into the room the sink lends while it lends
// any (a streamed page), else appended to the page, with their origins when it records them.
// With AEscape, each placeholder prints its expression escaped for its context ("{!name}" as it
// is); a streamed page's echoes in text, the common context, wrap the expression in the same
// calls every time, written as one head and tail.
class TWriter {
 public:
  TWriter(TPageBuilder& APage, std::string_view ATemplate, const TPlaceholderIndex& ANames,
          const TExpressionOffsets* AExprOf, TEscaping* AEscape)
      : Page(APage),
        Template(ATemplate),
        Names(ANames),
        ExprOf(AExprOf),
        Escape(AEscape),
        Kinds(AEscape ? AEscape->Contexts().Kinds().data() : nullptr),
        TextHead(TextEscaper(ANames, AEscape, false)),
        TextTail(TextEscaper(ANames, AEscape, true)),
        Head(TextHead.empty() ? ANames.Prefix() : TextHead),
        Tail(TextHead.empty() ? ANames.Suffix() : TextTail),
        In(APage.Sink(), Head, Tail) {}

  // Whether echoes need their keys.
  bool Keyed() const { return ExprOf && !Escape && Page.Recording(); }
  // Whether the pieces are written into the room the sink lends (where it lends none, given
  // to it), not appended to the page.
  bool InPlace() const {
#ifdef __wasm__
    return false;  // the playground's page is small: appending keeps its module within budget
#else
    return !Page.Recording();
#endif
  }
  void Begin(std::size_t ABase) {
    Base = ABase;
    if (InPlace()) In.Resume();
  }
  void End() {
    if (InPlace()) Page.Wrote(In.Finish());
  }
  TInPlace& Place() { return In; }
  // A stretch of template text, of which AReadable bytes can be read; yields whether an echo
  // written in place may follow.
  template <bool AInPlace>
  bool Stretch(std::string_view AText, std::size_t AReadable) {
    if (AInPlace) {
      if (AText.size() <= kLongStretch && In.Room(AText.size() + TInPlace::kEcho))
        return In.Copy(AText.data(), AText.size(), AReadable), true;
      return In.Give({}, AText, {}), In.Room(TInPlace::kEcho);
    }
    if (!Page.Recording()) return Page.Append(AText, {}), false;
    Page.Append(AText,
                {0, TOrigin::Template, static_cast<std::size_t>(AText.data() - Template.data())});
    return false;
  }
  // The echo of a placeholder's text (prefix, value, suffix; or the value alone when Viewed),
  // escaped when AEscaped.
  template <bool AEscaped, bool AInPlace>
  void Echo(const TCandidate& APlace, std::string_view AText, std::string_view AKey, bool ARoom) {
    std::string_view middle = AText;
    bool own = true;  // between Head and Tail
    if (AEscaped &&
        (APlace.Raw || !Names.Viewed() || Kinds[APlace.Index] != 0 || IsEscaped(AText))) {
      own = false;
      if (!APlace.Raw)
        middle = Escape->TextOf(APlace.Index, AText, Names.PrefixSize(), Names.SuffixSize());
    }
    if (AInPlace) {  // with ARoom, the room the stretch before made
      if (own && ARoom) return In.Echo(middle);
      return own ? In.Give(Head, middle, Tail) : In.Give(Names.Prefix(), middle, Names.Suffix());
    }
    std::string_view head = own ? Head : Names.Prefix(), tail = own ? Tail : Names.Suffix();
    if (!Page.Recording()) {
      if (Names.Viewed()) return Page.AppendThree(head, middle, tail);
      return Page.Append(middle, {});
    }
    // "<?php echo ", the expression (from the script when it is its own), ";?>"
    const TSegment generated{0, TOrigin::Generated, kNowhere, kNowhere, Base + APlace.At};
    TSegment expr = generated;
    if (!AEscaped) {
      const std::size_t prefix = Names.PrefixSize(), suffix = Names.SuffixSize();
      if (!Names.Viewed())
        head = middle.substr(0, prefix), tail = middle.substr(middle.size() - suffix);
      middle = middle.substr(prefix, middle.size() - prefix - suffix);
      const auto found = ExprOf ? ExprOf->find(AKey) : TExpressionOffsets::const_iterator();
      if (ExprOf && found != ExprOf->end())
        expr.From = TOrigin::Script, expr.Offset = found->second;
    }
    Page.Append(head, generated);
    Page.Append(middle, expr);
    Page.Append(tail, generated);
  }

 private:
  static constexpr std::size_t kLongStretch = 4096;  // given to the sink, not copied here
  // The calls around a value escaped for text, on a streamed page; else "".
  static std::string TextEscaper(const TPlaceholderIndex& ANames, const TEscaping* AEscape,
                                 bool AAfter) {
    if (!AEscape || !ANames.Viewed()) return "";
    const TEscaper text = ValueEscaper(AEscape->Contexts().Distinct()[0]);
    return AAfter ? std::string(text.After).append(ANames.Suffix())
                  : std::string(ANames.Prefix()).append(text.Before);
  }

  TPageBuilder& Page;
  const std::string_view Template;
  const TPlaceholderIndex& Names;
  const TExpressionOffsets* const ExprOf;
  TEscaping* const Escape;
  const std::uint32_t* const Kinds;
  const std::string TextHead, TextTail;
  const std::string_view Head, Tail;  // around an echo in text
  TInPlace In;
  std::size_t Base = 0;
};

// The one substitution loop: the placeholders of AText that APlaces gives, each written by
// AOut with the stretches between them; ALeft(offset) for each "{name}" left as written.
template <bool AInPlace, typename TPlaces, typename TLeft>
SUBSTITUTE_INLINED void Substitute(std::string_view AText, TPlaces APlaces,
                                   const TPlaceholderIndex& ANames, TWriter& AOut, TLeft ALeft) {
  std::string_view key;
  std::string_view* const keyed = AOut.Keyed() ? &key : nullptr;
  std::size_t done = 0, from = 0;  // AText before done is written, before from searched
  for (TCandidate place; APlaces.Next(from, place);) {
    const std::size_t name = place.At + place.Raw;  // "{!name}" is matched from its "!"
    std::size_t length = 0;
    const std::optional<std::string_view> text = ANames.Match(AText, name, length, keyed);
    if (!text) {
      if (!place.Raw && (TPlaces::kListed || IsPlaceholderAt(AText, place.At))) ALeft(place.At);
      from = place.At + 1;
      continue;
    }
    const bool room =
        AOut.Stretch<AInPlace>(AText.substr(done, place.At - done), AText.size() - done);
    AOut.Echo<TPlaces::kListed, AInPlace>(place, *text, key, room);
    from = done = name + length;
  }
  AOut.Stretch<AInPlace>(AText.substr(done), AText.size() - done);
}

// The default page's fast paths, measured: written into the room the sink lends, the text is
// copied 32 bytes at a time while it is searched for "{", so each byte is read once, and each
// echo is written in its placeholder's place (with the loop above, 10% more instructions on a
// page of many placeholders). Stops where fewer than 32 bytes are left or no room is lent, and
// yields where: the rest is for the loop above.
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

// The same for names too many for the processor's caches, 2 KiB of text at a time: first every
// "{" of it is found and its name looked up far enough to ask for its slot, so that the slots
// come from memory together, not one after the other; then the text is copied with the echoes
// in place (with the loop above, 9% more instructions).
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
      APage.Copy(data + idx, at - idx, 0);
      idx = at;
      std::size_t length = 0;
      const std::optional<std::string_view> text = ANames.Matched(looks[k], AText, at, length);
      if (!text) {
        if (IsPlaceholderAt(AText, at)) ALeft(at);
        APage.Copy(data + at, 1, 0);
        ++idx;
        continue;
      }
      APage.Echo(*text);
      idx += length;
    }
    if (scan > idx) {  // the rest holds no "{"
      if (!APage.Room(scan - idx)) return idx;
      APage.Copy(data + idx, scan - idx, 0);
      idx = scan;
    }
  }
  return idx;
}

}  // namespace

void SubstituteVariables(std::span<const std::string_view> ATemplatePieces,
                         const TPlaceholderIndex& AVars, TPageBuilder& APage,
                         std::string_view ATemplate, std::vector<std::size_t>& ALeft,
                         std::span<const std::size_t> APieceCuts, const TExpressionOffsets* AExprOf,
                         TEscaping* AEscape) {
  TWriter out(APage, ATemplate, AVars, AExprOf, AEscape);
  std::size_t next = 0;  // of the placeholders listed with their contexts
  const std::less<const char*> before;
  for (std::size_t p = 0; p < ATemplatePieces.size(); ++p) {
    const std::string_view piece = ATemplatePieces[p];
    const std::size_t cut = p < APieceCuts.size() ? APieceCuts[p] : kNowhere;
    if (cut != kNowhere) {  // a block's echo prints its buffer as it is
      APage.Append(piece, {0, TOrigin::Generated, kNowhere, kNowhere, cut});
      continue;
    }
    // Without provenance an echo is a piece of its own, which holds no placeholder.
    if (before(piece.data(), ATemplate.data()) ||
        before(ATemplate.data() + ATemplate.size(), piece.data() + piece.size())) {
      APage.Append(piece, {});
      continue;
    }
    const std::size_t base = static_cast<std::size_t>(piece.data() - ATemplate.data());
    std::size_t from = 0;  // the piece before this is written
    const auto left = [&](std::size_t AAt) { ALeft.push_back(base + from + AAt); };
    out.Begin(base);
    const auto substitute = [&](std::string_view AText, auto APlaces) {
      if (out.InPlace())
        Substitute<true>(AText, APlaces, AVars, out, left);
      else
        Substitute<false>(AText, APlaces, AVars, out, left);
    };
    if (AEscape) {
      substitute(piece, TListed(piece, base, AEscape->Contexts().Spans(), next));
    } else {
      if (out.InPlace())
        from = AVars.Large() ? SubstituteLookingAhead(piece, AVars, out.Place(), left)
                             : SubstituteInPlace(piece, AVars, out.Place(), left);
      substitute(piece.substr(from), TBraces(piece.substr(from)));
    }
    out.End();
  }
}

}  // namespace zoqc
