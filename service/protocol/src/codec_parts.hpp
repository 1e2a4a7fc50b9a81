#pragma once
// What the writer and the fast reader of the typed encoding share.
#include <cstddef>
#include <string>
#include <utility>

#include "morvi/value.hpp"

namespace morvi::service::protocol {

// An object of the runner's that reached us as its type name and representation.
class RemoteObject : public Object {
 public:
  RemoteObject(std::string type, std::string repr)
      : type_(std::move(type)), repr_(std::move(repr)) {}
  std::string type_name() const override { return type_; }
  std::string repr() const override { return repr_; }

 private:
  std::string type_;
  std::string repr_;
};

// The length of the UTF-8 sequence that starts at `p`, or 0 when it is not a valid one
// (overlong forms, surrogates and code points past U+10FFFF are not).
std::size_t utf8_length(const unsigned char* p, std::size_t left);

}  // namespace morvi::service::protocol
