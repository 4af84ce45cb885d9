#pragma once
// Clears secrets before their memory is freed or goes out of scope. The
// stores are volatile, so the compiler keeps them even though nothing reads
// the memory afterwards. Words where the memory is aligned, bytes at the
// edges: a cipher context is cleared in a few hundred stores, where a byte
// loop would take thousands and glibc's memset clears blocks of that size
// with a string instruction that costs one step per byte.

#include <cstddef>
#include <cstdint>

inline void wipe(void* memory, std::size_t size) {
  using Word = std::uint64_t __attribute__((may_alias));
  auto* bytes = static_cast<volatile unsigned char*>(memory);
  std::size_t i = 0;
  for (; i < size && reinterpret_cast<std::uintptr_t>(bytes + i) % sizeof(Word) != 0; ++i)
    bytes[i] = 0;
  auto* words = reinterpret_cast<volatile Word*>(bytes + i);
  const std::size_t wordCount = (size - i) / sizeof(Word);
#pragma GCC unroll 8
  for (std::size_t w = 0; w < wordCount; ++w) words[w] = 0;
  for (i += wordCount * sizeof(Word); i < size; ++i) bytes[i] = 0;
}

// Wipes an object when the scope it lives in ends, on every path out of it
// (a secret built early is then never left behind by an early return).
template <typename T>
class WipeOnExit {
 public:
  explicit WipeOnExit(T& secret) : secret_(secret) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { wipe(&secret_, sizeof secret_); }

 private:
  T& secret_;
};
