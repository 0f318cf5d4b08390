// Where a line of a page came from, told as places in its script and template: for PHP's
// messages about the page (its parse errors, its run-time errors) and for explaining a line.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "src/check/diagnostic.h"
#include "src/model/page_model.h"
#include "src/model/provenance.h"

namespace zoqc {

// The chain behind one page line, each link a place with a message saying what it is: the
// statement that put it there (a "<<+" or "<<*" whose block text it is, or the PHP line it
// copies), the template markup, then each binding whose expression it holds. Empty for a line
// that holds only text the translation made (the closing tag) or none at all.
struct TLineChain {
  std::vector<TNote> Links;
  std::size_t Primary = 0;            // the link a message about the line is most likely about
  std::size_t FirstBinding = 0;       // the first link of a binding
  std::vector<std::size_t> Bindings;  // the statements of the bindings' links, in link order
};

// Tells whether PHP can parse an expression as a page uses it.
using TParsesAlone = std::function<bool(const TStatement& AStatement)>;

// The chain of the 1-based page line ALine. AHint is what PHP said about the line: when several
// bindings share the line and the hint quotes a name or key ("headline", $entry) that only one
// of their expressions holds, that one is the primary link; otherwise a binding alone on the
// line is, else the statement, else the markup.
TLineChain ChainOfLine(const TPageModel& AModel, const TProvenance& AProvenance,
                       const TSource& AScript, const TSource& ATemplate, std::size_t ALine,
                       std::string_view AHint = {});

// The error for a page that PHP cannot parse: at the primary link of ALine with PHP's AMessage
// and the page's place ("[page.php:6]"), the other links as notes. The primary link is the one
// binding of the line whose expression alone AParses refuses, else the line's first link. A line
// with no link puts the error on the whole script.
TDiagnostic PhpParseError(const TPageModel& AModel, const TProvenance& AProvenance,
                          const TSource& AScript, const TSource& ATemplate,
                          std::string_view APageName, std::size_t ALine, std::string_view AMessage,
                          const TParsesAlone& AParses);

}  // namespace zoqc
