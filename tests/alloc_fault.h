// Replaces the global operator new (every form) with one that can be made to
// fail, for tests of what code does when memory runs out. Link alloc_fault.cpp
// only into a test program of its own: the replacement is process-wide.
//
//   alloc_fault::fail_nth(3);     // the 3rd allocation from now fails
//   alloc_fault::fail_above(4096);  // every allocation of more bytes fails
//   ... code under test ...
//   alloc_fault::disarm();
//
// A failed allocation throws std::bad_alloc, or yields null for the nothrow
// forms. Arm it only around the code under test: the test framework
// allocates too.
#pragma once

#include <cstddef>

namespace alloc_fault {

void fail_nth(long n);             // 1-based; counting starts now
void fail_above(std::size_t bytes);
void disarm();
long allocations();  // allocations made since the last arming
bool fired();        // an armed fault has failed an allocation

// Disarms on the way out of a scope, so a failed assertion cannot leave
// allocation faults armed for the test framework.
struct Disarm {
  Disarm() = default;
  Disarm(const Disarm&) = delete;
  Disarm& operator=(const Disarm&) = delete;
  ~Disarm() { disarm(); }
};

}  // namespace alloc_fault
