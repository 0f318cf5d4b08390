// The chain behind a page line, read from the page's provenance and its model.
#include "src/check/page_origin.h"

#include <algorithm>
#include <string>

namespace zoqc {

namespace {

// The words of AHint that may name what an expression holds: texts in double or single quotes
// and PHP variables ("$entry").
std::vector<std::string_view> HintWords(std::string_view AHint) {
  std::vector<std::string_view> words;
  for (std::size_t idx = 0; idx < AHint.size(); ++idx) {
    const char c = AHint[idx];
    if (c == '"' || c == '\'') {
      const std::size_t end = AHint.find(c, idx + 1);
      if (end == std::string_view::npos) break;
      if (end > idx + 1) words.push_back(AHint.substr(idx + 1, end - idx - 1));
      idx = end;
    } else if (c == '$') {
      std::size_t end = idx + 1;
      while (end < AHint.size() && (IsNameChar(AHint[end]) || AHint[end] == '_')) ++end;
      if (end > idx + 1) words.push_back(AHint.substr(idx, end - idx));
      idx = end - 1;
    }
  }
  return words;
}

// The one binding of ABindings whose expression holds a word of AHint, or kNowhere.
std::size_t NamedBinding(const TScriptModel& AScript, const std::vector<std::size_t>& ABindings,
                         std::string_view AHint) {
  const std::vector<std::string_view> words = HintWords(AHint);
  std::size_t found = kNowhere;
  for (std::size_t idx = 0; idx < ABindings.size(); ++idx) {
    const std::string_view expr = AScript.Statements[ABindings[idx]].Expr.Of(AScript.Text);
    const bool holds = std::any_of(words.begin(), words.end(), [&](std::string_view word) {
      return expr.find(word) != std::string_view::npos;
    });
    if (!holds) continue;
    if (found != kNowhere) return kNowhere;  // more than one: no telling
    found = idx;
  }
  return found;
}

// Whether AHint names the buffer of the block AName ("$ZOQBLOCK_row", its name in any case, as
// the translation rewrites it): PHP's "Undefined variable" for a "<<+" above its "<<*".
bool NamesBuffer(std::string_view AHint, std::string_view AName) {
  constexpr std::string_view kBuffer = "$ZOQBLOCK_";
  for (const std::string_view word : HintWords(AHint))
    if (word.starts_with(kBuffer) && SameText(word.substr(kBuffer.size()), AName)) return true;
  return false;
}

}  // namespace

TLineChain ChainOfLine(const TPageModel& AModel, const TProvenance& AProvenance,
                       const TSource& AScript, const TSource& ATemplate, std::size_t ALine,
                       std::string_view AHint) {
  const TScriptModel& script = AModel.Script;
  std::size_t cause = kNowhere;   // the "<<+" or "<<*" whose block text is on the line
  std::size_t copied = kNowhere;  // the first script byte copied as it is
  std::size_t markup = kNowhere;  // the first template byte, or the marker it stands for
  std::vector<std::size_t> bindings;
  std::vector<std::size_t> placeholders;  // for each binding, the placeholder it fills first
  using TKind = TLineSource::TKind;
  for (const TLineSource& source : AProvenance.OnLine(ALine)) {
    if (cause == kNowhere) cause = source.ScriptCause;
    if (source.Kind == TKind::Markup && markup == kNowhere) markup = source.Span.Begin;
    if (source.Kind == TKind::Made && markup == kNowhere) markup = source.TemplateCause;
    if (source.Kind == TKind::Copied && copied == kNowhere) copied = source.Span.Begin;
    if (source.Kind != TKind::Expression) continue;
    // An expression spliced in for a placeholder: its binding.
    const std::size_t binding = script.StatementAt(source.Span.Begin);
    if (binding != kNowhere &&
        std::find(bindings.begin(), bindings.end(), binding) == bindings.end()) {
      bindings.push_back(binding);
      placeholders.push_back(source.TemplateCause);
    }
  }
  TLineChain chain;
  const auto link = [&](TPlace APlace, std::string AMessage) {
    chain.Links.push_back({std::move(APlace), std::move(AMessage)});
  };
  const std::string page_line = "page line " + std::to_string(ALine);
  if (cause != kNowhere) {
    const std::size_t at = script.StatementAt(cause);
    const TSpan line = at != kNowhere ? script.Statements[at].Line : TSpan{cause, cause + 1};
    const bool def = at != kNowhere && script.Statements[at].Kind == TStatementKind::BlockDef;
    link(AScript.PlaceOf(line.Begin, line.End),
         page_line + (def ? ": the block is started here" : ": the block is appended here"));
  } else if (copied != kNowhere) {
    // A statement leaves its line end in the page: the line is the statement's.
    const std::size_t at = script.StatementAt(copied);
    if (at != kNowhere)
      link(AScript.PlaceOf(script.Statements[at].Line.Begin, script.Statements[at].Line.End),
           page_line + ": the line end of this statement");
    else
      link(AScript.PlaceOf(copied), page_line + ": copied from the script here");
  }
  const std::size_t markup_link = markup != kNowhere ? chain.Links.size() : kNowhere;
  if (markup != kNowhere) link(ATemplate.PlaceOf(markup), "from the template here");
  const std::size_t first_binding = chain.Links.size();
  chain.FirstBinding = first_binding;
  chain.Bindings = bindings;
  for (const std::size_t binding : bindings) {
    const TStatement& st = script.Statements[binding];
    std::string what = "'";
    what.append(st.Name.Of(script.Text)).append("' is bound to ").append(st.Expr.Of(script.Text));
    link(AScript.PlaceOf(st.Expr.Begin, st.Expr.End), std::move(what));
  }
  const std::size_t named = bindings.size() > 1 ? NamedBinding(script, bindings, AHint) : kNowhere;
  if (named != kNowhere)
    chain.Primary = first_binding + named;
  else if (bindings.size() == 1)
    chain.Primary = first_binding;
  // A message about the binding is about its placeholder in the template, wherever the line
  // of the template starts: the markup's link points at it.
  if (markup_link != kNowhere && chain.Primary >= first_binding && !bindings.empty()) {
    const std::size_t at = placeholders[chain.Primary - first_binding];
    const std::size_t close = ATemplate.Text.find('}', at);
    if (at < ATemplate.Text.size() && ATemplate.Text[at] == '{' && close != std::string::npos)
      chain.Links[markup_link].Place = ATemplate.PlaceOf(at, close + 1);
  }
  // The buffer appended to is not set yet: the "<<+" line is to blame, not what it appends.
  if (cause != kNowhere && !AHint.empty()) {
    const std::size_t at = script.StatementAt(cause);
    if (at != kNowhere && script.Statements[at].Kind == TStatementKind::BlockAppend &&
        NamesBuffer(AHint, script.Statements[at].Name.Of(script.Text)))
      chain.Primary = 0;
  }
  return chain;
}

TDiagnostic PhpParseError(const TPageModel& AModel, const TProvenance& AProvenance,
                          const TSource& AScript, const TSource& ATemplate,
                          std::string_view APageName, std::size_t ALine, std::string_view AMessage,
                          const TParsesAlone& AParses) {
  TLineChain chain = ChainOfLine(AModel, AProvenance, AScript, ATemplate, ALine);
  // A binding is to blame only when its expression alone does not parse either, and no other
  // binding of the line is.
  chain.Primary = 0;
  std::vector<std::size_t> faulty;
  for (std::size_t idx = 0; idx < chain.Bindings.size(); ++idx)
    if (!AParses(AModel.Script.Statements[chain.Bindings[idx]])) faulty.push_back(idx);
  if (faulty.size() == 1) chain.Primary = chain.FirstBinding + faulty.front();
  TDiagnostic d;
  d.Message = "PHP cannot parse the page: " + std::string(AMessage) + " [" +
              std::string(APageName) + ":" + std::to_string(ALine) + "]";
  if (chain.Links.empty()) {
    d.Place.File = AScript.Name;
    return d;
  }
  d.Place = std::move(chain.Links[chain.Primary].Place);
  for (std::size_t idx = 0; idx < chain.Links.size(); ++idx)
    if (idx != chain.Primary) d.Notes.push_back(std::move(chain.Links[idx]));
  return d;
}

}  // namespace zoqc
