// Fuzzes the translation with large structured pages: the input is a recipe of shapes (many
// blocks, repeated markers, long names, many variables and placeholders), each repeated many
// times, so that work that grows faster than the page shows up as a slow unit (libFuzzer's
// -timeout). Only the translation runs; the reference is quadratic by design.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

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

// Appends the pieces to AText; "#" stands for the name with its number, "$" for the name.
void Put(std::string& AText, std::initializer_list<std::string_view> APieces,
         const std::string& AName, unsigned ANumber) {
  for (const std::string_view piece : APieces) {
    if (piece == "#")
      AText.append(AName).append(std::to_string(ANumber));
    else if (piece == "$")
      AText.append(AName);
    else
      AText.append(piece);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TRecipe recipe{AData, ASize};
  std::string script = "<?php\n";
  std::string templ;
  while (!recipe.Done() && script.size() < kMaxSide && templ.size() < kMaxSide) {
    const unsigned shape = recipe.Byte() % 12;
    const unsigned times = 1 + recipe.Byte() * 64;  // up to 16,320 copies of one shape
    const std::string name = Name(recipe);
    const unsigned distinct = 1 + recipe.Byte() * 64;  // names repeat after this many
    for (unsigned idx = 0; idx < times && script.size() < kMaxSide && templ.size() < kMaxSide;
         ++idx) {
      const unsigned n = idx % distinct;
      switch (shape) {
        case 0:
          Put(script, {"<<", "#", "<<$", "$", "\n"}, name, n);
          break;  // a variable
        case 1:
          Put(script, {"<<*", "#", "\n"}, name, n);
          break;  // a block definition
        case 2:
          Put(script, {"<<<", "#", "<<$", "$", "\n"}, name, n);
          break;  // a block variable
        case 3:
          Put(script, {"<<+", "#", "\n"}, name, n);
          break;  // a block copy
        case 4:
          Put(templ, {"{", "#", "}"}, name, n);
          break;  // a placeholder
        case 5:
          Put(templ, {"<!--BEGIN ", "#", "-->{", "$", "}<!--END ", "#", "-->"}, name, n);
          break;
        case 6:
          Put(templ, {"<!--BEGIN ", "#", "-->"}, name, n);
          break;  // unclosed markers
        case 7:
          Put(templ, {"<!--END ", "#", "-->"}, name, n);
          break;
        case 8:
          Put(templ, {"{{{{", "#"}, name, n);
          break;  // broken placeholders
        case 9:
          Put(script, {"<<<<<<", "#", "\n"}, name, n);
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
  [[maybe_unused]] const zoqc::TCompileResult result =
      zoqc::Compile(std::move(script), std::move(templ));
  return 0;
}
