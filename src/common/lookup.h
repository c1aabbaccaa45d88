#pragma once

#include <stdexcept>
#include <unordered_map>

namespace tarsel {

// Checked lookup with the message callers rely on, whatever the standard
// library's own wording of a failed unordered_map::at.
template <typename Map, typename Key>
const typename Map::mapped_type& LookupOrThrow(const Map& map, const Key& key) {
  const auto it = map.find(key);
  if (it == map.end()) throw std::out_of_range("unordered_map::at: key not found");
  return it->second;
}

}  // namespace tarsel
