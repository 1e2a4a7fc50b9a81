#pragma once
// Where the long arrays and objects of a results document end. The first pass over the
// document learns them; afterwards skipping one of them again is a jump to its end, so that
// reading a node's record costs its own text and its children's, not its whole subtree (which
// made every node of a deep chain re-read everything below it).
#include <cstddef>
#include <utility>
#include <vector>

namespace morvi::reporter::client {

class LongValues {
 public:
  // Shorter containers are read again when skipped again: they cost no more than a lookup
  // would save, and only a few containers of a node are this long, so memory stays small
  // beside the document.
  static constexpr std::size_t kLong = 4096;

  // While learning: the array or object at [begin, end) was passed; kept when long.
  void passed(std::size_t begin, std::size_t end) {
    if (!learnt_ && end - begin >= kLong) ends_.emplace_back(begin, end);
  }
  // Ends the learning; from now on end_of answers.
  void learnt();
  // The end of the long container known to start at `begin`; 0 when none is known.
  std::size_t end_of(std::size_t begin) const;

 private:
  // By where they begin, once learnt.
  std::vector<std::pair<std::size_t, std::size_t>> ends_;
  bool learnt_ = false;
};

}  // namespace morvi::reporter::client
