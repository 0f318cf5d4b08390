// What a user most likely meant by a page whose script or template is not there.
#pragma once

#include <string>
#include <vector>

namespace zoqc {

// Notes for the Error(1) of the page whose inputs are AScript and ATemplate (as derived from
// its name): the folder looked in, and what stands there instead: a script whose name differs
// in letter case or by an edit or two ("zoqc Index", "zoqc indx"), a template saved under
// another extension ("index.html"), a page of that name one folder down.
std::vector<std::string> MissingInputHints(const std::string& AScript,
                                           const std::string& ATemplate);

}  // namespace zoqc
