// The folder lock: one holder at a time, and no file left in the folder.
#include "util/folder_lock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "util/fatal.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

TEST(FolderLock, OneHolderAtATime) {
  char tmpl[] = "/tmp/kavrel_lock_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  FolderLock first;
  FolderLock second;
  EXPECT_TRUE(first.tryLock(dir));
  EXPECT_FALSE(second.tryLock(dir));
  EXPECT_FALSE(second.held());
  first.release();
  EXPECT_TRUE(second.tryLock(dir));
  EXPECT_TRUE(fs::is_empty(dir));  // no lock file in the folder
  EXPECT_THAT([&] { first.tryLock(dir / "none"); },
              ThrowsMessage<Fatal>(HasSubstr("Cannot open the folder " + (dir / "none").string())));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kavrel
