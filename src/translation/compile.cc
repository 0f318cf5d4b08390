// The translation: scan -> page model; expansion -> the page's pieces.
#include "src/translation/compile.h"

#include <utility>

#include "src/script/scan.h"
#include "src/template/blocks.h"
#include "src/template/escaping.h"
#include "src/template/page_tables.h"
#include "src/template/variables.h"

namespace zoqc {

namespace {

// What a translated page views: its inputs, its model and the texts expansion made.
struct TPageStorage {
  std::shared_ptr<const void> Script;
  std::shared_ptr<const void> Template;
  TPageModel Model;
  TExpansion Expansion;
  std::optional<TPlaceholderIndex> Vars;
  std::optional<TEscaping> Escaping;  // with TCompileOptions::Escape: the escaped texts
};

}  // namespace

std::string_view ErrorLine(TCompileError AError) {
  switch (AError) {
    case TCompileError::None:
      return "";
    case TCompileError::NeedSeparator:
      return "Error(2):need <<";
    case TCompileError::NoCurrentBlock:
      return "Error(3):have not set current block";
    case TCompileError::BlockOrder:
      return "Error(4):block define error BEGIN block after END block";
    case TCompileError::BlockVarNeedSeparator:
      return "Error(5):need <<";
  }
  return "";
}

TCompileResult Compile(std::string AScript, std::string ATemplate,
                       const TCompileOptions& AOptions) {
  auto texts = std::make_shared<std::pair<std::string, std::string>>(std::move(AScript),
                                                                     std::move(ATemplate));
  const std::string_view script = texts->first, templ = texts->second;
  return Compile({script, texts}, {templ, texts}, AOptions);
}

TCompileResult Compile(TInputText AScript, TInputText ATemplate, const TCompileOptions& AOptions,
                       TPageSink* ASink) {
  TCompileResult result;
  result.Options = AOptions;
  auto storage = std::make_shared<TPageStorage>();
  storage->Script = std::move(AScript.Owner);
  storage->Template = std::move(ATemplate.Owner);
  TPageModel& model = storage->Model;
  result.Model = &model;
  model.Script.Text = AScript.Text;
  // A large page's lists share one block, sized from the script's lines: huge pages for what
  // fills them, and one part-used page at the end instead of one per list.
  const TLineCount lines = CountLines(AScript.Text);
  const std::size_t list_bytes = lines.ListBytes() + TPlaceholderIndex::ArenaBytes(lines.Openers);
  if (list_bytes >= kLargeBlock) model.Script.Arena = std::make_shared<TArena>(list_bytes);
  result.Error = ScanScript(model.Script, &lines);
  if (result.Ok()) {
    ReadTemplate(model, ATemplate.Text);
    // A streamed page writes each echo as prefix, expression (escaped or not) and suffix: the
    // texts are not built (the listed pieces need them whole).
    const bool streamed = ASink && !AOptions.Provenance;
    TPageTables tables(model.Script, AOptions.Provenance, streamed);
    TExpansion& expansion = storage->Expansion;
    TEscaping* escaping = AOptions.Escape ? &storage->Escaping.emplace(model.Contexts()) : nullptr;
    if (!ExpandBlocks(model, tables, AOptions.Provenance, expansion, escaping)) {
      result.Error = TCompileError::BlockOrder;
      result.FailBlock = model.Plan.Steps[expansion.FailBlock].Name;
    } else {
      if (AOptions.Provenance) result.Provenance.emplace();
      // The provenance's line table needs the pieces, so a recorded page is listed first.
      TPageSink& sink = streamed ? *ASink : result.Pieces;
      TPageBuilder page(sink, result.Provenance ? &*result.Provenance : nullptr);
      AppendPhpPart(model.Script, expansion, page);
      storage->Vars.emplace(std::move(tables.Vars));  // the page views its texts
      std::vector<std::size_t> left;
      SubstituteVariables(expansion.TemplatePieces, *storage->Vars, page, model.Template, left,
                          expansion.PieceCuts, &tables.VarExprs, escaping);
      page.EndPage(result.Pieces.Span());
      if (ASink && AOptions.Provenance) {
        for (const std::string_view piece : result.Pieces.Span()) ASink->Append(piece);
        result.Pieces = TPieces();
      }
      if (ASink) ASink->Close();
      TLeftovers& leftovers = result.Leftovers;
      leftovers.Left = std::move(expansion.Left);
      for (const std::size_t at : left)
        leftovers.Left.push_back({PlaceholderNameAt(model.Template, at), kNowhere});
      leftovers.Unused = std::move(expansion.Unused);
      storage->Vars->ForEachUnused([&](std::string_view AKey) {
        leftovers.Unused.push_back({kNowhere, std::string(AKey)});
      });
    }
  } else {  // what the template holds, for locating the error
    ReadTemplate(model, ATemplate.Text);
  }
  result.Storage = std::move(storage);
  return result;
}

}  // namespace zoqc
