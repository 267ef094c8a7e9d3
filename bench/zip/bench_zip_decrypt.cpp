// Extracting password-protected ZIP archives: our decryption and decoders against 7-Zip and
// bsdtar, side by side in one run. The archives are made by 7zz with the password "secret"
// from a text-like file and an incompressible one.
//
//   bench_zip_decrypt [runs]   (TAVRUN_BENCH_DECRYPT_MB sets the text file's size, default 64)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "zip_extract.h"
#include "zip_password.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

void WriteData(const fs::path& dir, size_t textBytes) {
  static const char* words[] = {"archive ", "member ", "圧縮 ", "解凍 ", "\n", "0123456789 "};
  std::mt19937 rng(1);
  std::string text;
  text.reserve(textBytes);
  while (text.size() < textBytes) text += words[rng() % 6];
  std::ofstream(dir / "text.txt", std::ios::binary) << text;
  std::string noise(textBytes / 4, '\0');
  for (char& c : noise) c = char(rng());
  std::ofstream(dir / "noise.bin", std::ios::binary) << noise;
}

// Median wall seconds of `runs` calls of `work`, each after `reset`.
double Median(int runs, const std::function<void()>& reset, const std::function<bool()>& work) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    reset();
    const auto start = std::chrono::steady_clock::now();
    if (!work()) return -1;
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

bool Ours(const std::string& archive, const std::string& dest) {
  tavrun::zip::Outcome report;
  zip_t* za = tavrun::zip::OpenArchive(archive, report);
  if (za == nullptr) return false;
  tavrun::zip::Unlock unlock;
  bool ok = unlock.Try(za, "secret");
  tavrun::zip::ExtractOptions options;
  options.overwrite = tavrun::zip::ExtractOptions::Overwrite::Always;
  options.noProgress = options.quiet = true;
  if (ok) tavrun::zip::ExtractArchive(za, dest, options, report);
  zip_discard(za);
  return ok && report.ok();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const char* mb = std::getenv("TAVRUN_BENCH_DECRYPT_MB");
  const size_t textBytes = size_t(mb ? std::atoi(mb) : 64) << 20;
  const fs::path work = fs::temp_directory_path() / "tavrun-bench-decrypt";
  fs::remove_all(work);
  fs::create_directories(work / "src");
  WriteData(work / "src", textBytes);
  const fs::path dest = work / "out";
  const auto reset = [&] {
    fs::remove_all(dest);
    fs::create_directories(dest);
  };
  std::printf("%zu MB text + %zu MB noise, medians of %d runs (wall seconds)\n", textBytes >> 20,
              textBytes >> 22, runs);
  std::printf("| archive | ours | 7zz x | bsdtar -x | ours / 7zz |\n|---|---|---|---|---|\n");
  for (const char* spec : {"AES256 Deflate", "ZipCrypto Deflate", "AES256 LZMA", "AES256 XZ"}) {
    std::string s = spec;
    const std::string cipher = s.substr(0, s.find(' ')), method = s.substr(s.find(' ') + 1);
    const fs::path archive = work / (cipher + "-" + method + ".zip");
    if (Shell("cd " + (work / "src").string() + " && 7zz a -tzip -mx=1 -mm=" + method +
              " -mem=" + cipher + " -psecret " + archive.string() + " text.txt noise.bin") != 0) {
      std::printf("| %s | 7zz cannot make it |\n", spec);
      continue;
    }
    const double ours = Median(runs, reset, [&] { return Ours(archive, dest); });
    const double sz = Median(runs, reset, [&] {
      return Shell("7zz x -y -psecret -o" + dest.string() + " " + archive.string()) == 0;
    });
    const double bsd = Median(runs, reset, [&] {
      return Shell("bsdtar -x --passphrase secret -C " + dest.string() + " -f " +
                   archive.string()) == 0;
    });
    std::printf("| %s | %.2f | %.2f | %s | %.2f |\n", spec, ours, sz,
                bsd < 0 ? "fails" : std::to_string(bsd).substr(0, 4).c_str(),
                sz > 0 ? ours / sz : 0.0);
  }
  fs::remove_all(work);
  return 0;
}
