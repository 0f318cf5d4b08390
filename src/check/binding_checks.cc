// The warnings about bindings and placeholders: -Wall's checks.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "src/check/checker.h"

namespace zoqc::check_detail {

// Bindings of one name twice (or in two letter cases) in the same table.
void TChecker::CheckDuplicates() {
  std::unordered_map<std::string, const TStatementLine*> seen;
  for (const TStatementLine& line : Lines) {
    if (line.Kind != '=' && line.Kind != '<') continue;
    std::string key = UpperCased(line.Name);
    if (line.Kind == '<') key = UpperCased(line.Block) + "\n" + key;
    const auto [it, added] = seen.try_emplace(key, &line);
    if (added) continue;
    const std::string_view first = it->second->Name;
    TDiagnostic* d =
        Warn(TWarning::DuplicateBinding, NamePlace(line),
             first == line.Name ? Quoted(line.Name) + " is bound again; only one binding is used"
                                : Quoted(line.Name) + " and " + Quoted(first) +
                                      " differ only in letter case and match the same "
                                      "placeholders; only one binding is used");
    Note(d, NamePlace(*it->second), "first bound here");
  }
}

// Placeholders with no binding, bindings with no placeholder, and placeholders that end a line
// inside <pre> or <textarea>.
void TChecker::CheckPlaceholders() {
  const std::vector<TPlaceholderText> places = ReadPlaceholders(Template.Text);
  // Where each placeholder belongs: the innermost block copy around it, else the template.
  struct TScope {
    std::vector<std::string_view> Names;  // bound names
    std::vector<const TStatementLine*> Bindings;
    TFoldedMap Used;
  };
  std::vector<TScope> scopes(Blocks.size() + 1);  // the last one is the template's
  for (const TStatementLine& line : Lines) {
    if (line.Kind != '=' && line.Kind != '<') continue;
    std::size_t scope = Blocks.size();
    if (line.Kind == '<') {
      const auto it = std::find_if(Blocks.begin(), Blocks.end(),
                                   [&](const TBlock& b) { return b.Name == line.Block; });
      if (it == Blocks.end()) continue;
      scope = static_cast<std::size_t>(it - Blocks.begin());
    }
    scopes[scope].Names.push_back(line.Name);
    scopes[scope].Bindings.push_back(&line);
  }
  std::vector<std::size_t> order;  // block copies by position
  for (std::size_t b = 0; b < Blocks.size(); ++b)
    if (Blocks[b].To != 0) order.push_back(b);
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return Blocks[x].From < Blocks[y].From; });
  // The <pre> and <textarea> spans, found case-insensitively.
  std::vector<std::pair<std::size_t, std::size_t>> pre;
  if (Warnings.Has(TWarning::PreNewline)) {
    const std::string upper = UpperCased(Template.Text);
    for (const std::string_view tag : {"PRE", "TEXTAREA"}) {
      const std::string open = "<" + std::string(tag), close = "</" + std::string(tag);
      for (std::size_t at = upper.find(open); at != std::string::npos;
           at = upper.find(open, at + 1)) {
        const char after = at + open.size() < upper.size() ? upper[at + open.size()] : '\0';
        if (after != '>' && after != ' ' && after != '\t' && after != '\r' && after != '\n')
          continue;
        const std::size_t end = upper.find(close, at);
        pre.emplace_back(at, end == std::string::npos ? upper.size() : end);
      }
    }
  }
  std::size_t next = 0;
  std::vector<std::size_t> open;
  for (const TPlaceholderText& place : places) {
    while (next < order.size() && Blocks[order[next]].From < place.Pos) {
      while (!open.empty() && Blocks[open.back()].To <= Blocks[order[next]].From) open.pop_back();
      open.push_back(order[next++]);
    }
    while (!open.empty() && Blocks[open.back()].To <= place.Pos) open.pop_back();
    const std::size_t scope = open.empty() ? Blocks.size() : open.back();
    TScope& s = scopes[scope];
    const bool bound = std::any_of(s.Names.begin(), s.Names.end(),
                                   [&](std::string_view n) { return SameText(n, place.Name); });
    const TPlace where = Template.PlaceOf(place.Pos, place.Pos + place.Name.size() + 2);
    if (bound) {
      s.Used.emplace(place.Name, 0);
      const std::size_t after = place.Pos + place.Name.size() + 2;
      const std::string_view tail = Template.Text.substr(after, 2);
      const bool line_end = tail.starts_with("\n") || tail == "\r\n";
      if (scope == Blocks.size() && line_end &&
          std::any_of(pre.begin(), pre.end(),
                      [&](const auto& p) { return p.first < place.Pos && place.Pos < p.second; })) {
        TDiagnostic* d = Warn(TWarning::PreNewline, where,
                              "PHP drops the line end right after '?>', so inside <pre> or "
                              "<textarea> this line joins the next; add a second line end");
        Fix(d, Template.PlaceOf(after, after), tail == "\r\n" ? "\r\n" : "\n");
      }
      continue;
    }
    const std::string_view scope_name = scope == Blocks.size() ? "" : Blocks[scope].Name;
    TDiagnostic* d =
        Warn(TWarning::UnboundPlaceholder, where,
             "nothing binds " + Quoted(place.Name) +
                 (scope_name.empty() ? std::string() : " in block " + Quoted(scope_name)) +
                 ", so the placeholder prints as written");
    const std::vector<std::string_view>& outside = scopes.back().Names;
    if (scope != Blocks.size() &&
        std::any_of(outside.begin(), outside.end(),
                    [&](std::string_view n) { return SameText(n, place.Name); })) {
      Note(d, where,
           Quoted(place.Name) +
               " is a template variable, and those are not filled in inside "
               "a block; bind it with '<<<" +
               std::string(place.Name) + "<<' under '<<*" + std::string(scope_name) + "'");
    } else if (const std::string_view near = Nearest(place.Name, s.Names); !near.empty()) {
      Note(d, where, "did you mean " + Quoted(near) + "?");
      Fix(d, Template.PlaceOf(place.Pos + 1, place.Pos + 1 + place.Name.size()), std::string(near));
    }
  }
  for (std::size_t scope = 0; scope < scopes.size(); ++scope)
    for (const TStatementLine* line : scopes[scope].Bindings)
      if (!scopes[scope].Used.count(line->Name))
        Warn(TWarning::UnusedBinding, NamePlace(*line),
             Quoted(line->Name) + " is bound but no placeholder '{" + std::string(line->Name) +
                 "}' uses it" +
                 (scope == Blocks.size() ? std::string(" outside the blocks")
                                         : " in block " + Quoted(Blocks[scope].Name)));
}

}  // namespace zoqc::check_detail
