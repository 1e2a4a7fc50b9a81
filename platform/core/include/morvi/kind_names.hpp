#pragma once
// What each kind of value is called, in one table: the word error messages use, and the name of
// the Python type the kind stands for, which the YAML form writes for a type object.
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi {

struct KindNames {
  const char* word;    // "none", "text", "map", ...: kind_name
  const char* python;  // "NoneType", "str", "dict", ...; null where the value names its type
                       // itself (a node, an error, an opaque object)
};

const KindNames& names_of(Kind kind) noexcept;

}  // namespace morvi
#pragma GCC visibility pop
