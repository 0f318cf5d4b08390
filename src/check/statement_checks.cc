// The warnings about where statements stand: inside a PHP comment, an append above its block's
// definition, a block never appended.
#include <string>

#include "src/check/checker.h"
#include "src/script/scan.h"
#include "src/text/bytes.h"

namespace zoqc::check_detail {

namespace {

bool IsIdentChar(char c) {
  return IsNameChar(c) || c == '_' || static_cast<unsigned char>(c) >= 128;
}

// Where the PHP of a script stands between two statement lines: in code, or in something that
// runs past the end of a line. Only "/* ... */" is asked about; the rest is followed so that a
// "/*" inside a string, a line comment or a heredoc opens nothing.
class TPhpReader {
 public:
  explicit TPhpReader(std::string_view AText) : Text(AText) {}

  // Reads the PHP text [AFrom, ATo).
  void Read(std::size_t AFrom, std::size_t ATo) {
    for (std::size_t at = AFrom; at < ATo; ++at) {
      const char c = Text[at];
      if (State == TState::Code && !OpensInCode(c)) continue;  // the usual byte: nothing opens
      const auto next = [&](std::string_view AWhat) {
        return Text.substr(at, AWhat.size()) == AWhat;
      };
      const bool line_start = at == 0 || Text[at - 1] == '\n';
      switch (State) {
        case TState::Html:
          if (next("<?")) State = TState::Code, ++at;
          break;
        case TState::Code:
          if (next("/*")) {
            State = TState::Comment, CommentAt = at, ++at;
          } else if (next("//") || (c == '#' && !next("#["))) {
            State = TState::LineComment;
          } else if (c == '\'' || c == '"' || c == '`') {
            State = TState::String, Quote = c;
          } else if (next("?>")) {
            State = TState::Html, ++at;
          } else if (next("<<<")) {
            std::size_t from = at + 3;
            while (from < ATo && (Text[from] == ' ' || Text[from] == '\t')) ++from;
            if (from < ATo && (Text[from] == '\'' || Text[from] == '"')) ++from;
            std::size_t to = from;
            while (to < ATo && IsIdentChar(Text[to])) ++to;
            if (to > from) State = TState::Heredoc, Label = Text.substr(from, to - from), at = to;
          }
          break;
        case TState::LineComment:
          if (c == '\n') State = TState::Code;
          if (next("?>")) State = TState::Html, ++at;
          break;
        case TState::Comment:
          if (next("*/")) State = TState::Code, ++at;
          break;
        case TState::String:
          if (c == '\\')
            ++at;
          else if (c == Quote)
            State = TState::Code;
          break;
        case TState::Heredoc: {
          if (!line_start) break;
          std::size_t from = at;
          while (from < ATo && (Text[from] == ' ' || Text[from] == '\t')) ++from;
          if (Text.substr(from, Label.size()) == Label &&
              (from + Label.size() >= Text.size() || !IsIdentChar(Text[from + Label.size()])))
            State = TState::Code, at = from + Label.size() - 1;
          break;
        }
      }
    }
  }
  // The bytes that can open something in code: a comment, a string, "?>" or a heredoc.
  static bool OpensInCode(char c) {
    return c == '/' || c == '#' || c == '\'' || c == '"' || c == '`' || c == '?' || c == '<';
  }
  // The offset of the "/*" whose comment is open here, or kNowhere.
  std::size_t OpenComment() const { return State == TState::Comment ? CommentAt : kNowhere; }

 private:
  enum class TState { Html, Code, LineComment, Comment, String, Heredoc };
  std::string_view Text;
  TState State = TState::Html;  // a script opens as template text until "<?php"
  std::size_t CommentAt = 0;
  char Quote = 0;
  std::string_view Label;  // the heredoc's closing label
};

}  // namespace

// A statement line is read wherever it stands, also inside a PHP comment that a reader of the
// PHP takes for dead text.
void TChecker::CheckCommentedStatements() {
  // Only "/*" opens a comment that runs on past a line: the usual script has none to look in.
  if (FindPairBySecond(Script.Text, 0, '/', '*') == std::string_view::npos) return;
  TPhpReader php(Script.Text);
  std::size_t from = 0;
  for (const TStatement& line : Statements) {
    if (line.Kind == TStatementKind::PhpLine) continue;  // plain PHP: read with the rest
    // "<<*name<<..." defines nothing; a line of the scan's error is reported as the error.
    if (line.Kind == TStatementKind::BlockDef && line.Separated) continue;
    php.Read(from, line.Line.Begin);
    from = line.Line.End;
    const std::size_t open = php.OpenComment();
    if (open == kNowhere) continue;
    const std::string_view what = line.Kind == TStatementKind::BlockDef ? "starts block "
                                  : line.Kind == TStatementKind::BlockAppend
                                      ? "appends a copy of block "
                                      : "binds ";
    TDiagnostic* d = Warn(TWarning::StatementInComment, NamePlace(line),
                          "this statement stands inside a PHP comment, but every line that starts "
                          "with '<<' is a statement: it still " +
                              std::string(what) + Quoted(NameOf(line)) +
                              "; delete the line, or move it out of the comment");
    Note(d, Script.PlaceOf(open, open + 2), "the comment opens here");
  }
}

// "<<+row" above every "<<*row": its copy goes into a buffer that PHP has not set, and the
// definition then empties it.
void TChecker::CheckAppendOrder(const TStatement& ALine) {
  if (!Warnings.Has(TWarning::AppendBeforeDefinition)) return;
  const std::size_t block = Model.BlockNamed(NameOf(ALine));
  if (block == kNowhere) return;
  const TStatement& definition = DefinitionOf(block);
  if (definition.Line.Begin < ALine.Line.Begin) return;
  const std::string name(Model.Blocks[block].Name);
  TDiagnostic* d =
      Warn(TWarning::AppendBeforeDefinition, NamePlace(ALine),
           "block " + Quoted(name) + " is appended above its definition, so this copy goes " +
               "into $ZOQBLOCK_" + name + " before it is set (PHP: \"Undefined variable\") " +
               "and the '<<*" + name + "' line below empties it; define the block first");
  Note(d, NamePlace(definition), "block " + Quoted(name) + " is defined here");
}

// A block that no "<<+" line appends prints nothing where it stands, unless the script fills
// its buffer itself, or says with a comment on the "<<*" line that it is left empty on purpose.
void TChecker::CheckUnusedBlocks() {
  TFoldedMap appended;
  for (const TBlockRef& ref : Model.Script.Refs)
    if (!ref.IsDef) appended.emplace(ref.Name.Of(Script.Text), 0);
  // "<<+rows" for "<<*row" is the unknown block's warning, which names the block meant.
  for (const TStatement& line : Statements)
    if (line.Kind == TStatementKind::BlockAppend && Model.BlockNamed(NameOf(line)) == kNowhere)
      if (const std::string_view near = NearestBlock(NameOf(line)); !near.empty())
        appended.emplace(near, 0);
  for (std::size_t b = 0; b < Model.Blocks.size(); ++b) {
    const TBlockInfo& block = Model.Blocks[b];
    if (appended.count(block.Name)) continue;
    const TStatement& definition = DefinitionOf(b);
    const std::string_view rest =
        Script.Text.substr(definition.Name.End, definition.Line.End - definition.Name.End);
    const std::size_t comment = rest.find_first_not_of(" \t");
    if (comment != std::string_view::npos &&
        (rest.substr(comment, 2) == "//" || rest.substr(comment, 1) == "#"))
      continue;
    if (Script.Text.find("$ZOQBLOCK_" + std::string(block.Name)) != std::string_view::npos)
      continue;
    const std::string name(block.Name);
    Warn(TWarning::UnusedBlock, NamePlace(definition),
         "block " + Quoted(name) + " is defined but never appended, so it prints nothing; add " +
             "'<<+" + name + "' where the script makes each copy, or end the '<<*" + name +
             "' line with a comment ('// left empty') if the block stays empty on purpose");
  }
}

// A script statement pasted into the template: the template prints it as text.
void TChecker::CheckTemplateStatements() {
  for (const TStatement& line : ReadStatementLines(Template.Text)) {
    const std::string_view name = line.Name.Of(Template.Text);
    if (name.empty()) continue;
    const std::string_view rest =
        Template.Text.substr(line.Name.End, line.Line.End - line.Name.End);
    const bool block =
        line.Kind == TStatementKind::BlockDef || line.Kind == TStatementKind::BlockAppend;
    // A binding has its "<<" and an expression; a block line holds only its name.
    if (block ? rest.find_first_not_of(" \t") != std::string_view::npos
              : !line.Separated || line.Expr.Empty())
      continue;
    const std::string what =
        line.Kind == TStatementKind::BlockDef      ? "starts block " + Quoted(name)
        : line.Kind == TStatementKind::BlockAppend ? "appends a copy of block " + Quoted(name)
        : line.Kind == TStatementKind::BlockVar    ? "binds " + Quoted(name) + " in a block"
                                                   : "binds " + Quoted(name);
    Warn(TWarning::StatementInTemplate, Template.PlaceOf(line.Line.Begin, line.Name.End),
         "this line of the template is a script statement that " + what +
             ", but the template prints it as text; move it to " + Quoted(Script.Name));
  }
}

}  // namespace zoqc::check_detail
