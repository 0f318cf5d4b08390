// An input's line table, made when a place in it is first rendered.
#include "src/check/diagnostic.h"

namespace zoqc {

const TLineTable& TSource::Lines() const {
  if (!Table) Table.emplace(Text);
  return *Table;
}

}  // namespace zoqc
