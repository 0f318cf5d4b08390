// A diagnostic: an error, warning or note at a place in a script or template, with its fix-its.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/model/line_table.h"
#include "src/model/page_model.h"

namespace zoqc {

enum class TSeverity { Error, Warning, Note };  // a note: said, never a failure

class TSource;

// A span of bytes in an input, kept as offsets: the text is read again only when the place is
// rendered, while its input is still alive. A place with no input is a whole file (a missing
// input, a failed write), which has no line to show.
struct TPlace {
  const TSource* Source = nullptr;  // the input the span lies in; null: the whole file File
  std::string File;                 // the file's name when Source is null
  std::size_t From = 0;             // 0-based offsets [From, To) into the input
  std::size_t To = 0;

  std::string_view FileName() const;
  // The span as diagnostics show it: From within the input, To between From and the end of
  // From's line (a span that runs on is cut there). Empty at 0 for a whole file.
  TSpan OnItsLine() const;
};

// Replaces the span of Place by Text: an insertion when the span is empty, a deletion when
// Text is.
struct TFixIt {
  TPlace Place;
  std::string Text;
};

struct TNote {
  TPlace Place;
  std::string Message;
  std::vector<TFixIt> FixIts = {};  // the other way to mend it, after the diagnostic's own
};

struct TDiagnostic {
  TSeverity Severity = TSeverity::Error;
  std::string Warning;    // the warning's name ("loose-operator"); empty for errors
  bool Promoted = false;  // a warning made an error by -Werror
  TPlace Place;
  std::string Message;
  std::vector<TNote> Notes;
  std::vector<TFixIt> FixIts;
};

// One input's bytes and name, with its line table made on the first lookup. Places point at
// it, so it stays where it is while they are rendered.
class TSource {
 public:
  TSource(std::string AName, std::string_view AText) : Name(std::move(AName)), Text(AText) {}
  TSource(const TSource&) = delete;
  TSource& operator=(const TSource&) = delete;

  // The place of the bytes [AFrom, ATo) (0-based), or of the one byte at AAt.
  TPlace PlaceOf(std::size_t AFrom, std::size_t ATo) const { return {this, {}, AFrom, ATo}; }
  TPlace PlaceOf(std::size_t AAt) const { return PlaceOf(AAt, AAt + 1); }

  const TLineTable& Lines() const;

  const std::string Name;
  const std::string_view Text;

 private:
  mutable std::optional<TLineTable> Table;  // made by the first call of Lines()
};

inline std::string_view TPlace::FileName() const {
  return Source ? std::string_view(Source->Name) : std::string_view(File);
}

}  // namespace zoqc
