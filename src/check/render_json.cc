// Diagnostics as JSON, one object a diagnostic.
#include "src/check/render.h"

#include "src/text/shown.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

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
      char escape[3] = {'%'};
      WriteHex(escape + 1, c, 2);
      out.append(escape, 3);
      needed |= c >= 0x80;
    } else {
      out.push_back(static_cast<char>(c));
    }
    ++at;
  }
  return needed ? out : std::string();
}

}  // namespace

void AppendJsonString(std::string& AOut, std::string_view AText) {
  AOut.push_back('"');
  for (std::size_t at = 0; at < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[at]);
    if (c >= 0x80) {
      const std::size_t length = Utf8Length(AText, at);
      AOut.append(length > 0 ? AText.substr(at, length) : "\xEF\xBF\xBD");
      at += length > 0 ? length : 1;
      continue;
    }
    if (c == '"' || c == '\\') {
      AOut.push_back('\\');
      AOut.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char escape[6] = {'\\', 'u'};
      WriteHex(escape + 2, c, 4, true);
      AOut.append(escape, 6);
    } else {
      AOut.push_back(static_cast<char>(c));
    }
    ++at;
  }
  AOut.push_back('"');
}

namespace {

// Writes the objects straight into text: a tree of JSON values per diagnostic cost ten times
// as much, which a page with many thousands of warnings feels.
class TJsonRenderer {
 public:
  std::string Object(const TDiagnostic& ADiag) {
    std::string out = "{";
    Place(out, ADiag.Place);
    out += ",\"severity\":";
    out += ADiag.Severity == TSeverity::Error     ? "\"error\""
           : ADiag.Severity == TSeverity::Warning ? "\"warning\""
                                                  : "\"note\"";
    out += ",\"warning\":";
    if (ADiag.Warning.empty())
      out += "null";
    else
      AppendJsonString(out, ADiag.Warning);
    Field(out, "message", ADiag.Message);
    out += ",\"notes\":[";
    for (std::size_t idx = 0; idx < ADiag.Notes.size(); ++idx) {
      out += idx > 0 ? ",{" : "{";
      Place(out, ADiag.Notes[idx].Place);
      Field(out, "message", ADiag.Notes[idx].Message);
      if (!ADiag.Notes[idx].FixIts.empty()) FixIts(out, ADiag.Notes[idx].FixIts);
      out += "}";
    }
    out += "]";
    FixIts(out, ADiag.FixIts);
    out += "}";
    return out;
  }

 private:
  // ",\"fixits\":[...]".
  void FixIts(std::string& AOut, const std::vector<TFixIt>& AFixIts) {
    AOut += ",\"fixits\":[";
    for (std::size_t idx = 0; idx < AFixIts.size(); ++idx) {
      AOut += idx > 0 ? ",{" : "{";
      Place(AOut, AFixIts[idx].Place);
      Field(AOut, "text", AFixIts[idx].Text);
      AOut += "}";
    }
    AOut += "]";
  }
  static void Field(std::string& AOut, std::string_view AKey, std::string_view AValue) {
    AOut.append(",\"").append(AKey).append("\":");
    AppendJsonString(AOut, AValue);
  }

  // "file" and, for a name that is not UTF-8, "file_bytes"; then the line and columns.
  void Place(std::string& AOut, const TPlace& APlace) {
    AOut += "\"file\":";
    AppendJsonString(AOut, APlace.FileName());
    if (const std::string bytes = FileBytes(APlace.FileName()); !bytes.empty())
      Field(AOut, "file_bytes", bytes);
    if (!APlace.Source) {
      AOut +=
          ",\"line\":null,\"column\":null,\"end_column\":null,\"utf16_column\":null,"
          "\"utf16_end_column\":null";
      return;
    }
    const TSpan span = APlace.OnItsLine();
    const TLinePosition from = APlace.Source->Lines().Locate(span.Begin);
    const TLinePosition to = APlace.Source->Lines().Locate(span.End);
    AOut += ",\"line\":" + std::to_string(from.Line) +
            ",\"column\":" + std::to_string(from.Column) +
            ",\"end_column\":" + std::to_string(to.Column) +
            ",\"utf16_column\":" + std::to_string(from.Utf16Column) +
            ",\"utf16_end_column\":" + std::to_string(to.Utf16Column);
  }
};

}  // namespace

std::vector<std::string> RenderJsonObjects(const std::vector<TDiagnostic>& ADiagnostics) {
  TJsonRenderer renderer;
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
