// A diagnostic: an error, warning or note at a place in a script or template, with its fix-its.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zoqc {

enum class TSeverity { Error, Warning, Note };

// A span on one line of a file. Line and columns are 1-based and count bytes; Line 0 means the
// whole file (a missing input, a failed write), which has no source line to show.
struct TPlace {
  std::string File;
  int Line = 0;
  int Column = 0;
  int EndColumn = 0;       // one past the span's last byte
  std::string SourceLine;  // the line's text without its line end
};

// Replaces the span of Place by Text: an insertion when the span is empty.
struct TFixIt {
  TPlace Place;
  std::string Text;
};

struct TNote {
  TPlace Place;
  std::string Message;
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

// One input's bytes and name, with its line starts found on the first lookup.
class TSource {
 public:
  TSource(std::string AName, std::string_view AText) : Name(std::move(AName)), Text(AText) {}

  // The place of the bytes [AFrom, ATo) (0-based; clipped to the line of AFrom).
  TPlace PlaceOf(std::size_t AFrom, std::size_t ATo) const;
  TPlace PlaceOf(std::size_t AAt) const { return PlaceOf(AAt, AAt + 1); }

  const std::string Name;
  const std::string_view Text;

 private:
  mutable std::vector<std::size_t> LineStarts;  // 0-based offsets; empty until first needed
};

}  // namespace zoqc
