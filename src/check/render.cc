// Diagnostics as JSON.
#include "src/check/render.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "src/check/locator.h"
#include "src/text/shown.h"

namespace zoqc {

namespace {

using check_detail::SpanOf;
using check_detail::TLocator;
using TJson = nlohmann::ordered_json;

// The name with each byte outside well-formed UTF-8, and each "%", written %XX; empty when
// the name is UTF-8 throughout and needs no second form.
std::string FileBytes(std::string_view AName) {
  std::string out;
  bool needed = false;
  for (std::size_t at = 0; at < AName.size();) {
    const std::size_t length = Utf8Length(AName, at);
    const unsigned char c = static_cast<unsigned char>(AName[at]);
    if (length > 0) {
      out.append(AName.substr(at, length));
      at += length;
      continue;
    }
    if (c >= 0x80 || c == '%') {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
      needed |= c >= 0x80;
    } else {
      out.push_back(static_cast<char>(c));
    }
    ++at;
  }
  return needed ? out : std::string();
}

class TJsonRenderer {
 public:
  // Locates every offset of the diagnostics first, in order, so that each line is counted once.
  explicit TJsonRenderer(const std::vector<TDiagnostic>& ADiagnostics) {
    std::unordered_map<const TSource*, std::vector<std::size_t>> offsets;
    const auto add = [&](const TPlace& APlace) {
      if (!APlace.Source) return;
      const check_detail::TSpan span = SpanOf(APlace);
      offsets[APlace.Source].insert(offsets[APlace.Source].end(), {span.From, span.To});
    };
    for (const TDiagnostic& d : ADiagnostics) {
      add(d.Place);
      for (const TNote& note : d.Notes) add(note.Place);
      for (const TFixIt& fix : d.FixIts) add(fix.Place);
    }
    for (auto& [source, list] : offsets) Locator.Prepare(*source, std::move(list));
  }

  std::string Object(const TDiagnostic& ADiag) {
    TJson one = Place(ADiag.Place);
    one["severity"] = ADiag.Severity == TSeverity::Error ? "error" : "warning";
    one["warning"] = ADiag.Warning.empty() ? TJson(nullptr) : TJson(ADiag.Warning);
    one["message"] = ADiag.Message;
    one["notes"] = TJson::array();
    for (const TNote& note : ADiag.Notes) {
      TJson n = Place(note.Place);
      n["message"] = note.Message;
      one["notes"].push_back(std::move(n));
    }
    one["fixits"] = TJson::array();
    for (const TFixIt& fix : ADiag.FixIts) {
      TJson f = Place(fix.Place);
      f["text"] = fix.Text;
      one["fixits"].push_back(std::move(f));
    }
    // Names and source bytes need not be UTF-8: invalid bytes become U+FFFD instead of
    // throwing (file_bytes keeps a name recoverable).
    return one.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }

 private:
  TJson Place(const TPlace& APlace) {
    TJson place;
    place["file"] = APlace.FileName();
    if (const std::string bytes = FileBytes(APlace.FileName()); !bytes.empty())
      place["file_bytes"] = bytes;
    if (!APlace.Source) {
      for (const char* key : {"line", "column", "end_column", "utf16_column", "utf16_end_column"})
        place[key] = nullptr;
      return place;
    }
    const check_detail::TSpan span = SpanOf(APlace);
    const TLinePosition from = Locator.At(*APlace.Source, span.From);
    const TLinePosition to = Locator.At(*APlace.Source, span.To);
    place["line"] = from.Line;
    place["column"] = from.Column;
    place["end_column"] = to.Column;
    place["utf16_column"] = from.Utf16Column;
    place["utf16_end_column"] = to.Utf16Column;
    return place;
  }

  TLocator Locator;
};

}  // namespace

std::vector<std::string> RenderJsonObjects(const std::vector<TDiagnostic>& ADiagnostics) {
  TJsonRenderer renderer(ADiagnostics);
  std::vector<std::string> objects;
  objects.reserve(ADiagnostics.size());
  for (const TDiagnostic& d : ADiagnostics) objects.push_back(renderer.Object(d));
  return objects;
}

std::string JsonArray(const std::vector<std::string>& AObjects, bool AOneLine) {
  if (AObjects.empty()) return "[]\n";
  std::string out = AOneLine ? "[" : "[\n";
  for (std::size_t idx = 0; idx < AObjects.size(); ++idx) {
    if (idx > 0) out += AOneLine ? "," : ",\n";
    if (!AOneLine) out += "  ";
    out += AObjects[idx];
  }
  out += AOneLine ? "]\n" : "\n]\n";
  return out;
}

std::string RenderJson(const std::vector<TDiagnostic>& ADiagnostics) {
  return JsonArray(RenderJsonObjects(ADiagnostics));
}

}  // namespace zoqc
