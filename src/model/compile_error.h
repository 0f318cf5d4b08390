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

}  // namespace zoqc
