#include "decode/message.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

Message makeMessage(const char* format, ...) {
  Message m;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(m.text.data(), m.text.size(), format, args);
  va_end(args);
  m.size = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), m.text.size() - 1);
  return m;
}
