// The errors that stop a translation, as values: which one, and where the caller finds its place
// in the page model.
#pragma once

#include <cstdint>

namespace zoqc {

enum class TCompileError : std::uint8_t {
  None,
  NeedSeparator,          // Error(2): "<<name" without the "<<" before the expression
  NoCurrentBlock,         // Error(3): "<<<name<<" before any "<<*block"
  BlockOrder,             // Error(4): a BEGIN marker with no END marker after it
  BlockVarNeedSeparator,  // Error(5): "<<<name" without the "<<" before the expression
};

// The number the console line shows: 2 for Error(2), ...; 0 for None.
constexpr int ErrorNumber(TCompileError AError) {
  switch (AError) {
    case TCompileError::None:
      return 0;
    case TCompileError::NeedSeparator:
      return 2;
    case TCompileError::NoCurrentBlock:
      return 3;
    case TCompileError::BlockOrder:
      return 4;
    case TCompileError::BlockVarNeedSeparator:
      return 5;
  }
  return 0;
}

}  // namespace zoqc
