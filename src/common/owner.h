#pragma once
// One way to own what a C interface hands out: a unique_ptr whose deleter
// calls the interface's own release function, so no path out of a function
// can leak it. Descriptors, which are not pointers, have UniqueFd.

#include <dirent.h>
#include <ifaddrs.h>
#include <sys/mman.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Calls Release on the pointer (never on null: unique_ptr doesn't).
template <auto Release>
struct CallRelease {
  template <typename T>
  void operator()(T* pointer) const noexcept {
    Release(pointer);
  }
};

template <typename T, auto Release>
using UniqueOwner = std::unique_ptr<T, CallRelease<Release>>;

using UniqueFile = UniqueOwner<std::FILE, &::fclose>;
using UniqueIfAddrs = UniqueOwner<struct ifaddrs, &::freeifaddrs>;
using UniqueDir = UniqueOwner<DIR, &::closedir>;
// Memory from malloc and its family; T may be an array type.
template <typename T>
using UniqueMalloc = UniqueOwner<T, &::free>;

// A malloc'd array of count malloc'd items (scandir's listing, a list of
// names): each item, then the array. The count lives in the deleter, so an
// owner that grows the array updates get_deleter().count.
template <typename T>
struct FreeEach {
  std::size_t count = 0;
  void operator()(T** items) const noexcept {
    for (std::size_t i = 0; i < count; ++i) std::free(items[i]);
    std::free(items);
  }
};
template <typename T>
using UniqueMallocArray = std::unique_ptr<T*, FreeEach<T>>;

// A read-only mapping: unmapping needs the length, kept in the deleter.
struct Unmap {
  std::size_t length = 0;
  void operator()(const std::uint8_t* address) const noexcept {
    ::munmap(const_cast<std::uint8_t*>(address), length);
  }
};
using UniqueMapping = std::unique_ptr<const std::uint8_t, Unmap>;

// A shared read-only mapping of length bytes at offset of fd, or null.
inline UniqueMapping mapReadOnly(int fd, std::size_t length, off_t offset) {
  void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, offset);
  if (address == MAP_FAILED) return UniqueMapping(nullptr, Unmap{});
  return UniqueMapping(static_cast<const std::uint8_t*>(address), Unmap{length});
}
