#pragma once

#include "tables/instance_tables.h"

namespace tarsel {

// Gives a consumer of the instance tables one place to read them from: the
// value shared by the Solver (Attach), or a private copy filled through the
// consumer's own setters when it is used on its own.
class TablesReader {
 public:
  void Attach(const InstanceTables& tables) { shared_ = &tables; }
  bool Attached() const { return shared_ != nullptr; }

  const InstanceTables& Tables() const { return shared_ != nullptr ? *shared_ : own_; }
  // The private copy, for setters; using it detaches from shared tables.
  InstanceTables& OwnTables() {
    shared_ = nullptr;
    return own_;
  }

 private:
  const InstanceTables* shared_ = nullptr;
  InstanceTables own_;
};

}  // namespace tarsel
