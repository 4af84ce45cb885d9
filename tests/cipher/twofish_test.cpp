// The block cipher on its own: published vectors, agreement with nettle's
// independent Twofish, in-place processing, the keyed S-boxes against h and
// the shared MDS tables.
#include "cipher/twofish.h"

#include <gtest/gtest.h>
#include <nettle/twofish.h>

#include <bit>

#include "cipher/cipher_test_util.h"

namespace {

static_assert(byteOf(0x44332211u, 0) == 0x11 && byteOf(0x44332211u, 4) == 0x11);
static_assert(byteOf(0x44332211u, 3) == 0x44 && byteOf(0x44332211u, 7) == 0x44);

Block process(const Block& in, int decrypt, const CipherContext& context) {
  Block out{};
  twofishProcessBlock(in, out, decrypt, context);
  return out;
}

struct PublishedVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// 256-bit vectors from the Twofish paper's test data.
const PublishedVector kPublishedVectors[] = {
    {"0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000", "57FF739D4DC92C1BD7FC01700CC8216F"},
    {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF",
     "00000000000000000000000000000000", "37527BE0052334B89F0CFCCAE87CFA20"},
};

TEST(TwofishBlock, ReproducesPublishedVectorsBothWays) {
  for (const PublishedVector& v : kPublishedVectors) {
    SCOPED_TRACE(v.key);
    const CipherContextOwner context = contextWithKey(arrayFromHex<32>(v.key));
    ASSERT_NE(context, nullptr);
    const Block plain = arrayFromHex<16>(v.plain);
    const Block cipher = arrayFromHex<16>(v.cipher);
    EXPECT_EQ(process(plain, 0, *context), cipher);
    EXPECT_EQ(process(cipher, 1, *context), plain);
  }
}

// Also checks that processing in place gives what processing into another
// block gives.
TEST(TwofishBlock, AgreesWithNettleOnRandomKeysAndBlocks) {
  std::mt19937 rng(0x2f15u);
  for (int run = 0; run < 300; ++run) {
    Key key;
    Block block;
    fillRandom(key, rng);
    fillRandom(block, rng);
    const CipherContextOwner context = contextWithKey(key);
    ASSERT_NE(context, nullptr);
    twofish_ctx nettle;
    twofish256_set_key(&nettle, key.data());
    for (int decrypt = 0; decrypt < 2; ++decrypt) {
      SCOPED_TRACE(testing::Message() << "run " << run << " decrypt " << decrypt);
      Block theirs{};
      (decrypt != 0 ? twofish_decrypt : twofish_encrypt)(&nettle, block.size(), theirs.data(),
                                                         block.data());
      EXPECT_EQ(process(block, decrypt, *context), theirs);
      Block inPlace = block;
      twofishProcessBlock(inPlace, inPlace, decrypt, *context);
      EXPECT_EQ(inPlace, theirs);
    }
  }
}

// The keyed S-boxes are h with the S-box key folded in lane by lane, so g
// must agree with h(X, (SK0, SK1, SK2, SK3)) for any X.
TEST(TwofishKeySchedule, KeyedSboxesEvaluateHWithTheSboxKey) {
  std::mt19937 rng(0x6a09u);
  Key key;
  fillRandom(key, rng);
  const CipherContextOwner context = contextWithKey(key);
  ASSERT_NE(context, nullptr);
  const std::span<const std::uint8_t, 32> bytes(key);
  std::array<std::uint32_t, 4> sboxKey{};
  for (std::size_t i = 0; i < 4; ++i)
    sboxKey[3 - i] = twofishRsEncode(le::load32(bytes, 8 * i), le::load32(bytes, 8 * i + 4));
  for (int run = 0; run < 1000; ++run) {
    const auto x = static_cast<std::uint32_t>(rng());
    ASSERT_EQ(twofishG(*context, x), twofishH(x, sboxKey)) << std::hex << x;
    ASSERT_EQ(twofishGRotated(*context, x), twofishH(std::rotl(x, 8), sboxKey)) << std::hex << x;
  }
}

TEST(TwofishTables, LaterContextsReuseThemAndAgreeWithTheFirst) {
  const Key key =
      arrayFromHex<32>("00112233445566778899AABBCCDDEEFF0123456789ABCDEFFEDCBA9876543210");
  const CipherContextOwner first = contextWithKey(key);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(mdsTablesReady, 1u);

  // A rebuild would overwrite the mark.
  const std::uint32_t original = mdsTables[3][255];
  mdsTables[3][255] = ~original;
  const CipherContextOwner marked = contextWithKey(Key{});
  const std::uint32_t afterCreate = mdsTables[3][255];
  mdsTables[3][255] = original;
  ASSERT_NE(marked, nullptr);
  EXPECT_EQ(afterCreate, ~original) << "tables were rebuilt";

  const CipherContextOwner second = contextWithKey(key);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(mdsTablesReady, 1u);
  EXPECT_EQ(second->subkeys, first->subkeys);
  EXPECT_TRUE(
      std::equal(std::begin(second->sboxes), std::end(second->sboxes), std::begin(first->sboxes)));
  const Block block = arrayFromHex<16>("000102030405060708090A0B0C0D0E0F");
  EXPECT_EQ(process(block, 0, *second), process(block, 0, *first));
}

}  // namespace
