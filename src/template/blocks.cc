// Block expansion: each block is cut out of the marker index's template once, and its
// statements are rewritten in one pass over the translated script.
#include "src/template/blocks.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "src/template/markers.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kEchoPrefix = "<?php echo $ZOQBLOCK_";
constexpr std::string_view kEchoSuffix = ";?>";

// Name (up to case) -> index of the first block of BlockList with that name.
using TFirstBlocks =
    std::unordered_map<std::string_view, std::size_t, TSameTextHash, TSameTextEqual>;

// Rewrites every "<<*" R and "<<+" R of APhp (R the whole run of name characters after the
// opener) for which AFirst knows R up to case: the definition by its init text, the parse
// statement by AAppend of that block. Inserted text is never looked at again.
std::string RewriteStatements(std::string_view APhp, const std::vector<std::string>& ABlockList,
                              const TFirstBlocks& AFirst, const std::vector<std::string>& AAppend) {
  std::string out;
  out.reserve(APhp.size());
  std::size_t done = 0;
  for (std::size_t idx = APhp.find("<<"); idx != std::string_view::npos;
       idx = APhp.find("<<", idx)) {
    const char opener = idx + 2 < APhp.size() ? APhp[idx + 2] : '\0';
    if (opener != '*' && opener != '+') {
      ++idx;
      continue;
    }
    const std::size_t end = NameEnd(APhp, idx + 3);
    const auto it = AFirst.find(APhp.substr(idx + 3, end - idx - 3));
    if (it == AFirst.end()) {
      idx += 3;
      continue;
    }
    out.append(APhp.substr(done, idx - done));
    out.append(opener == '*' ? BlockInitText(ABlockList[it->second]) : AAppend[it->second]);
    done = idx = end;
  }
  out.append(APhp.substr(done));
  return out;
}

}  // namespace

std::string BlockInitText(std::string_view N) {
  return std::string("$ZOQBLOCK_").append(N).append("=\"\";");
}

std::string BlockAppendText(std::string_view N, std::string_view ABlockString) {
  std::string text("$ZOQBLOCK_");
  text.append(N).append("=$ZOQBLOCK_").append(N).append(".").append(ABlockString);
  return text.append(";").append(kCRLF);
}

std::string BlockEchoText(std::string_view N) {
  return std::string(kEchoPrefix).append(N).append(kEchoSuffix).append(kCRLF);
}

std::string MakeBlockString(std::string_view AInner, const TPlaceholderIndex& AVars) {
  std::string out("\"");
  out.reserve(AInner.size() + 2);
  std::size_t done = 0;  // AInner before this index is in out
  for (std::size_t idx = AInner.find_first_of("{<\\\"$"); idx != std::string_view::npos;
       idx = AInner.find_first_of("{<\\\"$", idx)) {
    out.append(AInner.substr(done, idx - done));
    done = idx;
    const char c = AInner[idx];
    std::size_t length = 0;
    if (c == '{') {
      if (const std::string_view* splice = AVars.Match(AInner, idx, length))
        out.append(*splice);
      else
        out.push_back(c), length = 1;
    } else if (c == '<') {
      // An inner block's echo, "<?php echo $ZOQBLOCK_" M ";?>", prints its buffer right here.
      std::size_t end = NameEnd(AInner, idx + kEchoPrefix.size());
      if (AInner.substr(idx, kEchoPrefix.size()) == kEchoPrefix &&
          AInner.substr(end, kEchoSuffix.size()) == kEchoSuffix) {
        const std::size_t name = idx + kEchoPrefix.size();
        out.append("\".$ZOQBLOCK_").append(AInner.substr(name, end - name)).append(".\"");
        end += kEchoSuffix.size();
        if (AInner.substr(end, 2) == kCRLF)
          end += 2;
        else if (AInner.substr(end, 1) == "\n")
          end += 1;
        length = end - idx;
      } else {
        out.push_back(c), length = 1;
      }
    } else {
      out.push_back('\\'), out.push_back(c), length = 1;  // '\\', '"' or '$'
    }
    idx += length;
    done = idx;
  }
  out.append(AInner.substr(done));
  out.push_back('"');
  return out;
}

bool ExpandBlocks(TRunState& Run, std::string& AError) {
  Run.TemplatePieces.assign(1, Run.TemplateStr);
  if (Run.BlockList.empty()) return true;
  const std::size_t count = Run.BlockList.size();
  std::vector<std::string> append(count);  // each block's append text
  TFirstBlocks first;
  {
    std::vector<std::string> echoes;
    for (const std::string& name : Run.BlockList) echoes.push_back(BlockEchoText(name));
    TTemplate tmpl(Run.TemplateStr, std::move(echoes));
    for (std::size_t I = 0; I < count; ++I) {
      const std::string& N = Run.BlockList[I];
      first.emplace(N, I);
      const auto A = tmpl.First(true, N);
      const auto B = tmpl.First(false, N);
      if (A && (!B || *B < *A)) {
        Run.FailBlock = N;
        return Fail(AError, "Error(4):block define error BEGIN block after END block");
      }
      if (!A) {  // not in the template (any more): the buffer stays empty
        append[I] = BlockAppendText(N, "\"\"");
        continue;
      }
      const TMarker& begin = tmpl.Marker(*A);
      const TMarker& end = tmpl.Marker(*B);
      std::string BlockStr;
      tmpl.AppendCurrent(BlockStr, begin.Pos, end.Pos + end.Length);
      const std::string_view BlockStrInner = std::string_view(BlockStr).substr(
          begin.Length, BlockStr.size() - begin.Length - end.Length);
      append[I] = BlockAppendText(
          N,
          MakeBlockString(BlockStrInner, TPlaceholderIndex(Run.BlockVarList.Get(N), "\".", ".\"")));
      tmpl.CutAll(BlockStr, N, I);
    }
    Run.TemplatePieces = tmpl.TakePieces(Run.BlockEchoes);
  }
  Run.PhpStr = RewriteStatements(Run.PhpStr, Run.BlockList, first, append);
  return true;
}

}  // namespace zoqc
