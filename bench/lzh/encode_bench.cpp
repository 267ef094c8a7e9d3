// The encoder alone, in process: compresses each file given (every one a stream of its own)
// with the chosen methods and reports the compressed total and MB/s of CPU.
//   lzh_encode_bench [-m 5,6,7] [-r REPEAT] [-p PASSES] [-d DEPTH] [-n NICE] [-s SPLIT] FILE...
// -p/-d/-n/-s override the method's default tuning (-p 0: lazy matching). A file counts as
// stored when compressing does not make it smaller, as in an archive.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoder.h"

using namespace tavrun::lzh;

namespace {

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<uint8_t> Load(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  std::string methods = "5,6,7";
  int repeat = 1, passes = -1, depth = -1, nice = -1, split = -1;
  std::vector<std::vector<uint8_t>> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 < argc && a == "-m")
      methods = argv[++i];
    else if (i + 1 < argc && a == "-r")
      repeat = std::atoi(argv[++i]);
    else if (i + 1 < argc && a == "-p")
      passes = std::atoi(argv[++i]);
    else if (i + 1 < argc && a == "-d")
      depth = std::atoi(argv[++i]);
    else if (i + 1 < argc && a == "-n")
      nice = std::atoi(argv[++i]);
    else if (i + 1 < argc && a == "-s")
      split = std::atoi(argv[++i]);
    else
      files.push_back(Load(argv[i]));
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s [-m 5,6,7] [-r N] [-p N] [-d N] [-n N] [-s N] FILE...\n",
                 argv[0]);
    return 2;
  }
  uint64_t in = 0;
  for (const auto& f : files) in += f.size();
  for (char c : methods) {
    if (c < '5' || c > '7') continue;
    const Method m = c == '5' ? Method::Lh5 : c == '6' ? Method::Lh6 : Method::Lh7;
    EncoderTuning t = DefaultTuning(m);
    if (passes >= 0) t.optimalPasses = passes;
    if (depth > 0) t.maxChain = depth;
    if (nice > 0) t.niceLength = nice;
    if (split >= 0) t.splitDepth = split;
    uint64_t packed = 0;
    double best = 1e30;
    for (int r = 0; r < repeat; ++r) {
      packed = 0;
      const double start = CpuSeconds();
      for (const auto& f : files) {
        const size_t n = Compress(m, f.data(), f.size(), t).size();
        packed += n < f.size() ? n : f.size();
      }
      best = std::min(best, CpuSeconds() - start);
    }
    std::printf("lh%c %12llu -> %10llu  %.4f  %6.3f s  %6.1f MB/s\n", c,
                static_cast<unsigned long long>(in), static_cast<unsigned long long>(packed),
                static_cast<double>(packed) / static_cast<double>(in), best,
                static_cast<double>(in) / best / 1e6);
  }
  return 0;
}
