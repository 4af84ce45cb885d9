// Runs a fuzz target without libFuzzer, so that any compiler can build it
// and the test suite can give every target a short, repeatable run: each
// seed file of a corpus directory, then a fixed number of inputs mutated
// from those seeds by a seeded pseudo-random generator. The same arguments
// always run the same inputs.
//
//   driver CORPUS_DIR [COUNT]

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/owner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Input = std::vector<std::uint8_t>;

class Random {
 public:
  std::uint64_t next() {
    // xorshift64*
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

std::vector<Input> readSeeds(const char* directory) {
  std::vector<std::string> names;
  if (const UniqueDir dir{opendir(directory)}) {
    while (const dirent* entry = readdir(dir.get()))
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  std::vector<Input> seeds;
  for (const std::string& name : names) {
    std::ifstream in(std::string(directory) + "/" + name, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

// Tokens the parsers look for, so mutations reach past the first compare.
const char* const kTokens[] = {"_SM3_", "_SM_", "_DMI_",    "SMBIOS3=", "SMBIOS=", "0x",
                               "\n",    "-",    "\x7f\x04", "\x01\x1b", "\0\0"};

void mutate(Input& input, Random& random) {
  const std::size_t steps = 1 + random.below(6);
  for (std::size_t s = 0; s < steps; ++s) {
    const std::size_t at = random.below(input.size() + 1);
    switch (random.below(7)) {
      case 0:  // flip a bit
        if (!input.empty())
          input[random.below(input.size())] ^= static_cast<std::uint8_t>(1u << random.below(8));
        break;
      case 1:  // set a byte
        if (!input.empty())
          input[random.below(input.size())] = static_cast<std::uint8_t>(random.next());
        break;
      case 2: {  // insert a token
        const char* token = kTokens[random.below(std::size(kTokens))];
        const std::size_t n = std::max<std::size_t>(std::strlen(token), token[0] == '\0' ? 2 : 0);
        input.insert(input.begin() + static_cast<long>(at), token, token + n);
        break;
      }
      case 3:  // cut the end off
        input.resize(random.below(input.size() + 1));
        break;
      case 4: {  // erase a run
        const std::size_t n =
            std::min(random.below(16) + 1, input.size() - std::min(at, input.size()));
        input.erase(input.begin() + static_cast<long>(at),
                    input.begin() + static_cast<long>(at + n));
        break;
      }
      case 5: {  // store a small or extreme 32-bit value
        static const std::uint32_t kValues[] = {0,  1,  4,    24,      25,      31,
                                                32, 33, 0xFF, 0x10000, 0xF0000, 0xFFFFFFFF};
        const std::uint32_t value = kValues[random.below(std::size(kValues))];
        for (std::size_t i = 0; i < 4 && at + i < input.size(); ++i)
          input[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        break;
      }
      default: {  // random bytes
        const std::size_t n = random.below(32);
        for (std::size_t i = 0; i < n; ++i)
          input.insert(input.begin() + static_cast<long>(at),
                       static_cast<std::uint8_t>(random.next()));
        break;
      }
    }
  }
}

void run(const Input& input) { LLVMFuzzerTestOneInput(input.data(), input.size()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [COUNT]\n", argv[0]);
    return 2;
  }
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;
  std::vector<Input> seeds = readSeeds(argv[1]);
  if (seeds.empty()) {
    std::fprintf(stderr, "no seeds in %s\n", argv[1]);
    return 1;
  }
  for (const Input& seed : seeds) run(seed);
  run(Input{});

  Random random;
  for (long i = 0; i < count; ++i) {
    Input input = seeds[random.below(seeds.size())];
    mutate(input, random);
    run(input);
  }
  std::printf("%zu seeds and %ld mutated inputs ran\n", seeds.size(), count);
  return 0;
}
