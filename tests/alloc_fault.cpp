#include "tests/alloc_fault.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace alloc_fault {
namespace {

constexpr std::size_t NONE = static_cast<std::size_t>(-1);

std::atomic<long> g_count{0};
std::atomic<long> g_fail_at{0};        // 0: off
std::atomic<std::size_t> g_above{NONE};
std::atomic<bool> g_fired{false};

// Whether this allocation is to fail; counts it either way.
bool should_fail(std::size_t size) {
  const long n = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
  const long at = g_fail_at.load(std::memory_order_relaxed);
  if ((at > 0 && n == at) || size > g_above.load(std::memory_order_relaxed)) {
    g_fired.store(true, std::memory_order_relaxed);
    return true;
  }
  return false;
}

void* raw(std::size_t size) noexcept {
  if (should_fail(size)) return nullptr;
  return std::malloc(size ? size : 1);
}

// Over-aligned blocks: the block malloc gave sits just before the aligned
// address, so any delete form can find it.
void* raw_aligned(std::size_t size, std::align_val_t al) noexcept {
  if (should_fail(size)) return nullptr;
  const std::size_t align = static_cast<std::size_t>(al);
  void* base = std::malloc(size + align + sizeof(void*));
  if (!base) return nullptr;
  auto at = reinterpret_cast<std::uintptr_t>(base) + sizeof(void*);
  at = (at + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
  reinterpret_cast<void**>(at)[-1] = base;
  return reinterpret_cast<void*>(at);
}

void release_aligned(void* p) noexcept {
  if (p) std::free(static_cast<void**>(p)[-1]);
}

void* or_throw(void* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void fail_nth(long n) {
  g_above.store(NONE);
  g_fired.store(false);
  g_count.store(0);
  g_fail_at.store(n);
}

void fail_above(std::size_t bytes) {
  g_fail_at.store(0);
  g_fired.store(false);
  g_count.store(0);
  g_above.store(bytes);
}

void disarm() {
  g_fail_at.store(0);
  g_above.store(NONE);
}

long allocations() { return g_count.load(); }
bool fired() { return g_fired.load(); }

}  // namespace alloc_fault

using alloc_fault::or_throw;
using alloc_fault::raw;
using alloc_fault::raw_aligned;
using alloc_fault::release_aligned;

void* operator new(std::size_t n) { return or_throw(raw(n)); }
void* operator new[](std::size_t n) { return or_throw(raw(n)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return raw(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return raw(n); }
void* operator new(std::size_t n, std::align_val_t a) { return or_throw(raw_aligned(n, a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return or_throw(raw_aligned(n, a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return raw_aligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return raw_aligned(n, a);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { release_aligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release_aligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release_aligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release_aligned(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  release_aligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  release_aligned(p);
}
