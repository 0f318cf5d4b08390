// The errors that stop a translation, located and explained.
#include <string>

#include "src/check/check.h"
#include "src/check/checker.h"
#include "src/check/page_model.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

using check_detail::Quoted;

// Why the name of a statement is not followed by "<<" and an expression.
TDiagnostic MissingSeparator(const TSource& AScript, const TStatementLine& ALine) {
  const std::string_view text = AScript.Text;
  const std::size_t at = ALine.NameStart + ALine.Name.size();
  TDiagnostic d;
  const char c = at < text.size() ? text[at] : '\n';
  std::size_t to = at + 1;
  if (c == '_' || c == '-' || static_cast<unsigned char>(c) >= 128) {
    while (to < text.size() && (IsNameChar(text[to]) || text[to] == '_' || text[to] == '-' ||
                                static_cast<unsigned char>(text[to]) >= 128))
      ++to;
    d.Message = "names hold only ASCII letters and digits; " + Quoted(std::string(1, c)) +
                (ALine.Name.empty() ? std::string(" cannot start a name")
                                    : " ends the name " + Quoted(ALine.Name));
  } else if (c == ' ' || c == '\t') {
    while (to < text.size() && (text[to] == ' ' || text[to] == '\t')) ++to;
    if (text.compare(to, 2, "<<") == 0) {
      d.Message = "no blank may stand between the name " + Quoted(ALine.Name) + " and '<<'";
      d.FixIts.push_back({AScript.PlaceOf(at, to), ""});
    } else {
      d.Message = "expected '<<' right after the name " + Quoted(ALine.Name);
    }
  } else if (text.compare(at, 2, "<<") == 0) {
    to = at + 2;
    d.Message = "'<<' ends the script; an expression must follow it";
  } else if (c == '\r' || c == '\n') {
    d.Message = "expected '<<' and an expression after the name " + Quoted(ALine.Name);
    if (ALine.Kind == '<')
      d.Notes.push_back({AScript.PlaceOf(ALine.Start, ALine.NameStart),
                         "every line that starts with '<<' is a statement; indent a PHP heredoc "
                         "line so that it does not start the line"});
  } else if (ALine.Name.empty() && (c == '*' || c == '+' || c == '<')) {
    d.Message = "'<<" + std::string(1, c) + "' at the end of the script needs a name and a line";
  } else if (ALine.Name.empty()) {
    d.Message = "expected a name after '<<', found " + Quoted(std::string(1, c));
  } else {
    d.Message = "expected '<<' after the name " + Quoted(ALine.Name) + ", found " +
                Quoted(std::string(1, c));
  }
  d.Place = AScript.PlaceOf(at, to);
  return d;
}

}  // namespace

TDiagnostic LocateStatementError(const TSource& AScript, std::int64_t AFailPos) {
  const std::size_t start = static_cast<std::size_t>(AFailPos - 1);
  const TStatementLine line = ReadStatementLine(AScript.Text, start);
  if (!line.Separated) return MissingSeparator(AScript, line);
  TDiagnostic d;
  d.Place = AScript.PlaceOf(line.Start, line.NameStart + line.Name.size());
  d.Message = "block variable " + Quoted(line.Name) +
              " stands outside any block; open one with a '<<*name' line above it";
  // The latest definition above, when it had no name, is why no block is current.
  for (const TStatementLine& above : ReadStatementLines(AScript.Text.substr(0, start))) {
    if (above.Kind == '*' && above.Name.empty())
      d.Notes.assign(1, {AScript.PlaceOf(above.Start, above.NameStart),
                         "the latest block definition, here, has no name"});
    else if (above.Kind == '*')
      d.Notes.clear();
  }
  return d;
}

TDiagnostic LocateMarkerError(const TSource& AScript, const TSource& ATemplate,
                              std::string_view ABlock) {
  const std::string begin = MarkerText(true, ABlock), end = MarkerText(false, ABlock);
  const std::size_t b = ATemplate.Text.find(begin);
  const std::size_t e = ATemplate.Text.find(end);
  TDiagnostic d;
  if (b == std::string_view::npos) {  // only after other blocks were cut out; name the block
    d.Place.File = ATemplate.Name;
    d.Message = "block " + Quoted(ABlock) + " has no " + Quoted(end) + " after its BEGIN marker";
  } else {
    d.Place = ATemplate.PlaceOf(b, b + begin.size());
    if (e != std::string_view::npos && e < b) {
      d.Message = "the END marker of block " + Quoted(ABlock) + " comes before its BEGIN marker";
      d.Notes.push_back({ATemplate.PlaceOf(e, e + end.size()),
                         "the END marker is here; move it after the block's markup"});
    } else {
      d.Message = "block " + Quoted(ABlock) + " has no " + Quoted(end) + " after its BEGIN marker";
      for (const TMarkerText& marker : ReadMarkers(ATemplate.Text.substr(b + begin.size()))) {
        if (marker.IsBegin || !SameText(marker.Name, ABlock)) continue;
        const std::size_t at = b + begin.size() + marker.Pos;
        d.Notes.push_back({ATemplate.PlaceOf(at, at + marker.Length),
                           "this marker is not exactly " + Quoted(end)});
        d.FixIts.push_back({ATemplate.PlaceOf(at, at + marker.Length), end});
        break;
      }
    }
  }
  for (const TStatementLine& line : ReadStatementLines(AScript.Text))
    if (line.Kind == '*' && line.Name == ABlock) {
      d.Notes.push_back({AScript.PlaceOf(line.Start, line.NameStart + line.Name.size()),
                         "block " + Quoted(ABlock) + " is defined here"});
      break;
    }
  return d;
}

}  // namespace zoqc
