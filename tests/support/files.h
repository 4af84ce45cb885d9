#pragma once
// Whole files into memory for the tests. A copy through istreambuf_iterator
// goes a character at a time, which under qemu-user costs seconds for a
// one-megabyte image; the stream buffer's bulk copy does not.

#include <fstream>
#include <sstream>
#include <string>

namespace testfiles {

// The file's bytes; false where it can't be opened.
inline bool readWholeFile(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream copy;
  copy << in.rdbuf();
  contents = std::move(copy).str();
  return true;
}

}  // namespace testfiles
