// Sees every allocation the program makes through operator new: the largest
// request while a watch is on, and a limit above which requests fail as they
// do when memory runs out. Linked only into the tests that watch, since it
// replaces the global operator new.
#pragma once

#include <cstddef>
#include <limits>

class AllocationWatch {
 public:
  explicit AllocationWatch(std::size_t limit = std::numeric_limits<std::size_t>::max());
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;

  // The largest single request since the watch began, on any thread.
  std::size_t Largest() const;
  // How many requests the limit has refused.
  std::size_t Refused() const;
};
