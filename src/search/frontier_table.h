#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/label.h"

namespace tarsel {

// Pareto frontiers of expanded labels, one per configuration of agent
// positions, over objective value, per-agent costs, finished routes and
// visited nodes.
//
// An entry is a fixed record of 64-bit words in its frontier's flat array:
// g, the finished flags as a bit mask, the visited set, then one cost per
// agent. No entry owns heap memory. Configurations are looked up in an
// open-addressing table whose keys (agent positions, 16 bits each) live in
// one flat array.
class FrontierTable {
 public:
  FrontierTable() { Reset(0); }
  // Empties the table for labels with `num_agents` agents.
  void Reset(size_t num_agents);

  // True if some entry of the label's configuration dominates it (equal
  // labels dominate each other); false when the configuration has none.
  bool IsDominated(const Label& label) const;
  // Removes the entries `label` dominates from its configuration's frontier
  // (opened on first use), appends it and returns how many went.
  int Insert(const Label& label);

  size_t NumFrontiers() const { return frontiers_.size(); }
  size_t NumEntries() const { return num_entries_; }
  size_t MemoryBytes() const;

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

  uint64_t Hash(const Label& label) const;
  bool KeyEquals(uint32_t frontier, const Label& label) const;
  // Frontier of the label's configuration, or kEmpty.
  uint32_t Find(const Label& label) const;
  uint32_t FindOrOpen(const Label& label);
  void Grow();
  // Writes `label` as an entry record at `out`.
  void WriteEntry(const Label& label, uint64_t* out) const;
  // The entry record at `entry` dominates `label`.
  bool Dominates(const uint64_t* entry, const Label& label) const;
  // `label` dominates the entry record at `entry`.
  bool DominatedBy(const uint64_t* entry, const Label& label) const;

  size_t num_agents_ = 0;
  size_t flag_words_ = 0;  // words of the finished mask
  size_t stride_ = 0;      // words per entry
  std::vector<uint16_t> keys_;                   // num_agents_ per frontier
  std::vector<std::vector<uint64_t>> frontiers_;  // entries, stride_ words each
  std::vector<uint32_t> slots_;                  // frontier index or kEmpty
  size_t num_entries_ = 0;
  mutable std::vector<uint64_t> scratch_;  // the probe label as a record
};

}  // namespace tarsel
