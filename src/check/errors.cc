// The errors that stop a translation, located and explained.
#include <algorithm>
#include <string>
#include <vector>

#include "src/check/check.h"
#include "src/check/checker.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

using check_detail::Quoted;

// Why the name of a statement is not followed by "<<" and an expression.
TDiagnostic MissingSeparator(const TSource& AScript, const TStatement& ALine) {
  const std::string_view text = AScript.Text;
  const std::string_view name = ALine.Name.Of(text);
  const std::size_t at = ALine.Name.End;
  TDiagnostic d;
  const char c = at < text.size() ? text[at] : '\n';
  std::size_t to = at + 1;
  if (c == '_' || c == '-' || static_cast<unsigned char>(c) >= 128) {
    while (to < text.size() && (IsNameChar(text[to]) || text[to] == '_' || text[to] == '-' ||
                                static_cast<unsigned char>(text[to]) >= 128))
      ++to;
    d.Message =
        "names hold only ASCII letters and digits; " + Quoted(std::string(1, c)) +
        (name.empty() ? std::string(" cannot start a name") : " ends the name " + Quoted(name));
  } else if (c == ' ' || c == '\t') {
    while (to < text.size() && (text[to] == ' ' || text[to] == '\t')) ++to;
    if (text.compare(to, 2, "<<") == 0) {
      d.Message = "no blank may stand between the name " + Quoted(name) + " and '<<'";
      d.FixIts.push_back({AScript.PlaceOf(at, to), ""});
    } else {
      d.Message = "expected '<<' right after the name " + Quoted(name);
    }
  } else if (text.compare(at, 2, "<<") == 0) {
    to = at + 2;
    d.Message = "'<<' ends the script; an expression must follow it";
  } else if (c == '\r' || c == '\n') {
    d.Message = "expected '<<' and an expression after the name " + Quoted(name);
    if (ALine.Kind == TStatementKind::BlockVar)
      d.Notes.push_back({AScript.PlaceOf(ALine.Line.Begin, ALine.Name.Begin),
                         "every line that starts with '<<' is a statement; indent a PHP heredoc "
                         "line so that it does not start the line"});
  } else if (name.empty() && (c == '*' || c == '+' || c == '<')) {
    d.Message = "'<<" + std::string(1, c) + "' at the end of the script needs a name and a line";
  } else if (name.empty()) {
    d.Message = "expected a name after '<<', found " + Quoted(std::string(1, c));
  } else {
    d.Message =
        "expected '<<' after the name " + Quoted(name) + ", found " + Quoted(std::string(1, c));
  }
  d.Place = AScript.PlaceOf(at, to);
  return d;
}

// The name of the first pair of markers of the template (a block of the script or not) that
// holds the placeholder "{" AName "}" in any case; a null view when none does.
std::string_view BlockHolding(const TPageModel& AModel, std::string_view AName) {
  const std::string_view text = AModel.Template;
  const std::vector<TPlaceholder>& placeholders = AModel.Placeholders();
  for (const TMarker& marker : AModel.Markers) {
    if (marker.Match == kNowhere) continue;
    const std::size_t end = AModel.Markers[marker.Match].Span.Begin;
    auto it =
        std::lower_bound(placeholders.begin(), placeholders.end(), marker.Span.End,
                         [](const TPlaceholder& p, std::size_t at) { return p.Span.Begin < at; });
    for (; it != placeholders.end() && it->Span.Begin < end; ++it)
      if (!it->Raw && SameText(it->Name.Of(text), AName)) return marker.Name.Of(text);
  }
  return {};
}

}  // namespace

TDiagnostic LocateStatementError(const TPageModel& AModel, const TSource& AScript) {
  const TStatement& line = AModel.Script.Statements.back();
  if (!line.Separated) return MissingSeparator(AScript, line);
  TDiagnostic d;
  d.Place = AScript.PlaceOf(line.Line.Begin, line.Name.End);
  const std::string_view name = line.Name.Of(AScript.Text);
  // "  <<*item" above: it was meant to open the block, but the blanks keep it plain PHP.
  const TStatement* indented = nullptr;
  for (const TStatement& above : AModel.Script.Statements) {
    if (&above == &line) break;
    const std::size_t opener = AScript.Text.find('<', above.Line.Begin);
    if (above.Kind == TStatementKind::PhpLine && !above.Name.Empty() &&
        AScript.Text[opener + 2] == '*')
      indented = &above;
  }
  if (indented) {
    const std::size_t opener = AScript.Text.find('<', indented->Line.Begin);
    const std::string block(indented->Name.Of(AScript.Text));
    d.Message = "block variable " + Quoted(name) + " stands outside any block: the '<<*" + block +
                "' line above is indented, so it stays plain PHP and opens no block";
    d.Notes.push_back(
        {AScript.PlaceOf(indented->Line.Begin, indented->Name.End),
         "block " + Quoted(block) + " would open here; remove the blanks before '<<*'"});
    d.FixIts.push_back({AScript.PlaceOf(indented->Line.Begin, opener), ""});
    return d;
  }
  const std::string_view block = BlockHolding(AModel, name);
  d.Message = "block variable " + Quoted(name) + " stands outside any block; open one with a '<<*" +
              (block.data() ? std::string(block) : std::string("name")) + "' line above it";
  if (block.data())
    d.Message += ": the template's block " + Quoted(block) + " holds '{" + std::string(name) + "}'";
  // The latest definition above, when it had no name, is why no block is current.
  for (const TStatement& above : AModel.Script.Statements) {
    if (above.Kind != TStatementKind::BlockDef || above.Separated) continue;
    if (above.Name.Empty())
      d.Notes.assign(1, {AScript.PlaceOf(above.Line.Begin, above.Name.Begin),
                         "the latest block definition, here, has no name"});
    else
      d.Notes.clear();
  }
  return d;
}

TDiagnostic LocateMarkerError(const TPageModel& AModel, const TSource& AScript,
                              const TSource& ATemplate, std::string_view ABlock) {
  const std::string begin = MarkerText(true, ABlock), end = MarkerText(false, ABlock);
  // The plan's failing step: the BEGIN marker it found, and the END marker before it, if any.
  const TBlockStep& step = AModel.Plan.Steps[AModel.Plan.Failing];
  const TMarker& opening = AModel.Markers[step.Begin];
  const std::size_t b = opening.Span.Begin;
  TDiagnostic d;
  d.Place = ATemplate.PlaceOf(b, opening.Span.End);
  if (step.End != kNowhere) {
    const TSpan e = AModel.Markers[step.End].Span;
    d.Message = "the END marker of block " + Quoted(ABlock) + " comes before its BEGIN marker";
    d.Notes.push_back({ATemplate.PlaceOf(e.Begin, e.End),
                       "the END marker is here; move it after the block's markup"});
  } else {
    d.Message = "block " + Quoted(ABlock) + " has no " + Quoted(end) + " after its BEGIN marker";
    for (std::size_t m = step.Begin + 1; m < AModel.Markers.size(); ++m) {
      const TMarker& marker = AModel.Markers[m];
      if (marker.IsBegin || !SameText(marker.Name.Of(ATemplate.Text), ABlock)) continue;
      d.Notes.push_back({ATemplate.PlaceOf(marker.Span.Begin, marker.Span.End),
                         "this marker is not exactly " + Quoted(end)});
      d.FixIts.push_back({ATemplate.PlaceOf(marker.Span.Begin, marker.Span.End), end});
      break;
    }
  }
  for (const std::size_t s : AModel.Blocks[step.Block].Definitions)
    if (AModel.Script.Statements[s].Name.Of(AScript.Text) == ABlock) {
      const TStatement& line = AModel.Script.Statements[s];
      d.Notes.push_back({AScript.PlaceOf(line.Line.Begin, line.Name.End),
                         "block " + Quoted(ABlock) + " is defined here"});
      break;
    }
  return d;
}

}  // namespace zoqc
