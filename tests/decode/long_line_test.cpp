// The real orlim-decode fed a 100 MB line through a pipe: the line is
// refused and passed over, the token after it still decoded, and the
// process never holds the line: its peak memory, as the kernel accounts it
// for the child, stays far below the line's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "token/token.h"

namespace {

// Far below the line's 100 MB and above the few MiB the binary needs.
constexpr long kPeakMemoryCeilingKiB = 16 * 1024;
constexpr std::size_t kLineBytes = 100u * 1000u * 1000u;

std::string sampleToken() {
  TokenFields fields;
  fields.version = kTokenRecordVersion;
  fields.time = 1796861430;
  std::copy_n("0A1B2C3D", 8, fields.legacy.begin());
  std::array<std::uint8_t, kTokenRecordSize> record{};
  packTokenRecord(record, fields);
  std::array<char, kTokenKeyBufferSize> key{};
  buildTokenKey(key);
  std::array<std::uint8_t, kTokenCipherRoom> sealed{};
  encryptWithKey(record.data(), static_cast<int>(record.size()), key.data(), sealed.data());
  std::string text;
  for (std::size_t i = 0; i < kTokenRecordSize; ++i) {
    text += "0123456789ABCDEF"[sealed[i] >> 4];
    text += "0123456789ABCDEF"[sealed[i] & 0xF];
  }
  return text;
}

// Starts the decoder with the given arguments (under a cross build's
// emulator, given as words separated by spaces), its standard input from
// in and both outputs to out.
pid_t startDecoder(std::vector<std::string> args, int in, int out) {
  std::string emulator = ORLIM_TEST_EMULATOR;
  std::vector<std::string> words;
  for (char* word = std::strtok(emulator.data(), " "); word != nullptr;
       word = std::strtok(nullptr, " "))
    words.emplace_back(word);
  words.emplace_back(ORLIM_DECODE);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

// The kernel's figure counts what the decoder needs before it reads a byte:
// the emulator under a cross build, the sanitizers' runtime in their build,
// this test process as it was when forked. What a run that reads nothing
// costs (the decoder's --version) is allowed on top of the ceiling.
long baselinePeakMemoryKiB() {
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t child = startDecoder({"--version"}, null, null);
  close(null);
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return 0;
  return usage.ru_maxrss;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size != 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

TEST(LongLine, PassedOverInBoundedMemory) {
  signal(SIGPIPE, SIG_IGN);
  int input[2];
  int output[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
  const long allowance = baselinePeakMemoryKiB();
  const pid_t child = startDecoder({"--json"}, input[0], output[1]);
  ASSERT_GE(child, 0);
  close(input[0]);
  close(output[1]);

  // The whole output is small (two records and a message) and fits in the
  // pipe, so writing all input before reading any can't stall.
  const std::string token = sampleToken();
  std::vector<char> block(1u << 20, 'A');
  bool written = true;
  for (std::size_t sent = 0; written && sent < kLineBytes; sent += block.size())
    written = writeAll(input[1], block.data(), block.size());
  written = written && writeAll(input[1], "\n", 1) &&
            writeAll(input[1], (token + "\n").data(), token.size() + 1);
  close(input[1]);

  std::string got;
  char buffer[4096];
  ssize_t n;
  while ((n = read(output[0], buffer, sizeof buffer)) > 0)
    got.append(buffer, static_cast<std::size_t>(n));
  close(output[0]);
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);

  EXPECT_TRUE(written);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(got.find("\"error\": \"longer than 1024 bytes\", \"line\": 1}\n"), std::string::npos)
      << got.substr(0, 200);
  EXPECT_NE(got.find("orlim-decode: line 1: longer than 1024 bytes\n"), std::string::npos);
  EXPECT_NE(got.find("{\"token\": \"" + token + "\""), std::string::npos);
  // The figure also counts this test process as it was when forked (a few
  // MiB), which only makes the check stricter.
  RecordProperty("peak_memory_kib", std::to_string(usage.ru_maxrss));
  EXPECT_LT(usage.ru_maxrss, kPeakMemoryCeilingKiB + allowance) << "peak memory in KiB";
}

}  // namespace
