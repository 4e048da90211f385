#pragma once

#include <memory>

namespace brontide {

// A unique_ptr whose deleter is a C library's free function, named in the type.
template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

}  // namespace brontide
