// Fuzzes the translation with large structured pages: the input is a recipe of shapes (many
// blocks, repeated markers, long names, many variables and placeholders), each repeated many
// times, so that work that grows faster than the page shows up as a slow unit (libFuzzer's
// -timeout). Only the translation runs; the reference is quadratic by design.
#include <cstdint>
#include <string>

#include "src/translation/compile.h"

namespace {

constexpr std::size_t kMaxSide = 1 << 20;  // bytes of script and of template, each at most

// Reads the recipe a byte at a time; zeros once it is used up.
struct TRecipe {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Next = 0;
  unsigned Byte() { return Next < Size ? Data[Next++] : 0; }
  bool Done() const { return Next >= Size; }
};

std::string Name(TRecipe& ARecipe) {
  const unsigned pick = ARecipe.Byte();
  if (pick >= 240) return std::string(1000u * (pick - 239), 'N');  // long names
  return "n" + std::to_string(pick % 64);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TRecipe recipe{AData, ASize};
  std::string script = "<?php\n";
  std::string templ;
  while (!recipe.Done() && script.size() < kMaxSide && templ.size() < kMaxSide) {
    const unsigned shape = recipe.Byte() % 12;
    const unsigned times = 1 + recipe.Byte() * 64;  // up to 16,320 copies of one shape
    const std::string name = Name(recipe);
    const std::string expr = "$" + name;
    const unsigned distinct = 1 + recipe.Byte() * 64;  // names repeat after this many
    for (unsigned idx = 0; idx < times && script.size() < kMaxSide && templ.size() < kMaxSide;
         ++idx) {
      const std::string nth = name + std::to_string(idx % distinct);
      switch (shape) {
        case 0:
          script += "<<" + nth + "<<" + expr + "\n";
          break;  // a variable
        case 1:
          script += "<<*" + nth + "\n";
          break;  // a block definition
        case 2:
          script += "<<<" + nth + "<<" + expr + "\n";
          break;  // a block variable
        case 3:
          script += "<<+" + nth + "\n";
          break;  // a block copy
        case 4:
          templ += "{" + nth + "}";
          break;  // a placeholder
        case 5:
          templ += "<!--BEGIN " + nth + "-->{" + name + "}<!--END " + nth + "-->";
          break;
        case 6:
          templ += "<!--BEGIN " + nth + "-->";
          break;  // unclosed markers
        case 7:
          templ += "<!--END " + nth + "-->";
          break;
        case 8:
          templ += "{{{{" + nth;
          break;  // broken placeholders
        case 9:
          script += "<<<<<<" + nth + "\n";
          break;  // repeated openers
        case 10:
          script += "echo 1;\r\n";
          break;  // plain lines
        default:
          templ += "<!--BEGIN <!--BEGIN {<!--END ";
          break;  // marker fragments
      }
    }
  }
  [[maybe_unused]] const zoqc::TCompileResult result = zoqc::Compile(script, std::move(templ));
  return 0;
}
