// Pointer arguments from the host are checked before anything else: a null
// one ends the call with -104, before any other check and before anything is
// sent, and no output is touched.
#pragma once

namespace pq640 {

template <typename... Pointees>
constexpr bool AnyNull(const Pointees*... pointers) {
  return ((pointers == nullptr) || ...);
}

}  // namespace pq640
