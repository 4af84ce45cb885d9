// Context creation and release at the heap: this binary is linked with
// --wrap=malloc and --wrap=free, so the cipher's calls come through here
// first, where memory can run out and a released block can be looked at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "cipher/cipher_context.h"
#include "cipher/twofish.h"

extern "C" void* __real_malloc(std::size_t size);
extern "C" void __real_free(void* block);

namespace {

bool failNextMalloc = false;
const void* watchedBlock = nullptr;
CipherContext releasedContext;

}  // namespace

extern "C" void* __wrap_malloc(std::size_t size) {
  if (failNextMalloc) {
    failNextMalloc = false;
    return nullptr;
  }
  return __real_malloc(size);
}

extern "C" void __wrap_free(void* block) {
  if (block != nullptr && block == watchedBlock) {
    std::memcpy(&releasedContext, block, sizeof releasedContext);
    watchedBlock = nullptr;
  }
  __real_free(block);
}

namespace {

template <typename Array>
bool allZero(const Array& array) {
  return std::all_of(std::begin(array), std::end(array),
                     [](const auto& v) { return v == std::remove_cvref_t<decltype(v)>{}; });
}

// Exit status 0 when creation under exhausted memory gives null without
// building the tables, and a later creation builds them; which step failed
// otherwise.
[[noreturn]] void createWithoutMemoryThenWith() {
  if (mdsTablesReady != 0) std::_Exit(2);  // a context was created before
  failNextMalloc = true;
  if (cipherContextCreate("key", 3) != nullptr) std::_Exit(3);
  failNextMalloc = false;
  if (mdsTablesReady != 0) std::_Exit(4);
  const CipherContextOwner context(cipherContextCreate("key", 3));
  if (context == nullptr) std::_Exit(5);
  if (mdsTablesReady != 1) std::_Exit(6);
  std::_Exit(0);
}

// Needs a process in which no context was ever created, whatever order the
// tests run in: the "threadsafe" death-test style runs it in a freshly
// started copy of this binary.
TEST(CipherContextHeap, CreateGivesNullWithoutBuildingTablesWhenMemoryIsExhausted) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(createWithoutMemoryThenWith(), testing::ExitedWithCode(0), "");
}

TEST(CipherContextHeap, ReleaseWipesKeyMaterialBeforeFreeing) {
  CipherContext* context = cipherContextCreate("key", 3);
  ASSERT_NE(context, nullptr);
  std::uint8_t record[29] = {1, 2, 3};
  std::uint8_t out[32];
  ASSERT_EQ(cipherContextDecrypt(record, out, 29, context),
            29u);  // fills all three chaining blocks

  std::memset(&releasedContext, 0xA5, sizeof releasedContext);
  watchedBlock = context;
  cipherContextRelease(context);
  ASSERT_EQ(watchedBlock, nullptr) << "the context was not freed";
  EXPECT_TRUE(allZero(releasedContext.sboxes[0]) && allZero(releasedContext.sboxes[1]));
  EXPECT_TRUE(allZero(releasedContext.subkeys));
  EXPECT_TRUE(allZero(releasedContext.keyBytes));
  EXPECT_TRUE(allZero(releasedContext.lastIn));
  EXPECT_TRUE(allZero(releasedContext.lastOut));
  EXPECT_TRUE(allZero(releasedContext.priorIn));

  cipherContextRelease(nullptr);  // ignored
}

}  // namespace
