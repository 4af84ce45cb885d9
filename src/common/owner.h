#pragma once
// One way to own what a C interface hands out: a unique_ptr whose deleter
// calls the interface's own release function, so no path out of a function
// can leak it. Descriptors, which are not pointers, have UniqueFd.

#include <dirent.h>
#include <ifaddrs.h>

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
