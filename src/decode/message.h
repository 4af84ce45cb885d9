#pragma once
// A short message about one input, built without the heap: the failure path
// runs as often as the input is bad.

#include <array>
#include <cstddef>
#include <string_view>

struct Message {
  std::array<char, 128> text{};
  std::size_t size = 0;
  std::string_view view() const { return {text.data(), size}; }
};

[[gnu::format(printf, 1, 2)]] Message makeMessage(const char* format, ...);
