// The buffer envelope: result counts, the whole output area against layouts
// built from single-block calls, key handling and round trips.
#include "cipher/cipher_context.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cipher/cipher_test_util.h"
#include "cipher/twofish.h"

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

// What the caller must provide: whole blocks, at least one.
std::size_t areaSize(std::size_t length) {
  return std::max<std::size_t>(16, (length + 15) / 16 * 16);
}

Block encryptBlock(const Block& in, const CipherContext& context) {
  Block out{};
  twofishProcessBlock(in, out, 0, context);
  return out;
}

Bytes patternBytes(std::size_t n, unsigned seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + seed);
  return bytes;
}

// The output area the envelope must leave: CBC with an all-zero initial
// vector over zero-filled blocks; when the last block is partial its
// ciphertext trades places with the one before, which is cut to the partial
// length (CBC-CS2), and the rest of the last block fills the area.
Bytes expectedArea(const Bytes& input, const CipherContext& context) {
  const std::size_t length = input.size();
  const std::size_t blocks = (length + 15) / 16;
  std::vector<Block> c;
  Block chain{};
  for (std::size_t i = 0; i < blocks; ++i) {
    Block p{};
    std::copy(input.begin() + static_cast<std::ptrdiff_t>(16 * i),
              input.begin() + static_cast<std::ptrdiff_t>(std::min(length, 16 * i + 16)),
              p.begin());
    for (std::size_t j = 0; j < 16; ++j) p[j] ^= chain[j];
    chain = encryptBlock(p, context);
    c.push_back(chain);
  }
  Bytes area;
  auto append = [&area](const Block& b, std::size_t from, std::size_t to) {
    area.insert(area.end(), b.begin() + static_cast<std::ptrdiff_t>(from),
                b.begin() + static_cast<std::ptrdiff_t>(to));
  };
  const std::size_t d = length - 16 * (blocks - 1);
  if (blocks == 1 || d == 16) {
    for (const Block& b : c) append(b, 0, 16);
    return area;
  }
  for (std::size_t i = 0; i + 2 < blocks; ++i) append(c[i], 0, 16);
  append(c[blocks - 1], 0, 16);
  append(c[blocks - 2], 0, d);
  append(c[blocks - 1], d, 16);
  return area;
}

class CipherEnvelope : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(context, nullptr); }

  CipherContextOwner context = contextWithKey(
      arrayFromHex<32>("9F589F5CF6122C32B6BFEC2F2AE8C35A000102030405060708090A0B0C0D0E0F"));
};

TEST_F(CipherEnvelope, NullArgumentsAndZeroLengthWriteNothing) {
  struct Case {
    const char* what;
    bool input;
    bool output;
    bool context;
    std::uint32_t length;
  };
  const Case cases[] = {
      {"null input", false, true, true, 29},
      {"null output", true, false, true, 29},
      {"null context", true, true, false, 29},
      {"zero length", true, true, true, 0},
  };
  const Bytes input = patternBytes(32, 1);
  for (const Case& c : cases) {
    for (auto* operation : {cipherContextEncrypt, cipherContextDecrypt}) {
      SCOPED_TRACE(c.what);
      Bytes out(32, kUntouched);
      EXPECT_EQ(operation(c.input ? input.data() : nullptr, c.output ? out.data() : nullptr,
                          c.length, c.context ? context.get() : nullptr),
                0u);
      EXPECT_EQ(out, Bytes(32, kUntouched));
    }
  }
}

// One context serves every case, so a chaining state that leaked from one
// operation into the next would show as well.
TEST_F(CipherEnvelope, OutputAreaMatchesLayoutFromSingleBlocks) {
  for (std::size_t length : {1u, 5u, 15u, 16u, 17u, 29u, 31u, 32u, 33u, 100u}) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    const Bytes input = patternBytes(length, 11);
    const std::size_t area = areaSize(length);
    const auto count = static_cast<std::uint32_t>(std::max<std::size_t>(length, 16));

    Bytes out(area + 16, kUntouched);
    ASSERT_EQ(cipherContextEncrypt(input.data(), out.data(), static_cast<std::uint32_t>(length),
                                   context.get()),
              count);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(area)),
              expectedArea(input, *context));
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(area), out.end()),
              Bytes(16, kUntouched));

    // A short input comes back zero-filled to a whole block.
    Bytes expectedBack = input;
    expectedBack.resize(count, 0);
    Bytes back(area + 16, kUntouched);
    ASSERT_EQ(cipherContextDecrypt(out.data(), back.data(), count, context.get()), count);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + count), expectedBack);
    EXPECT_EQ(Bytes(back.begin() + static_cast<std::ptrdiff_t>(area), back.end()),
              Bytes(16, kUntouched));
  }
}

TEST_F(CipherEnvelope, DecryptionInvertsEncryptionAlsoInPlace) {
  std::mt19937 rng(0x5eedu);
  for (std::uint32_t length = 17; length <= 300; ++length) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    Bytes input(length);
    fillRandom(input, rng);
    Bytes out(areaSize(length));
    ASSERT_EQ(cipherContextEncrypt(input.data(), out.data(), length, context.get()), length);
    Bytes back(areaSize(length));
    ASSERT_EQ(cipherContextDecrypt(out.data(), back.data(), length, context.get()), length);
    EXPECT_TRUE(std::equal(input.begin(), input.end(), back.begin()));

    Bytes buffer = input;
    buffer.resize(areaSize(length));
    cipherContextEncrypt(buffer.data(), buffer.data(), length, context.get());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + length, out.begin()));
    cipherContextDecrypt(buffer.data(), buffer.data(), length, context.get());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), buffer.begin()));
  }
}

// Shorter keys repeat, longer ones count with their first 32 bytes, and no
// key at all means the default key.
TEST(CipherContextKey, LengthsMapToTheirThirtyTwoByteKey) {
  const Key defaultKey = {'P', 'l', 'a', 'i', 'n', 'D', 'e', 'f', 'a', 'u', 'l',
                          't', 'K', 'e', 'y', 'O', 'f', 'T', 'h', 'e', 'B', 'l',
                          'o', 'c', 'k', 'C', 'i', 'p', 'h', 'e', 'r', '!'};
  const Bytes sample = patternBytes(29, 3);
  for (std::uint32_t length : {0u, 1u, 14u, 32u, 40u, 100u}) {
    SCOPED_TRACE(testing::Message() << "key length " << length);
    const Bytes key = patternBytes(std::max(length, 1u), 0x41);
    Key expected = defaultKey;
    if (length != 0)
      for (std::size_t j = 0; j < expected.size(); ++j) expected[j] = key[j % length];

    const CipherContextOwner context(cipherContextCreate(key.data(), length));
    const CipherContextOwner reference = contextWithKey(expected);
    ASSERT_NE(context, nullptr);
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(context->keyBytes, expected);
    std::array<std::uint8_t, 32> out{};
    std::array<std::uint8_t, 32> referenceOut{};
    cipherContextEncrypt(sample.data(), out.data(), 29, context.get());
    cipherContextEncrypt(sample.data(), referenceOut.data(), 29, reference.get());
    EXPECT_EQ(out, referenceOut);
  }
}

// The token record case, with a result taken from an independent run.
TEST(CipherContextToken, RecordGivesLastBlockThenFirstBlockCut) {
  const CipherContextOwner context(cipherContextCreate(nullptr, 0));
  ASSERT_NE(context, nullptr);
  Bytes record(29);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i);
  std::array<std::uint8_t, 32> out;
  out.fill(kUntouched);
  ASSERT_EQ(cipherContextEncrypt(record.data(), out.data(), 29, context.get()), 29u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 29),
            fromHex("CA32EAF9604ADAD240C752287ED7A783DD360EE9E5987F0E852FE5BE93"));

  Block p1{};
  Block p2{};
  std::copy(record.begin(), record.begin() + 16, p1.begin());
  std::copy(record.begin() + 16, record.end(), p2.begin());
  const Block c1 = encryptBlock(p1, *context);
  for (std::size_t j = 0; j < 16; ++j) p2[j] ^= c1[j];
  const Block c2 = encryptBlock(p2, *context);
  // c2, then c1 cut to 13 bytes; the area's last 3 bytes hold the rest of c2.
  Bytes expected(32);
  std::copy(c2.begin(), c2.end(), expected.begin());
  std::copy(c1.begin(), c1.begin() + 13, expected.begin() + 16);
  std::copy(c2.begin() + 13, c2.end(), expected.begin() + 29);
  EXPECT_EQ(Bytes(out.begin(), out.end()), expected);
}

}  // namespace
