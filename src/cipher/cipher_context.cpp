#include "cipher/cipher_context.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "cipher/twofish.h"
#include "common/wipe.h"

namespace {

using Block = std::array<std::uint8_t, 16>;
constexpr std::size_t kBlockSize = 16;

// Used when the caller gives no key at all.
constexpr std::array<std::uint8_t, 32> kDefaultKey = {
    'P', 'l', 'a', 'i', 'n', 'D', 'e', 'f', 'a', 'u', 'l', 't', 'K', 'e', 'y', 'O',
    'f', 'T', 'h', 'e', 'B', 'l', 'o', 'c', 'k', 'C', 'i', 'p', 'h', 'e', 'r', '!'};

// Keys are staged in a buffer of this size; bytes past it could never reach
// keyBytes anyway, since only the first 32 take part.
constexpr std::size_t kKeyStagingSize = 72;

// In two 64-bit halves; byte order does not matter to XOR.
void xorBlock(Block& into, const Block& with) {
  for (std::size_t half = 0; half < kBlockSize; half += 8) {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::memcpy(&a, into.data() + half, 8);
    std::memcpy(&b, with.data() + half, 8);
    a ^= b;
    std::memcpy(into.data() + half, &a, 8);
  }
}

void chainReset(CipherContext& context) {
  context.pending = 0;
  context.lastIn.fill(0);
}

void queueWrite(const std::uint8_t* bytes, std::size_t n, CipherContext& context) {
  std::memcpy(context.outCursor, bytes, n);
  context.outCursor += n;
}

// Holds back the newest block so that a final partial block can still swap
// places with it.
void queuePush(const Block& inBlock, const Block& outBlock, CipherContext& context) {
  if (context.pending != 0) queueWrite(context.lastOut.data(), kBlockSize, context);
  context.priorIn = context.lastIn;
  context.lastIn = inBlock;
  context.lastOut = outBlock;
  context.pending = 1;
}

struct QueuedBlocks {
  Block in;
  Block out;
};

QueuedBlocks queuePop(CipherContext& context) {
  context.pending = 0;
  return {context.lastIn, context.lastOut};
}

// A whole block at the step's own offset in input and output; the input is
// read before anything is written, so a step may run in place.
void chainFullStep(const std::uint8_t* input, std::uint8_t* output, int decrypt,
                   CipherContext& context) {
  Block in;
  std::memcpy(in.data(), input, kBlockSize);
  Block out;
  if (decrypt == 0) {
    // CBC: the plaintext is masked with the previous ciphertext block.
    if (context.pending != 0) xorBlock(in, context.lastOut);
    twofishProcessBlock(in, out, 0, context);
  } else {
    twofishProcessBlock(in, out, 1, context);
    if (context.pending != 0) xorBlock(out, context.lastIn);
  }
  std::memcpy(output, out.data(), kBlockSize);
  queuePush(in, out, context);
}

// The final partial block (n = 1..15), by ciphertext stealing: the last two
// blocks leave in swapped order, the earlier one cut to n bytes. Out of line:
// it runs once per buffer, and without it the per-block path inlines.
[[gnu::noinline]] void chainFinalStep(const std::uint8_t* input, std::uint8_t* output,
                                      std::size_t n, int decrypt, CipherContext& context) {
  Block tail{};
  std::memcpy(tail.data(), input, n);
  if (decrypt == 0) {
    const Block previous = queuePop(context).out;
    Block y = tail;
    xorBlock(y, previous);
    Block last;
    twofishProcessBlock(y, last, 0, context);
    std::memcpy(output, last.data(), kBlockSize);  // whole block, past the input's end
    queuePush(y, last, context);
    queueWrite(context.lastOut.data(), kBlockSize, context);
    queueWrite(previous.data(), n, context);
  } else {
    const Block lastCipher = queuePop(context).in;
    Block t;
    twofishProcessBlock(lastCipher, t, 1, context);
    Block plain{};
    for (std::size_t i = 0; i < n; ++i) plain[i] = tail[i] ^ t[i];
    std::memcpy(output, plain.data(), n);
    Block z = t;
    std::memcpy(z.data(), tail.data(), n);  // the stolen block, rebuilt
    Block p;
    twofishProcessBlock(z, p, 1, context);
    xorBlock(p, context.priorIn);
    queuePush(z, p, context);
    queueWrite(context.lastOut.data(), kBlockSize, context);
    queueWrite(plain.data(), n, context);
  }
  context.pending = 0;
}

// One block (n == 16) or the final partial block (n = 1..15) at input and
// output, which point at the step's own offset.
void chainStep(const std::uint8_t* input, std::uint8_t* output, std::size_t n, int decrypt,
               CipherContext& context) {
  if (n == kBlockSize)
    chainFullStep(input, output, decrypt, context);
  else
    chainFinalStep(input, output, n, decrypt, context);
}

std::uint32_t chainShortBuffer(const std::uint8_t* input, std::uint8_t* output,
                               std::uint32_t length, int decrypt, CipherContext& context) {
  std::memcpy(context.lastIn.data(), input, length);
  twofishProcessBlock(context.lastIn, context.lastOut, decrypt, context);
  std::memcpy(output, context.lastOut.data(), kBlockSize);
  return kBlockSize;
}

std::uint32_t chainRun(const std::uint8_t* input, std::uint8_t* output, std::uint32_t length,
                       int decrypt, CipherContext& context) {
  const std::size_t fullSteps = (std::size_t{length} - 17) / kBlockSize + 1;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < fullSteps; ++i, offset += kBlockSize)
    chainStep(input + offset, output + offset, kBlockSize, decrypt, context);
  chainStep(input + offset, output + offset, length - offset, decrypt, context);
  if (context.pending != 0) queueWrite(context.lastOut.data(), kBlockSize, context);
  return length;
}

std::uint32_t chainDispatch(const std::uint8_t* input, std::uint8_t* output, std::uint32_t length,
                            int decrypt, CipherContext* context) {
  if (input == nullptr || output == nullptr || context == nullptr || length == 0) return 0;
  if (length <= kBlockSize) return chainShortBuffer(input, output, length, decrypt, *context);
  return chainRun(input, output, length, decrypt, *context);
}

std::uint32_t runBuffer(const std::uint8_t* input, std::uint8_t* output, std::uint32_t length,
                        int decrypt, CipherContext* context) {
  if (context != nullptr) {
    chainReset(*context);
    context->outCursor = output;
  }
  return chainDispatch(input, output, length, decrypt, context);
}

}  // namespace

CipherContext* cipherContextCreate(const void* key, std::uint32_t keyLength) {
  auto* context = static_cast<CipherContext*>(std::malloc(sizeof(CipherContext)));
  if (context == nullptr) return nullptr;

  const std::uint8_t* source = kDefaultKey.data();
  std::uint32_t sourceLength = kDefaultKey.size();
  if (keyLength != 0) {
    source = static_cast<const std::uint8_t*>(key);
    sourceLength = keyLength;
  }
  std::array<std::uint8_t, kKeyStagingSize> staged{};
  std::memcpy(staged.data(), source, std::min<std::size_t>(sourceLength, staged.size()));
  // Shorter keys repeat; only the first 32 bytes of longer ones take part.
  std::uint32_t i = 0;
  for (std::uint8_t& byte : context->keyBytes) {
    byte = staged[i];
    i = (i + 1 == sourceLength) ? 0 : i + 1;
  }
  wipe(staged.data(), staged.size());

  if (mdsTablesReady == 0) twofishBuildMdsTables();
  twofishExpandKey(*context);
  chainReset(*context);
  context->outCursor = nullptr;
  return context;
}

std::uint32_t cipherContextEncrypt(const std::uint8_t* input, std::uint8_t* output,
                                   std::uint32_t length, CipherContext* context) {
  return runBuffer(input, output, length, 0, context);
}

std::uint32_t cipherContextDecrypt(const std::uint8_t* input, std::uint8_t* output,
                                   std::uint32_t length, CipherContext* context) {
  return runBuffer(input, output, length, 1, context);
}

std::uint32_t cipherContextDecryptStolen(const std::uint8_t* input, std::uint8_t* output,
                                         std::uint32_t length, const CipherContext* context) {
  if (input == nullptr || output == nullptr || context == nullptr || length <= kBlockSize ||
      length >= 2 * kBlockSize)
    return 0;
  const std::size_t n = length - kBlockSize;
  // The first block on the wire is the last one sealed: D(C0) is the padded
  // tail XOR the earlier block's ciphertext, whose first n bytes are the
  // stolen ones that follow C0. The earlier block is then rebuilt and opened.
  Block first;
  std::memcpy(first.data(), input, kBlockSize);
  Block t;
  twofishProcessBlock(first, t, 1, *context);
  Block rebuilt = t;
  std::memcpy(rebuilt.data(), input + kBlockSize, n);
  Block head;
  twofishProcessBlock(rebuilt, head, 1, *context);
  for (std::size_t i = 0; i < n; ++i) output[kBlockSize + i] = rebuilt[i] ^ t[i];
  std::memcpy(output, head.data(), kBlockSize);
  return length;
}

void cipherContextRelease(CipherContext* context) {
  if (context == nullptr) return;
  // Key material must not outlive the context in freed heap memory.
  wipe(context, sizeof *context);
  std::free(context);
}
