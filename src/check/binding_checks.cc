// The warnings about bindings and placeholders: -Wall's checks.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "src/check/checker.h"

namespace zoqc::check_detail {

// Bindings of one name twice (or in two letter cases) in the same table.
void TChecker::CheckDuplicates() {
  std::unordered_map<std::string, const TStatement*> seen;
  for (const TStatement& line : Lines) {
    if (!Binds(line)) continue;
    const std::string_view name = NameOf(line);
    std::string key = UpperCased(name);
    if (line.Kind == TStatementKind::BlockVar) key = UpperCased(BlockOfVar(line)) + "\n" + key;
    const auto [it, added] = seen.try_emplace(key, &line);
    if (added) continue;
    const std::string_view first = NameOf(*it->second);
    TDiagnostic* d = Warn(TWarning::DuplicateBinding, NamePlace(line),
                          first == name ? Quoted(name) + " is bound again; only one binding is used"
                                        : Quoted(name) + " and " + Quoted(first) +
                                              " differ only in letter case and match the same "
                                              "placeholders; only one binding is used");
    Note(d, NamePlace(*it->second), "first bound here");
  }
}

// Placeholders with no binding, bindings with no placeholder, and placeholders that end a line
// inside <pre> or <textarea>.
void TChecker::CheckPlaceholders() {
  // Where each placeholder belongs: the innermost block copy around it, else the template.
  struct TScope {
    std::vector<std::string_view> Names;  // bound names
    std::vector<const TStatement*> Bindings;
    TFoldedMap Used;
  };
  std::vector<TScope> scopes(Blocks.size() + 1);            // the last one is the template's
  std::unordered_map<std::string_view, std::size_t> exact;  // block name -> index
  for (std::size_t b = 0; b < Blocks.size(); ++b) exact.emplace(Blocks[b].Name, b);
  for (const TStatement& line : Lines) {
    if (!Binds(line)) continue;
    std::size_t scope = Blocks.size();
    if (line.Kind == TStatementKind::BlockVar) {
      const auto it = exact.find(BlockOfVar(line));
      if (it == exact.end()) continue;
      scope = it->second;
    }
    scopes[scope].Names.push_back(NameOf(line));
    scopes[scope].Bindings.push_back(&line);
  }
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
  for (const TPlaceholder& placeholder : Model.Placeholders) {
    const std::string_view name = placeholder.Name.Of(Template.Text);
    const std::size_t pos = placeholder.Span.Begin;
    const std::size_t scope =
        placeholder.Copy == kNowhere
            ? Blocks.size()
            : BlockOf.at(Model.Blocks[Model.Copies[placeholder.Copy].Block].Name);
    TScope& s = scopes[scope];
    const bool bound = std::any_of(s.Names.begin(), s.Names.end(),
                                   [&](std::string_view n) { return SameText(n, name); });
    const TPlace where = Template.PlaceOf(pos, placeholder.Span.End);
    if (bound) {
      s.Used.emplace(name, 0);
      const std::size_t after = placeholder.Span.End;
      const std::string_view tail = Template.Text.substr(after, 2);
      const bool line_end = tail.starts_with("\n") || tail == "\r\n";
      if (scope == Blocks.size() && line_end &&
          std::any_of(pre.begin(), pre.end(),
                      [&](const auto& p) { return p.first < pos && pos < p.second; })) {
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
             "nothing binds " + Quoted(name) +
                 (scope_name.empty() ? std::string() : " in block " + Quoted(scope_name)) +
                 ", so the placeholder prints as written");
    const std::vector<std::string_view>& outside = scopes.back().Names;
    if (scope != Blocks.size() &&
        std::any_of(outside.begin(), outside.end(),
                    [&](std::string_view n) { return SameText(n, name); })) {
      Note(d, where,
           Quoted(name) +
               " is a template variable, and those are not filled in inside "
               "a block; bind it with '<<<" +
               std::string(name) + "<<' under '<<*" + std::string(scope_name) + "'");
    } else if (const std::string_view near = Nearest(name, s.Names); !near.empty()) {
      Note(d, where, "did you mean " + Quoted(near) + "?");
      Fix(d, Template.PlaceOf(placeholder.Name.Begin, placeholder.Name.End), std::string(near));
    }
  }
  for (std::size_t scope = 0; scope < scopes.size(); ++scope)
    for (const TStatement* line : scopes[scope].Bindings)
      if (!scopes[scope].Used.count(NameOf(*line)))
        Warn(TWarning::UnusedBinding, NamePlace(*line),
             Quoted(NameOf(*line)) + " is bound but no placeholder '{" +
                 std::string(NameOf(*line)) + "}' uses it" +
                 (scope == Blocks.size() ? std::string(" outside the blocks")
                                         : " in block " + Quoted(Blocks[scope].Name)));
}

}  // namespace zoqc::check_detail
