// Archives made by some twenty other LZH tools (tests/corpus/lzh, see its README) extract as
// an independent reader extracts them, or fail with the expected code and leave nothing
// half-written.
#include <sys/resource.h>

#include <csignal>
#include <map>

#include "test_util.h"

using namespace lzhtest;

namespace {

// Where we differ from lhasa on purpose, with the code we give instead.
struct Known {
  const char* archive;
  int rc;
  // The reader whose output ours must equal (nullptr: lhasa, less the members we skip), or "-"
  // where the reference stops at the first problem and so extracts less than we do.
  const char* reference;
  // An empty member that both readers write as a file, though its name is only a directory
  // (a directory record ending in a separator, no file name): we make the directory.
  const char* directoryNotFile = nullptr;
};
const Known kKnown[] = {
    // Symbolic links are never created.
    {"lha_unix114i/h0_symlink.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"lha_unix114i/h1_symlink.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"lha_unix114i/h1_symlink2.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"lha_unix114i/h1_symlink3.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"lha_unix114i/h2_symlink.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"lha_unix114i/h2_symlink2.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"lha_unix114i/h2_symlink3.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"regression/symlink1.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"regression/symlink2.lzh", UNLHA_ERROR_UNSAFE, "-"},
    {"regression/symlink3.lzh", UNLHA_ERROR_UNSAFE, "-"},
    // A ".." member is skipped (lhasa drops the ".." and extracts it); control characters in
    // a name are refused (lhasa writes them).
    {"regression/dotdot.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    {"regression/badterm.lzh", UNLHA_ERROR_UNSAFE, nullptr},
    // A file and a directory of the same name: the second cannot be made (lhasa fails too).
    {"lh2_222/easubdir.lzh", UNLHA_ERROR_UNSAFE, "-"},
    // Damaged on purpose, and a -lh7- variant of one DOS tool: lhasa fails on both as well.
    {"regression/truncated.lzh", UNLHA_ERROR_NOT_LZH, nullptr},
    {"lhark04d/lh7.lzh", UNLHA_ERROR_DATA, nullptr},
    // Unnamed directory members: this lhasa extracts nothing at all; 7-Zip and unar give the file.
    {"lha_unix114i/h0_subdir.lzh", 0, "7zz"},
    {"lha_osk_201/h0_subdir.lzh", 0, "7zz"},
    // Directories after the first: this lhasa loses them, 7-Zip and unar list them all.
    {"lha_amiga_122/lh0_dirs_bug.lzh", 0, "7zz", "maindir/02_emptydir"},
};
// A 4.4 GiB member: tested on its own below, without writing it out.
constexpr const char* kHuge = "morphos_lha_2717/h2_huge.lzh";

using Tree = std::map<std::string, std::string>;

// Every entry below `root`, names ASCII-lowercased (lhasa lowercases all-capital DOS names),
// directories with a trailing '/', files with their content.
Tree Contents(const fs::path& root) {
  Tree t;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string name = e.path().lexically_relative(root).string();
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (e.is_directory())
      t[name + "/"] = "";
    else
      t[name] = e.is_symlink() ? "<symlink>" : ReadText(e.path());
  }
  return t;
}

class CorpusTest : public ScratchTest {};

}  // namespace

TEST_F(CorpusTest, ArchivesOfOtherToolsExtractAsAnIndependentReaderExtractsThem) {
  ASSERT_TRUE(HaveTool("lhasa")) << "lhasa is needed (scripts/install-deps.sh)";
  ASSERT_TRUE(HaveTool("7zz")) << "7zz is needed (scripts/install-deps.sh)";
  std::vector<fs::path> archives;
  for (const auto& e : fs::recursive_directory_iterator(LZH_CORPUS)) {
    const std::string ext = e.path().extension();
    if (e.is_regular_file() && ext != ".md" && ext != ".txt") archives.push_back(e.path());
  }
  std::sort(archives.begin(), archives.end());
  ASSERT_GT(archives.size(), 150u);
  int compared = 0;
  for (const fs::path& a : archives) {
    const std::string rel = a.lexically_relative(LZH_CORPUS).string();
    if (rel == kHuge) continue;
    SCOPED_TRACE(rel);
    const Known* known = nullptr;
    for (const Known& k : kKnown)
      if (rel == k.archive) known = &k;
    fs::remove_all(Path("ours"));
    fs::remove_all(Path("ref"));
    fs::create_directories(Path("ours"));
    fs::create_directories(Path("ref"));
    const int rc = Run("E -n1 -x1 -y1 -c1 " + Q(a) + " " + Q(Path("ours")) + "/");
    const std::string reader = known && known->reference ? known->reference : "lhasa";
    Shell(reader == "7zz" ? "7zz x -y -o" + Q(Path("ref")) + " " + Q(a) + " >/dev/null 2>&1"
                          : "cd " + Q(Path("ref")) + " && lhasa xq " + Q(a) + " >/dev/null 2>&1");
    const Tree ours = Contents(Path("ours"));
    Tree ref = Contents(Path("ref"));
    if (known && known->directoryNotFile && ref.erase(known->directoryNotFile) == 1)
      ref[std::string(known->directoryNotFile) + "/"] = "";
    for (const auto& [name, data] : ours) EXPECT_NE(data, "<symlink>") << name;
    const int expected = known ? known->rc : 0;
    EXPECT_EQ(rc, expected) << output_;
    if (expected == 0) {
      EXPECT_EQ(ours, ref);
    } else if (reader != "-") {
      // Whatever was extracted is what the reference extracted; nothing else is left.
      for (const auto& [name, data] : ours) {
        auto it = ref.find(name);
        EXPECT_TRUE(it != ref.end() && it->second == data) << "not as the reference: " << name;
      }
    }
    const bool sound = expected == 0 || expected == UNLHA_ERROR_UNSAFE;
    EXPECT_EQ(UnlhaCheckArchive(a.c_str(), 2), sound ? 1 : 0);
    ++compared;
  }
  EXPECT_EQ(compared + 1, static_cast<int>(archives.size()));
}

// A member of 4 GiB and more: the check and the extraction read the same 64-bit size (only a
// lack of room stops the extraction here, and it leaves nothing).
TEST_F(CorpusTest, AMemberOver4GiBIsSeenAlikeByTheCheckAndTheExtraction) {
  const fs::path a = fs::path(LZH_CORPUS) / kHuge;
  const auto members = Members(a);
  ASSERT_EQ(members.size(), 1u);
  EXPECT_GT(members[0].originalSize, uint64_t{1} << 32);
  EXPECT_EQ(UnlhaCheckArchive(a.c_str(), 1), 1);

  fs::create_directories(Path("dest"));
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit r = old;
  r.rlim_cur = 8 << 20;
  setrlimit(RLIMIT_FSIZE, &r);
  const int rc = Run("E -n1 -y1 " + Q(a) + " " + Q(Path("dest")) + "/");
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(rc, UNLHA_ERROR_WRITE) << output_;
  EXPECT_EQ(Listing(Path("dest")), std::vector<std::string>{});
}
