#include "engine/reverse_chain.h"

#include <utility>

namespace tarsel {

void ChainTour::Reset(size_t length) {
  pieces_[0] = {0, length - 1, false};
  count_ = 1;
  reversals_ = 0;
}

size_t ChainTour::Original(size_t position) const {
  size_t start = 0;
  for (size_t index = 0; index < count_; ++index) {
    const Piece& piece = pieces_[index];
    const size_t length = piece.to - piece.from + 1;
    if (position < start + length) {
      const size_t offset = position - start;
      return piece.reversed ? piece.to - offset : piece.from + offset;
    }
    start += length;
  }
  return position;
}

size_t ChainTour::Current(size_t original) const {
  size_t start = 0;
  for (size_t index = 0; index < count_; ++index) {
    const Piece& piece = pieces_[index];
    if (original >= piece.from && original <= piece.to) {
      return start + (piece.reversed ? piece.to - original : original - piece.from);
    }
    start += piece.to - piece.from + 1;
  }
  return original;
}

size_t ChainTour::SplitAt(size_t position) {
  size_t start = 0;
  for (size_t index = 0; index < count_; ++index) {
    Piece& piece = pieces_[index];
    const size_t length = piece.to - piece.from + 1;
    if (position == start) return index;
    if (position < start + length) {
      const size_t offset = position - start;
      Piece head = piece, rest = piece;
      if (piece.reversed) {
        head.from = piece.to - offset + 1;
        rest.to = piece.to - offset;
      } else {
        head.to = piece.from + offset - 1;
        rest.from = piece.from + offset;
      }
      for (size_t at = count_; at > index + 1; --at) pieces_[at] = pieces_[at - 1];
      pieces_[index] = head;
      pieces_[index + 1] = rest;
      ++count_;
      return index + 1;
    }
    start += length;
  }
  return count_;
}

bool ChainTour::Reverse(size_t first, size_t last) {
  if (reversals_ >= kMaxReversals || count_ + 2 > kMaxPieces || first < 1 || last <= first) return false;
  const size_t a = SplitAt(first);
  const size_t b = SplitAt(last + 1);
  for (size_t low = a, high = b; low < high; ++low) {
    --high;
    if (low < high) std::swap(pieces_[low], pieces_[high]);
  }
  for (size_t index = a; index < b; ++index) pieces_[index].reversed = !pieces_[index].reversed;
  ++reversals_;
  return true;
}

ReverseChain::ReverseChain(const SegmentJoiner& joiner, size_t num_nodes) : joiner_(joiner) {
  scratch_.reserve(num_nodes + 2);
}

void ReverseChain::Build(const Solution& solution, const Move& move) const {
  const std::vector<size_t>& nodes = solution.Route(move.k).nodes;
  scratch_.clear();
  for (size_t index = 0; index < move.tour.Count(); ++index) {
    const ChainTour::Piece& piece = move.tour.At(index);
    if (piece.reversed) {
      for (size_t p = piece.to + 1; p-- > piece.from;) scratch_.push_back(nodes[p]);
    } else {
      scratch_.insert(scratch_.end(), nodes.begin() + static_cast<std::ptrdiff_t>(piece.from),
                      nodes.begin() + static_cast<std::ptrdiff_t>(piece.to) + 1);
    }
  }
}

MoveCosts ReverseChain::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t k = move.k;
  const RouteSegments& segments = joiner_.Segments();
  double cost;
  if (!segments.PricesReversal(k) && !segments.ReversalKeepsCost(k)) {
    Build(solution, move);
    cost = joiner_.Rules().ExactCost(k, scratch_, weights);
  } else {
    const std::vector<size_t>& nodes = solution.Route(k).nodes;
    const size_t end = nodes.size() - 1;
    SegmentJoiner::Ends route;
    for (size_t index = 0; index < move.tour.Count(); ++index) {
      const ChainTour::Piece& piece = move.tour.At(index);
      SegmentJoiner::Ends ends;
      if (piece.from == 0) {
        ends = joiner_.Prefix(solution, k, piece.to);
      } else if (piece.to == end) {
        ends = joiner_.Suffix(solution, k, piece.from);
      } else if (piece.reversed) {
        ends = {segments.ReversedBetween(k, piece.from, piece.to), nodes[piece.to], nodes[piece.from]};
      } else {
        ends = joiner_.Between(solution, k, piece.from, piece.to);
      }
      route = index == 0 ? ends : joiner_.Link(k, route, ends);
    }
    cost = joiner_.Cost(k, route, weights);
  }
  return {k, cost, k, cost};
}

void ReverseChain::Apply(Solution& solution, const Move& move) {
  Build(solution, move);
  solution.MutableNodes(move.k).swap(scratch_);
}

}  // namespace tarsel
