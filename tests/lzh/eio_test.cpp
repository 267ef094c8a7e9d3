// A source that cannot be read to its end (the preloaded shim fails reads of "*.eio" after
// 64 KiB) fails the update with the system's own words and leaves the archive as it was.
#include <dlfcn.h>

#include "test_util.h"

using namespace lzhtest;

using EioTest = ScratchTest;

TEST_F(EioTest, AReadErrorFailsTheFileAndTheArchiveStays) {
  ASSERT_NE(dlsym(RTLD_DEFAULT, "tavrun_eio_shim"), nullptr) << "the EIO shim is not preloaded";
  WriteFile(Path("keep.txt"), Text(5000, 91));
  const fs::path a = Path("e.lzh");
  ASSERT_EQ(Run("U " + Q(a) + " " + Q(Path("keep.txt"))), 0) << output_;
  const Bytes before = ReadFile(a);
  for (int jm : {0, 4}) {  // stored and compressed
    SCOPED_TRACE("-jm" + std::to_string(jm));
    WriteFile(Path("disk.eio"), Text(300000, 92));
    EXPECT_EQ(Run("U -jm" + std::to_string(jm) + " " + Q(a) + " " + Q(Path("disk.eio"))),
              UNLHA_ERROR_SOURCE);
    EXPECT_NE(output_.find("cannot read " + Path("disk.eio").string() + ": Input/output error"),
              std::string::npos)
        << output_;
    EXPECT_EQ(output_.find("changed"), std::string::npos) << output_;
    EXPECT_TRUE(ReadFile(a) == before);
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"disk.eio", "e.lzh", "keep.txt"}));
  }
}
