#pragma once

#include <stdexcept>
#include <string>
#include <unordered_map>

namespace tarsel {

// Checked lookup. A missing key raises std::out_of_range whose message
// starts with the wording callers rely on, "unordered_map::at: key not
// found" (whatever the standard library's own wording), followed by ": " and
// what `describe()` returns: which record referred to the key. The
// description is built only on failure.
template <typename Map, typename Key, typename Describe>
const typename Map::mapped_type& LookupOrThrow(const Map& map, const Key& key,
                                               const Describe& describe) {
  const auto it = map.find(key);
  if (it == map.end()) {
    throw std::out_of_range("unordered_map::at: key not found: " + std::string(describe()));
  }
  return it->second;
}

}  // namespace tarsel
