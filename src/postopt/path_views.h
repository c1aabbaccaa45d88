#pragma once

#include <cstddef>
#include <vector>

namespace tarsel {

// Read-only views of a path after one local change, indexed like the changed
// path. Candidate moves are evaluated through them instead of building the
// candidate, so evaluating a move does not allocate.

// `path` with the positions first .. last reversed.
class ReversedSegmentView {
 public:
  ReversedSegmentView(const std::vector<size_t>& path, size_t first, size_t last)
      : path_(path), first_(first), last_(last) {}
  size_t size() const { return path_.size(); }
  size_t operator[](size_t i) const {
    return (i < first_ || i > last_) ? path_[i] : path_[first_ + last_ - i];
  }

 private:
  const std::vector<size_t>& path_;
  size_t first_;
  size_t last_;
};

// `path` without the node at position `removed`.
class RemovedNodeView {
 public:
  RemovedNodeView(const std::vector<size_t>& path, size_t removed)
      : path_(path), removed_(removed) {}
  size_t size() const { return path_.size() - 1; }
  size_t operator[](size_t i) const { return path_[i < removed_ ? i : i + 1]; }

 private:
  const std::vector<size_t>& path_;
  size_t removed_;
};

// `path` with `node` inserted before position `position`.
class InsertedNodeView {
 public:
  InsertedNodeView(const std::vector<size_t>& path, size_t node, size_t position)
      : path_(path), node_(node), position_(position) {}
  size_t size() const { return path_.size() + 1; }
  size_t operator[](size_t i) const {
    if (i < position_) return path_[i];
    return i == position_ ? node_ : path_[i - 1];
  }

 private:
  const std::vector<size_t>& path_;
  size_t node_;
  size_t position_;
};

}  // namespace tarsel
