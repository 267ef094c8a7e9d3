// One input compressed by several threads, in process: for each file and method, the single-
// stream encoder (the input parsed in one piece, as before segments) beside the segmented one
// on 1 and on N threads, with sizes, whether the two segmented outputs are the same bytes, and
// CPU time / wall time (cpu 0: the single stream's, which the segments' warm-up adds to).
//   lzh_parallel_bench [-t THREADS] [-m 5,6,7] [-S SEGMENT_BYTES] FILE...
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

double Clock(clockid_t id) {
  timespec t;
  clock_gettime(id, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Run {
  std::vector<uint8_t> out;
  double cpu, wall;
};

Run Time(Method m, const std::vector<uint8_t>& in, EncoderTuning t, unsigned threads) {
  const double c = Clock(CLOCK_PROCESS_CPUTIME_ID), w = Clock(CLOCK_MONOTONIC);
  Run r;
  r.out = Compress(m, in.data(), in.size(), t, threads);
  r.cpu = Clock(CLOCK_PROCESS_CPUTIME_ID) - c;
  r.wall = Clock(CLOCK_MONOTONIC) - w;
  return r;
}

double Load() {
  double l = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &l) != 1) l = 0;
    std::fclose(f);
  }
  return l;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned threads = 2;
  std::string methods = "5,6,7";
  EncoderTuning segmented;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 < argc && a == "-t")
      threads = static_cast<unsigned>(std::atoi(argv[++i]));
    else if (i + 1 < argc && a == "-m")
      methods = argv[++i];
    else if (i + 1 < argc && a == "-S")
      segmented.segmentBytes = static_cast<uint32_t>(std::atol(argv[++i]));
    else
      files.push_back(a);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s [-t THREADS] [-m 5,6,7] [-S SEGMENT_BYTES] FILE...\n", argv[0]);
    return 2;
  }
  EncoderTuning single;
  single.segmentBytes = 0;
  std::printf("%-12s %-5s %11s %11s %9s %5s %7s %7s %7s %7s %7s %8s %5s\n", "file", "meth", "input",
              "one stream", "segments", "same", "cpu 0", "cpu 1", "wall 1", "cpu N", "wall N",
              "cpu/wall", "load");
  bool allSame = true;
  for (const std::string& path : files) {
    std::ifstream f(path, std::ios::binary);
    const std::vector<uint8_t> in{std::istreambuf_iterator<char>(f),
                                  std::istreambuf_iterator<char>()};
    std::string name = path.substr(path.find_last_of('/') + 1);
    for (char c : methods) {
      if (c < '5' || c > '7') continue;
      const Method m = c == '5' ? Method::Lh5 : c == '6' ? Method::Lh6 : Method::Lh7;
      const Run base = Time(m, in, single, 1);
      const Run one = Time(m, in, segmented, 1);
      const Run many = Time(m, in, segmented, threads);
      const bool same = one.out == many.out;
      allSame = allSame && same;
      std::printf(
          "%-12s lh%c   %11zu %11zu %+8.4f%% %5s %7.2f %7.2f %7.2f %7.2f %7.2f %8.2f %5.2f\n",
          name.c_str(), c, in.size(), base.out.size(),
          100.0 * (static_cast<double>(one.out.size()) / base.out.size() - 1), same ? "yes" : "NO",
          base.cpu, one.cpu, one.wall, many.cpu, many.wall, many.cpu / many.wall, Load());
    }
  }
  return allSame ? 0 : 1;
}
