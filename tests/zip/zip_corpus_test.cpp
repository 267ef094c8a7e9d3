// Archives from another archive project's test suite (tests/zip/corpus, see its README): each
// extracts to what bsdtar extracts, except the members our rules skip (links, encrypted,
// unsupported or damaged members), with the code those rules give; archives that cannot be
// read give the damaged-archive code and write nothing.
#include <gtest/gtest.h>

#include "zip_test_util.h"

using namespace ziptest;

namespace {

const std::string kCorpus = std::string(TAVRUN_SOURCE_DIR) + "/tests/zip/corpus/";

// Path (directories with "/") -> content of every regular file, "" for directories. bsdtar
// makes some damaged members gigabytes long (sparse): those only by their size.
std::map<std::string, std::string> Contents(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const std::string& p : ListTree(dir)) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(dir + "/" + p, ec);
    out[p] = p.back() == '/'     ? std::string()
             : size > (1u << 20) ? "size " + std::to_string(size)
                                 : ReadFile(dir + "/" + p);
  }
  return out;
}

std::multiset<std::string> FileData(const std::map<std::string, std::string>& tree) {
  std::multiset<std::string> out;
  for (const auto& [path, data] : tree)
    if (path.back() != '/') out.insert(data);
  return out;
}

struct CorpusCase {
  const char* file;
  int32_t code;
  std::set<std::string> skipped = {};  // what bsdtar writes and we do not
  // The archive's unflagged names are decoded by our encoding rule (CP932 first), or by its
  // Unicode-path fields, where bsdtar keeps the raw bytes: compare the data alone.
  bool namesDiffer = false;
};

}  // namespace

TEST(ZipCorpus, ExtractsWhatBsdtarExtractsOrFailsWithTheRightCode) {
  ASSERT_TRUE(HaveTool("bsdtar")) << "scripts/install-deps.sh installs bsdtar";
  const int32_t kOk = TAVRUN_ZIP_OK, kDamaged = TAVRUN_ZIP_E_NOT_ARCHIVE, kData = TAVRUN_ZIP_E_DATA,
                kLink = TAVRUN_ZIP_E_UNSAFE_PATH, kEncrypted = TAVRUN_ZIP_E_ENCRYPTED,
                kMethod = TAVRUN_ZIP_E_UNSUPPORTED;
  // clang-format off
  const CorpusCase cases[] = {
      {"7075_utf8_paths.zip", kOk, {}, true},
      {"7z_lzma.zip", kLink, {"_installdir/abc_tools/2000.9-beta11/bin/abc_measurement_analysis_sample"}},
      {"bz2_hang.zip", kDamaged},
      {"bzip2.zipx", kOk}, {"bzip2_multi.zipx", kOk}, {"comment_stored_1.zip", kOk},
      {"crc_error.zip", kData, {"file2"}},
      {"encryption_data.zip", kEncrypted, {"foo.txt", "bar.txt"}},
      {"encryption_header.zip", kDamaged},
      {"encryption_partially.zip", kEncrypted, {"foo.txt"}},
      {"extra_padding.zip", kDamaged},  // its end record has no signature
      {"filename_cp866.zip", kOk, {}, true}, {"filename_cp932.zip", kOk, {}, true},
      {"filename_koi8r.zip", kOk, {}, true}, {"filename_utf8_ru2.zip", kOk, {}, true},
      {"filename_utf8_jp.zip", kOk}, {"filename_utf8_ru.zip", kOk},
      {"high_compression.zip", kOk}, {"jar.jar", kOk}, {"length_at_end.zip", kOk},
      {"lzma.zipx", kOk}, {"lzma_multi.zipx", kOk}, {"lzma_stream_end.zipx", kOk},
      {"lzma_alone_leak.zipx", kDamaged}, {"zipx_lzma_oom.zipx", kDamaged},
      {"mac_metadata.zip", kOk}, {"malformed1.zip", kDamaged},
      {"msdos.zip", kOk}, {"nested.zip", kOk}, {"nofiletype.zip", kOk},
      {"padded1.zip", kOk}, {"padded2.zip", kOk}, {"padded3.zip", kOk},
      {"pkware_unix.zip", kOk},
      {"ppmd8.zipx", kMethod, {"vimrc"}},
      {"ppmd8_multi.zipx", kMethod, {"vimrc", "ts.conf", "smartd.conf"}},
      {"ppmd8_aes256_streaming.zipx", kEncrypted, {"encrypted_file.txt"}},
      {"ppmd8_crash_1.zipx", kDamaged}, {"ppmd8_crash_2.zipx", kDamaged},
      {"sfx.exe", kOk},
      {"size_exceeds_declared_deflate.zip", kData, {"first"}},
      {"size_exceeds_declared_stored.zip", kData, {"first"}},
      {"symlink.zip", kLink, {"symlink"}},
      {"symlink_unsupported_compression.zip", kLink, {"bad_symlink"}},
      {"traditional_encryption_data.zip", kEncrypted, {"foo.txt", "bar.txt"}},
      // Central and local sizes differ by 4 GiB: libzip refuses the member, bsdtar trusts
      // the local header.
      {"uncompressed_size_off_by_4gib.zip", kData, {"hello.txt"}},
      {"ux.zip", kOk},
      {"winzip_aes128.zip", kEncrypted, {"README"}},
      {"winzip_aes256.zip", kEncrypted, {"README"}},
      {"with_invalid_traditional_eocd.zip", kOk},
      {"xz_multi.zipx", kOk}, {"zip64a.zip", kOk}, {"zip64b.zip", kOk},
      {"zstd.zipx", kOk}, {"zstd_multi.zipx", kOk},
  };
  // clang-format on
  TempDir work;
  for (const CorpusCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string archive = kCorpus + c.file;
    ASSERT_TRUE(Exists(archive));
    const std::string ours = work / (std::string(c.file) + ".ours"),
                      theirs = work / (std::string(c.file) + ".bsdtar");
    Result r = UnZipTo("-x -qq --i -o", archive, ours);
    EXPECT_EQ(r.code, c.code) << r.output;
    EXPECT_EQ(Check(archive), c.code == kDamaged ? 0 : 1);
    if (c.code == kDamaged) {
      // What bsdtar makes of these, reading local headers alone, is not compared: from one
      // of them it writes gigabytes.
      EXPECT_TRUE(ListTree(ours).empty());
      continue;
    }
    mkdir(theirs.c_str(), 0755);
    // A passphrase given, so bsdtar never waits for one at a terminal; encrypted members
    // then fail there too and only leave empty files.
    Shell("bsdtar --passphrase not-the-password -xf " + Sh(archive) + " -C " + Sh(theirs) +
          " </dev/null 2>/dev/null");
    std::map<std::string, std::string> expected = Contents(theirs), got = Contents(ours);
    for (const std::string& s : c.skipped) EXPECT_EQ(expected.erase(s), 1u) << s;
    if (c.namesDiffer) {
      EXPECT_EQ(FileData(got), FileData(expected));
      EXPECT_EQ(got.size(), expected.size());
    } else {
      EXPECT_EQ(got, expected);
    }
    for (const auto& [path, data] : got)
      EXPECT_EQ(path.find(".tavrun-"), std::string::npos) << "temporary file left: " << path;
  }
}
