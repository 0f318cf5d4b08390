// The warnings about bindings and placeholders: -Wall's checks.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "src/check/checker.h"
#include "src/text/bytes.h"

namespace zoqc::check_detail {

// Bindings of one name twice (or in two letter cases) in the same scope, and which one the page
// uses (the model answers it).
void TChecker::CheckDuplicates() {
  const std::size_t outside = Model.Blocks.size();  // the template's scope
  std::vector<TFoldedMap> first(outside + 1);       // per scope: each name up to case -> its first
  for (std::size_t idx = 0; idx < Statements.size(); ++idx) {
    const TStatement& line = Statements[idx];
    if (!line.IsBinding()) continue;
    const std::size_t scope = line.Block == kNowhere ? outside : line.Block;
    const std::string_view name = NameOf(line);
    const auto [it, added] = first[scope].try_emplace(name, idx);
    if (added) continue;
    const std::size_t fill = Model.BindingThatFills(line.Block, name);
    const TStatement* winner = fill == kNowhere ? nullptr : &Statements[fill];
    const TStatement* earlier = &Statements[it->second];
    const std::string_view first_name = NameOf(*earlier);
    TDiagnostic* d = Warn(TWarning::DuplicateBinding, NamePlace(line),
                          (first_name == name ? Quoted(name) + " is bound again"
                                              : Quoted(name) + " and " + Quoted(first_name) +
                                                    " differ only in letter case and match the "
                                                    "same placeholders") +
                              "; only one binding is used" +
                              (winner == &line ? std::string(", this one")
                               : winner        ? ", the one noted below"
                                               : std::string()));
    Note(d, NamePlace(*earlier), "first bound here");
    if (winner && winner != &line && winner != earlier)
      Note(d, NamePlace(*winner), "the page uses this binding");
    else if (winner == earlier)
      d->Notes.back().Message = "first bound here; the page uses this binding";
  }
}

namespace {

// The <pre> and <textarea> spans of AText, found case-insensitively, in order: each closing tag
// with the last opening tag before it. An opening tag that no closing tag follows (one in a
// script's string, say) opens nothing.
std::vector<std::pair<std::size_t, std::size_t>> PreSpans(std::string_view AText) {
  std::vector<std::pair<std::size_t, std::size_t>> pre;
  const std::string upper = UpperCased(AText);
  for (const std::string_view tag : {"PRE", "TEXTAREA"}) {
    const std::string open = std::string("<").append(tag), close = std::string("</").append(tag);
    std::size_t last_open = std::string::npos;
    std::size_t next_close = upper.find(close);
    for (std::size_t at = upper.find(open);; at = upper.find(open, at + 1)) {
      // Close every span that ends before this opening tag (or the end).
      while (next_close != std::string::npos && next_close < at) {
        if (last_open != std::string::npos) pre.emplace_back(last_open, next_close);
        last_open = std::string::npos;
        next_close = upper.find(close, next_close + 1);
      }
      if (at == std::string::npos) break;
      const char after = at + open.size() < upper.size() ? upper[at + open.size()] : '\0';
      if (after == '>' || after == ' ' || after == '\t' || after == '\r' || after == '\n')
        last_open = at;
    }
  }
  std::sort(pre.begin(), pre.end());
  return pre;
}

}  // namespace

// A template placeholder that ends a line inside <pre> or <textarea> (APre, from AOpen on: the
// first span that does not end before an earlier placeholder).
void TChecker::CheckPreNewline(const TPlaceholder& APlaceholder,
                               const std::vector<std::pair<std::size_t, std::size_t>>& APre,
                               std::size_t& AOpen) {
  const std::size_t pos = APlaceholder.Span.Begin, after = APlaceholder.Span.End;
  const std::string_view tail = Template.Text.substr(after, 2);
  const std::size_t ends = tail.starts_with("\n") ? 1 : tail == "\r\n" ? 2 : 0;
  // A second line end right after the first survives PHP's dropping the first.
  const std::string_view next = Template.Text.substr(after + ends, 2);
  const bool twice = next.starts_with("\n") || next == "\r\n";
  while (AOpen < APre.size() && APre[AOpen].second <= pos) ++AOpen;
  if (ends == 0 || twice || AOpen == APre.size() || APre[AOpen].first >= pos) return;
  TDiagnostic* d = Warn(TWarning::PreNewline, Template.PlaceOf(pos, after),
                        "PHP drops the line end right after '?>', so inside <pre> or "
                        "<textarea> this line joins the next; add a second line end");
  Fix(d, Template.PlaceOf(after, after), tail == "\r\n" ? "\r\n" : "\n");
}

// Placeholders with no binding, bindings with no placeholder, and placeholders that end a line
// inside <pre> or <textarea>. Whether a name is bound in a scope is the model's answer.
void TChecker::CheckPlaceholders() {
  struct TScope {
    TNearNames Near;  // the bound names, for suggestions
    std::vector<const TStatement*> Bindings;
    TFoldedMap Used;
  };
  const std::size_t outside = Model.Blocks.size();
  std::vector<TScope> scopes(outside + 1);  // the last one is the template's
  for (std::size_t scope = 0; scope <= outside; ++scope)
    for (const std::size_t s : Model.BindingsOf(scope == outside ? kNowhere : scope)) {
      scopes[scope].Near.Add(NameOf(Statements[s]));
      scopes[scope].Bindings.push_back(&Statements[s]);
    }
  const auto pre = Warnings.Has(TWarning::PreNewline)
                       ? PreSpans(Template.Text)
                       : std::vector<std::pair<std::size_t, std::size_t>>();
  std::size_t open_pre = 0;
  for (const TPlaceholder& placeholder : Model.Placeholders()) {
    if (placeholder.Raw) continue;
    const std::string_view name = placeholder.Name.Of(Template.Text);
    const std::size_t block = Model.ScopeOf(placeholder);
    TScope& s = scopes[block == kNowhere ? outside : block];
    if (Model.BindingThatFills(block, name) != kNowhere) {
      s.Used.emplace(name, 0);
      if (block == kNowhere) CheckPreNewline(placeholder, pre, open_pre);
      continue;
    }
    const std::size_t pos = placeholder.Span.Begin;
    if (std::binary_search(TypoPlaces.begin(), TypoPlaces.end(), pos)) continue;
    const TPlace where = Template.PlaceOf(pos, placeholder.Span.End);
    const std::string_view scope_name = block == kNowhere ? "" : Model.Blocks[block].Name;
    TDiagnostic* d =
        Warn(TWarning::UnboundPlaceholder, where,
             "nothing binds " + Quoted(name) +
                 (scope_name.empty() ? std::string() : " in block " + Quoted(scope_name)) +
                 ", so the placeholder prints as written");
    if (block != kNowhere && Model.BindingThatFills(kNowhere, name) != kNowhere) {
      Note(d, where,
           Quoted(name) +
               " is a template variable, and those are not filled in inside "
               "a block; bind it with '<<<" +
               std::string(name) + "<<' under '<<*" + std::string(scope_name) + "'");
    } else if (const std::string_view near = s.Near.TypoOf(name); !near.empty()) {
      Note(d, where, "did you mean " + Quoted(near) + "?");
      Fix(d, Template.PlaceOf(placeholder.Name.Begin, placeholder.Name.End), std::string(near));
    }
  }
  for (std::size_t scope = 0; scope < scopes.size(); ++scope)
    for (const TStatement* line : scopes[scope].Bindings)
      if (!scopes[scope].Used.count(NameOf(*line)) &&
          std::find(TypoBindings.begin(), TypoBindings.end(), line) == TypoBindings.end())
        Warn(TWarning::UnusedBinding, NamePlace(*line),
             Quoted(NameOf(*line)) + " is bound but no placeholder '{" +
                 std::string(NameOf(*line)) + "}' uses it" +
                 (scope == outside ? std::string(" outside the blocks")
                                   : " in block " + Quoted(Model.Blocks[scope].Name)));
}

// Placeholders the page prints as written one edit away from a name bound in their scope: the
// placeholder is the typo, or, when no placeholder uses that name, the binding may be: one
// warning at the placeholder, with the binding as its note.
void TChecker::CheckTypos() {
  if (Leftovers.Left.empty()) return;  // every placeholder was filled: nothing to compare
  // Per scope (the template's last), filed when first asked: its bound names, for suggestions;
  // and the names that no placeholder used.
  struct TTypoScope {
    bool Filed = false;
    TNearNames Near;
    TFoldedMap Unused;
  };
  const std::size_t outside = Model.Blocks.size();
  std::vector<TTypoScope> scopes(outside + 1);
  for (const TUnusedName& u : Leftovers.Unused)
    scopes[u.Block == kNowhere ? outside : u.Block].Unused.emplace(u.Name, 0);
  TFoldedMap templ;      // the template variables, up to case -> their (last) binding
  TFoldedMap in_blocks;  // the block variables, up to case -> their first binding
  for (std::size_t idx = 0; idx < Statements.size(); ++idx) {
    const TStatement& line = Statements[idx];
    if (line.Kind == TStatementKind::TemplateVar && line.Separated) templ[NameOf(line)] = idx;
    if (line.Kind == TStatementKind::BlockVar && line.Separated && line.Block != kNowhere)
      in_blocks.try_emplace(NameOf(line), idx);
  }
  for (const TLeftPlaceholder& left : Leftovers.Left) {
    const bool in_block = left.Block != kNowhere;
    const std::string_view block = in_block ? Model.Blocks[left.Block].Name : "";
    const std::size_t at = left.Name.Begin - 1;  // its "{"
    const std::string_view name = left.Name.Of(Template.Text);
    const TPlace place = Template.PlaceOf(at, left.Name.End + 1);
    // A template variable inside a block: the block's text is never searched for them.
    if (const auto bound = templ.find(name); in_block && bound != templ.end()) {
      if (!Warnings.Has(TWarning::TemplateVariableInBlock)) continue;
      TDiagnostic* d =
          Warn(TWarning::TemplateVariableInBlock, place,
               Quoted(name) + " is a template variable, and those are not filled in inside a " +
                   "block, so the placeholder prints as written in block " + Quoted(block) +
                   "; bind it with '<<<" + std::string(name) + "<<' under '<<*" +
                   std::string(block) + "'");
      Note(d, NamePlace(Statements[bound->second]),
           Quoted(name) + " is bound here, outside the block");
      TypoPlaces.push_back(at);
      continue;
    }
    // A block variable outside its block: only that block's text is searched for it.
    // (A block whose markers fail, or whose copy holds the placeholder, has a warning of its
    // own about why its text is not searched.)
    if (const auto bound = in_blocks.find(name);
        bound != in_blocks.end() && Statements[bound->second].Block != left.Block &&
        OutsideCopies(Statements[bound->second].Block, at)) {
      if (!Warnings.Has(TWarning::BlockVariableOutsideBlock)) continue;
      const TStatement& binding = Statements[bound->second];
      const std::string owner(Model.Blocks[binding.Block].Name);
      TDiagnostic* d =
          Warn(TWarning::BlockVariableOutsideBlock, place,
               Quoted(name) + " is bound inside block " + Quoted(owner) + ", and " +
                   (in_block ? "in block " + Quoted(block) : std::string("outside it")) +
                   " the placeholder prints as written; " +
                   (in_block ? "bind it with '<<<" + std::string(name) + "<<' under '<<*" +
                                   std::string(block) + "' too"
                             : "bind it with '<<" + std::string(name) +
                                   "<<' for the template too, or move the placeholder into the "
                                   "block"));
      Note(d, NamePlace(binding), Quoted(name) + " is bound here, in block " + Quoted(owner));
      TypoPlaces.push_back(at);
      continue;
    }
    if (!Warnings.Has(TWarning::PlaceholderTypo)) continue;
    TTypoScope& scope = scopes[in_block ? left.Block : outside];
    if (!scope.Filed) {
      scope.Filed = true;
      for (const TBoundName& bound : Model.BoundNames(left.Block)) scope.Near.Add(bound.Name);
    }
    // The first listed of the names equal up to case: the one that the model says fills.
    const std::string_view bound = scope.Near.TypoOf(name);
    if (bound.empty()) continue;
    const std::size_t binding = Model.BindingThatFills(left.Block, bound);
    const TStatement* line = binding == kNowhere ? nullptr : &Statements[binding];
    // Either may be the typo: the placeholder's fix, as the placeholder is the likelier slip;
    // when no other placeholder uses the binding, the binding's fix on the note that shows it.
    const bool binding_unused = line && scope.Unused.count(bound);
    TDiagnostic* d =
        Warn(TWarning::PlaceholderTypo, place,
             "nothing binds " + Quoted(name) +
                 (in_block ? " in block " + Quoted(block) : std::string()) +
                 ", so the placeholder prints as written; did you mean " + Quoted(bound) + "?");
    Fix(d, Template.PlaceOf(left.Name.Begin, left.Name.End), std::string(bound));
    if (line)
      Note(d, NamePlace(*line),
           Quoted(bound) + " is bound here" +
               (binding_unused ? ", and no placeholder uses it; or rename the binding" : ""));
    if (binding_unused) {
      if (d)
        d->Notes.back().FixIts.push_back(
            {Script.PlaceOf(line->Name.Begin, line->Name.End), std::string(name)});
      TypoBindings.push_back(line);
    }
    TypoPlaces.push_back(at);
  }
  std::sort(TypoPlaces.begin(), TypoPlaces.end());
}

// "{$q}", PHP's way of writing a variable into a string, where "q" is bound in its scope: the
// page prints it as written. Not inside PHP code of the template, where it is PHP's own.
void TChecker::CheckPhpVariables() {
  const std::string_view text = Template.Text;
  TCopyWalk scopes(Model);
  // The latest "<?" and "?>" before the "{$": each looked for from the one found before.
  const auto latest = [&](std::string_view AMark, std::size_t& ALatest, std::size_t& AFrom,
                          std::size_t AAt) {
    for (; AFrom < AAt; AFrom = text.find(AMark, AFrom + 1))
      if (text.compare(AFrom, AMark.size(), AMark) == 0) ALatest = AFrom;
  };
  std::size_t open = std::string_view::npos, open_from = 0;
  std::size_t close = std::string_view::npos, close_from = 0;
  // By its '$', which HTML seldom holds (a '{' opens every placeholder).
  for (std::size_t at = FindPairBySecond(text, 0, '{', '$'); at != std::string_view::npos;
       at = FindPairBySecond(text, at + 1, '{', '$')) {
    std::size_t end = at + 2;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    if (end == at + 2 || end >= text.size() || text[end] != '}') continue;
    latest("<?", open, open_from, at);
    latest("?>", close, close_from, at);
    if (open != std::string_view::npos && (close == std::string_view::npos || close < open))
      continue;  // in PHP code
    const std::size_t copy = scopes.CopyAt(at);
    const std::size_t block = copy == kNowhere ? kNowhere : Model.Copies[copy].Block;
    const std::string_view name = text.substr(at + 2, end - at - 2);
    if (Model.BindingThatFills(block, name) == kNowhere) continue;
    TDiagnostic* d = Warn(TWarning::PhpVariablePlaceholder, Template.PlaceOf(at, end + 1),
                          "placeholders are written without PHP's '$', so " +
                              Quoted(text.substr(at, end + 1 - at)) + " prints as written; write " +
                              Quoted("{" + std::string(name) + "}"));
    Fix(d, Template.PlaceOf(at + 1, at + 2), "");
  }
}

}  // namespace zoqc::check_detail
