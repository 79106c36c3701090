// Calls a function through a hand-written trampoline and reports how many
// bytes of arguments the callee removed from the stack. A compiler-generated
// call would hide a wrong convention by restoring ESP from EBP afterwards.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" uint32_t __cdecl kestrune_call_measuring_esp(const void* fn,
                                                        const void* args,
                                                        uint32_t arg_bytes,
                                                        uint32_t* eax_out);

// Lays out arguments as a stdcall caller pushes them: in order, each on a
// 4-byte boundary (a double takes 8 bytes, an int32 or pointer 4).
class ArgBlock {
 public:
  template <class T>
  ArgBlock& add(T value) {
    static_assert(sizeof(T) % 4 == 0);
    __builtin_memcpy(bytes_ + size_, &value, sizeof(T));
    size_ += sizeof(T);
    return *this;
  }
  const void* data() const { return bytes_; }
  uint32_t size() const { return size_; }

 private:
  alignas(8) unsigned char bytes_[128] = {};
  uint32_t size_ = 0;
};

struct StackCall {
  uint32_t removed;  // bytes the callee popped
  uint32_t eax;      // its 32-bit result
};

inline StackCall call_measuring_esp(const void* fn, const ArgBlock& args) {
  StackCall r{};
  r.removed = kestrune_call_measuring_esp(fn, args.data(), args.size(), &r.eax);
  return r;
}
