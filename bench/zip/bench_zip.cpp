// Speed and size of the ZIP libraries against plain libzip (zlib), 7-Zip and bsdtar over a
// mixed corpus of about 80 MB (source text, documentation text, shared libraries), and the
// peak memory of compressing a file larger than the in-memory bound.
//
//   bench_zip [runs [compress|read|update|memory|parallel|extract ...]]   (TAVRUN_BENCH_CORPUS=dir
//   places the corpus)
#include <dlfcn.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tavrun_host.h"
#include "unzip32.h"
#include "zip32j.h"

namespace fs = std::filesystem;

namespace {

struct Category {
  const char* name;
  std::vector<const char*> roots;
  std::vector<const char*> suffixes;
  uintmax_t quota;
};

void BuildCorpus(const fs::path& dir) {
  const Category cats[] = {
      {"source", {"/usr/include"}, {".h", ".hpp", ".c", ".cpp"}, 30u << 20},
      {"docs",
       {"/usr/share/doc", "/usr/lib/python3.11"},
       {".txt", ".html", ".md", ".py", "copyright"},
       20u << 20},
      {"libs", {"/usr/lib/x86_64-linux-gnu"}, {".so"}, 30u << 20},
  };
  for (const Category& c : cats) {
    std::vector<fs::path> files;
    for (const char* root : c.roots) {
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(
               root, fs::directory_options::skip_permission_denied, ec);
           it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec || !it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        std::string n = it->path().filename().string();
        bool match = false;
        for (const char* s : c.suffixes) {
          std::string suf = s;
          match = match || (n.size() >= suf.size() &&
                            n.compare(n.size() - suf.size(), suf.size(), suf) == 0);
        }
        uintmax_t size = it->file_size(ec);
        if (match && size > 0 && size < (8u << 20)) files.push_back(it->path());
      }
    }
    std::sort(files.begin(), files.end());
    fs::create_directories(dir / c.name);
    uintmax_t total = 0;
    int n = 0;
    // Every k-th file, so the corpus spreads over the whole tree.
    uintmax_t all = 0;
    for (const fs::path& f : files) all += fs::file_size(f);
    size_t step = std::max<size_t>(1, size_t(all / c.quota));
    for (size_t i = 0; i < files.size() && total < c.quota; i += step) {
      fs::path to = dir / c.name / (std::to_string(n++) + "_" + files[i].filename().string());
      fs::copy_file(files[i], to, fs::copy_options::overwrite_existing);
      total += fs::file_size(to);
    }
    std::printf("corpus %-6s %4d files %6.1f MB\n", c.name, n, double(total) / 1e6);
  }
}

std::vector<std::string> CorpusFiles(const fs::path& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string Quote(const std::string& s) {
  return "\"" + s + "\"";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Time(const std::function<void()>& f, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    auto a = std::chrono::steady_clock::now();
    f();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
  }
  return Median(t);
}

uintmax_t Size(const std::string& p) {
  std::error_code ec;
  uintmax_t s = fs::file_size(p, ec);
  return ec ? 0 : s;
}

int Sh(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  if (rc != 0 && cmd.rfind("cmp ", 0) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
  return rc;
}

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

void OurZip(const std::string& archive, const std::vector<std::string>& files, int level) {
  fs::remove(archive);
  std::string cmd = "-q -S -" + std::to_string(level) + " " + Quote(archive);
  for (const std::string& f : files) cmd += " " + Quote(f);
  char out[256];
  int32_t rc = Zip(0, cmd.c_str(), out, sizeof out);
  if (rc != 0) std::fprintf(stderr, "Zip failed %d: %s\n", rc, out);
}

void PlainLibzip(const std::string& archive, const std::vector<std::string>& files, int level) {
  fs::remove(archive);
  int err = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  for (const std::string& f : files) {
    zip_source_t* s = zip_source_file(za, f.c_str(), 0, -1);
    zip_int64_t i = zip_file_add(za, f.c_str() + 1, s, ZIP_FL_ENC_UTF_8);
    zip_set_file_compression(za, zip_uint64_t(i), ZIP_CM_DEFLATE, zip_uint32_t(level));
  }
  if (zip_close(za) != 0) std::fprintf(stderr, "libzip: %s\n", zip_strerror(za));
}

struct Child {
  double peakMb, cpu, wall;
};

// Peak resident memory, cpu and wall time of a child that runs `f`.
Child RunChild(const std::function<void()>& f) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    f();
    _exit(0);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return {double(ru.ru_maxrss) / 1024.0, secs(ru.ru_utime) + secs(ru.ru_stime), wall};
}

// Hands the libraries a host whose thread budget is `threads` (process-wide).
void SetThreads(unsigned threads) {
  static unsigned budget = 1;
  static TavrunHost host{};
  budget = threads;
  host.size = sizeof host;
  host.version = TAVRUN_HOST_VERSION;
  host.threads_per_call = [](void*) -> uint32_t { return budget; };
  for (const char* lib : {"libzip32j.so", "libunzip32.so"})
    if (void* h = dlopen(lib, RTLD_NOW | RTLD_NOLOAD)) {
      if (auto set = reinterpret_cast<TavrunSetHostFunction>(dlsym(h, TAVRUN_SET_HOST_SYMBOL)))
        set(&host);
      dlclose(h);
    }
}

// A file of `mb` MB cut from `sources` in turn, at most 4 MB from each.
void BuildFile(const std::string& path, const std::vector<std::string>& sources, uintmax_t mb) {
  std::ofstream o(path, std::ios::binary);
  std::vector<char> buf(4u << 20);
  for (size_t i = 0; uintmax_t(o.tellp()) < mb * 1000000 && !sources.empty();
       i = (i + 1) % sources.size()) {
    std::ifstream in(sources[i], std::ios::binary);
    in.read(buf.data(), std::streamsize(buf.size()));
    o.write(buf.data(), in.gcount());
  }
  o.close();
  fs::resize_file(path, mb * 1000000);
}

// Office-like material found on this machine: compressed images and archives, shared
// libraries, documentation and source text.
std::vector<std::string> MixedSources(const std::vector<std::string>& corpus) {
  std::vector<std::string> packed, text, binary;
  std::error_code ec;
  for (const char* root : {"/usr/share", "/root/.rustup", "/usr/lib/python3"})
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator() && packed.size() < 400; it.increment(ec)) {
      if (ec || !it->is_regular_file(ec)) continue;
      const std::string e = it->path().extension().string();
      if ((e == ".png" || e == ".jpg" || e == ".gz" || e == ".zip" || e == ".xz") &&
          it->file_size(ec) > 20000)
        packed.push_back(it->path().string());
    }
  for (const std::string& f : corpus)
    (f.find("/libs/") != std::string::npos ? binary : text).push_back(f);
  std::sort(packed.begin(), packed.end());
  // About a third of each, interleaved.
  std::vector<std::string> out;
  for (size_t i = 0; i < 3000; ++i) {
    const std::vector<std::string>& from = i % 3 == 0 ? packed : i % 3 == 1 ? text : binary;
    if (!from.empty()) out.push_back(from[(i / 3 * 7) % from.size()]);
  }
  return out;
}

// Peak memory an extraction adds (KiB above the child's size when it started) and its CPU.
struct Extracted {
  double addedMb, cpu, wall;
};
Extracted OurExtraction(const std::string& archive, const std::string& dest) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, -1, -1};
  const Child c = RunChild([&] {
    close(fds[0]);
    const auto field = [](const char* name) {
      std::ifstream status("/proc/self/status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind(name, 0) == 0) return std::atol(line.c_str() + std::strlen(name));
      return -1L;
    };
    std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM from here on
    const long before = field("VmRSS:");
    char out[256];
    UnZip(0, ("-x -qq --i -o " + Quote(archive) + " " + Quote(dest + "/")).c_str(), out,
          sizeof out);
    const long added = field("VmHWM:") - before;
    if (write(fds[1], &added, sizeof added) != ssize_t(sizeof added)) _exit(1);
  });
  close(fds[1]);
  long added = -1;
  if (read(fds[0], &added, sizeof added) != ssize_t(sizeof added)) added = -1;
  close(fds[0]);
  return {double(added) / 1024.0, c.cpu, c.wall};
}

// Another program in a child of its own (not a copy of this one): its peak memory and CPU.
Child Command(const std::string& cmd) {
  return RunChild([&] {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  });
}

// The extraction this library did before: the member read whole and inflated whole with
// libdeflate, CRC checked, nothing written (so it is only the decoding's cost).
double WholeBufferInflateCpu(const std::string& archive) {
  return RunChild([&] {
           int err = 0;
           zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &err);
           zip_stat_t st;
           zip_stat_index(za, 0, 0, &st);
           zip_file_t* f = zip_fopen_index(za, 0, ZIP_FL_COMPRESSED);
           std::vector<uint8_t> in(st.comp_size);
           zip_fread(f, in.data(), in.size());
           std::vector<uint8_t> out(st.size);
           libdeflate_decompressor* d = libdeflate_alloc_decompressor();
           libdeflate_deflate_decompress(d, in.data(), in.size(), out.data(), out.size(), nullptr);
           if (uint32_t(libdeflate_crc32(0, out.data(), out.size())) != st.crc) _exit(1);
         })
      .cpu;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<std::string> parts(argv + std::min(argc, 2), argv + argc);
  auto want = [&](const char* part) {
    return parts.empty() || std::find(parts.begin(), parts.end(), part) != parts.end();
  };
  const char* env = std::getenv("TAVRUN_BENCH_CORPUS");
  fs::path corpus = env ? env : "/tmp/tavrun-zip-corpus";
  if (!fs::exists(corpus / "libs")) BuildCorpus(corpus);
  std::vector<std::string> files = CorpusFiles(corpus);
  uintmax_t total = 0;
  for (const std::string& f : files) total += Size(f);
  std::printf("%zu files, %.1f MB, median of %d runs\n\n", files.size(), double(total) / 1e6, runs);
  fs::path work = fs::temp_directory_path() / ("tavrun-zip-bench." + std::to_string(getpid()));
  fs::create_directories(work);
  const std::string a = (work / "a.zip").string();

  const std::string ours6 = (work / "ours6.zip").string();
  OurZip(ours6, files, 6);
  if (want("compress")) {
    std::printf("%-28s %8s %10s\n", "compress", "seconds", "MB");
    for (int level : {1, 6, 9}) {
      double t = Time([&] { OurZip(a, files, level); }, runs);
      std::printf("%-28s %8.2f %10.2f\n", ("Zip -" + std::to_string(level)).c_str(), t,
                  Size(a) / 1e6);
    }
    for (int level : {1, 6, 9}) {
      double t = Time([&] { PlainLibzip(a, files, level); }, runs);
      std::printf("%-28s %8.2f %10.2f\n", ("libzip+zlib " + std::to_string(level)).c_str(), t,
                  Size(a) / 1e6);
    }
    std::string list = (work / "list.txt").string();
    {
      std::ofstream l(list);
      for (const std::string& f : files) l << fs::relative(f, corpus).string() << "\n";
    }
    if (Have("7zz")) {
      double t = Time(
          [&] {
            fs::remove(a);
            Sh("cd " + Quote(corpus.string()) + " && 7zz a -tzip -mx=5 -bso0 -bsp0 " + Quote(a) +
               " @" + Quote(list));
          },
          runs);
      std::printf("%-28s %8.2f %10.2f\n", "7zz a -tzip -mx=5", t, Size(a) / 1e6);
    }
    if (Have("bsdtar")) {
      double t = Time(
          [&] {
            fs::remove(a);
            Sh("cd " + Quote(corpus.string()) + " && bsdtar --format zip -cf " + Quote(a) + " -T " +
               Quote(list));
          },
          runs);
      std::printf("%-28s %8.2f %10.2f\n", "bsdtar --format zip", t, Size(a) / 1e6);
    }
  }

  if (want("read")) {
    std::printf("\n%-28s %8s   (archive: Zip -6)\n", "read back", "seconds");
    const std::string out = (work / "out").string();
    double t = Time(
        [&] {
          fs::remove_all(out);
          fs::create_directories(out);
          char buf[256];
          UnZip(0, ("-x -qq --i -o " + Quote(ours6) + " " + Quote(out + "/")).c_str(), buf,
                sizeof buf);
        },
        runs);
    std::printf("%-28s %8.2f\n", "UnZip -x (writes files)", t);
    t = Time([&] { UnZipCheckArchive(ours6.c_str(), TAVRUN_ZIP_CHECK_FULL); }, runs);
    std::printf("%-28s %8.2f\n", "UnZipCheckArchive mode 2", t);
    if (Have("7zz")) {
      t = Time([&] { Sh("7zz t -bso0 -bsp0 " + Quote(ours6)); }, runs);
      std::printf("%-28s %8.2f\n", "7zz t", t);
    }
    if (Have("bsdtar")) {
      t = Time([&] { Sh("bsdtar -xOf " + Quote(ours6) + " >/dev/null"); }, runs);
      std::printf("%-28s %8.2f\n", "bsdtar -xOf", t);
    }
    // The same work as UnZip -x: files written.
    if (Have("7zz")) {
      t = Time(
          [&] {
            fs::remove_all(out);
            Sh("7zz x -bso0 -bsp0 -o" + Quote(out) + " " + Quote(ours6));
          },
          runs);
      std::printf("%-28s %8.2f\n", "7zz x (writes files)", t);
    }
    if (Have("bsdtar")) {
      t = Time(
          [&] {
            fs::remove_all(out);
            fs::create_directories(out);
            Sh("bsdtar -xf " + Quote(ours6) + " -C " + Quote(out));
          },
          runs);
      std::printf("%-28s %8.2f\n", "bsdtar -x (writes files)", t);
    }
  }
  if (want("update")) {
    // One small file added to the Zip -6 archive: every other member is copied as it is. Ours
    // also syncs the new archive before it replaces the old one; plain libzip does not.
    std::printf("\n%-28s %8s   (%zu members)\n", "update: one file added", "seconds", files.size());
    const std::string extra = (work / "extra.txt").string();
    std::ofstream(extra) << "one more file\n";
    const auto timeUpdate = [&](const std::function<void()>& update) {
      std::vector<double> t;
      for (int i = 0; i < runs; ++i) {
        fs::copy_file(ours6, a, fs::copy_options::overwrite_existing);
        t.push_back(Time(update, 1));
      }
      return Median(t);
    };
    double t = timeUpdate([&] {
      char out[256];
      if (Zip(0, ("-q -j " + Quote(a) + " " + Quote(extra)).c_str(), out, sizeof out) != 0)
        std::fprintf(stderr, "Zip failed: %s\n", out);
    });
    std::printf("%-28s %8.2f\n", "Zip", t);
    t = timeUpdate([&] {
      int err = 0;
      zip_t* za = zip_open(a.c_str(), 0, &err);
      zip_file_add(za, "extra.txt", zip_source_file(za, extra.c_str(), 0, -1), 0);
      if (zip_close(za) != 0) std::fprintf(stderr, "libzip: %s\n", zip_strerror(za));
    });
    std::printf("%-28s %8.2f\n", "libzip zip_open + zip_close", t);
  }
  if (want("memory")) {
    // One large file: memory must not follow its size; side by side with other deflaters.
    // cpu = user + system seconds of the child and what it waited for.
    std::printf("\n%-30s %8s %8s %8s %10s\n", "one large file", "MB RSS", "cpu s", "wall s",
                "MB out");
    const char* sizes = std::getenv("TAVRUN_BENCH_LARGE_MB");
    for (uintmax_t mb : {uintmax_t(sizes ? std::atoi(sizes) : 300)}) {
      std::string big = (work / ("big" + std::to_string(mb))).string();
      {
        // Text-like data: repeated corpus files, so deflate has real work.
        std::ofstream o(big, std::ios::binary);
        uintmax_t written = 0;
        for (size_t i = 0; written < mb * 1000000; i = (i + 1) % files.size()) {
          std::ifstream in(files[i], std::ios::binary);
          o << in.rdbuf();
          written = uintmax_t(o.tellp());
        }
      }
      const std::string out = (work / "large.out").string();
      const auto row = [&](const std::string& what, const std::function<void()>& f) {
        fs::remove(out);
        Child c = RunChild(f);
        std::printf("%-30s %8.1f %8.2f %8.2f %10.2f\n", what.c_str(), c.peakMb, c.cpu, c.wall,
                    Size(out) / 1e6);
      };
      const std::string tag = ", " + std::to_string(mb) + " MB";
      for (int level : {1, 6, 9})
        row("Zip -" + std::to_string(level) + tag, [&] { OurZip(out, {big}, level); });
      if (Have("zip"))
        for (int level : {6, 9})
          row("zip -" + std::to_string(level) + tag, [&] {
            Sh("zip -q -" + std::to_string(level) + " " + Quote(out) + " " + Quote(big));
          });
      if (Have("gzip"))
        row("gzip -6" + tag, [&] { Sh("gzip -6 -c " + Quote(big) + " > " + Quote(out)); });
      if (Have("7zz"))
        for (int mx : {5, 9})
          row("7zz -tzip -mx=" + std::to_string(mx) + tag, [&] {
            Sh("7zz a -tzip -mx=" + std::to_string(mx) + " -bso0 -bsp0 " + Quote(out) + " " +
               Quote(big));
          });
      fs::remove(big);
      fs::remove(out);
    }
  }
  if (want("parallel")) {
    // One large file deflated by one thread and by as many as there are processors: CPU over
    // wall time (work really spread), and the bytes, which must not change.
    const unsigned n = std::max(2u, std::thread::hardware_concurrency());
    const std::string text = (work / "text64").string(), mixed = (work / "mixed64").string();
    BuildFile(text, files, 64);
    BuildFile(mixed, MixedSources(files), 64);
    std::printf("\n%-26s %7s %7s %7s %9s %7s %7s %9s %5s\n", "64 MB, threads 1 | N", "cpu 1",
                "wall 1", "cpu/w", "MB out", "cpu N", "wall N", "cpu/wall", "same");
    for (const std::string& input : {text, mixed})
      for (int level : {6, 9}) {
        std::string outs[2];
        Child c[2];
        for (int k = 0; k < 2; ++k) {
          outs[k] = (work / ("par" + std::to_string(k) + ".zip")).string();
          c[k] = RunChild([&] {
            SetThreads(k == 0 ? 1 : n);
            OurZip(outs[k], {input}, level);
          });
        }
        const bool same =
            Size(outs[0]) > 0 && Sh("cmp -s " + Quote(outs[0]) + " " + Quote(outs[1])) == 0;
        std::printf("%-26s %7.2f %7.2f %7.2f %9.2f %7.2f %7.2f %9.2f %5s\n",
                    (fs::path(input).filename().string() + " -" + std::to_string(level) +
                     " (N=" + std::to_string(n) + ")")
                        .c_str(),
                    c[0].cpu, c[0].wall, c[0].cpu / c[0].wall, Size(outs[0]) / 1e6, c[1].cpu,
                    c[1].wall, c[1].cpu / c[1].wall, same ? "yes" : "NO");
      }
  }
  if (want("extract")) {
    // One deflated member of 200 MB (and 60 MB) extracted: the memory the extraction adds
    // and its CPU, beside the whole-buffer inflate this library used before and other tools.
    std::printf("\n%-34s %9s %8s %8s\n", "extract one member", "MB peak", "cpu s", "wall s");
    for (uintmax_t mb : {uintmax_t(60), uintmax_t(200)}) {
      const std::string big = (work / ("member" + std::to_string(mb))).string();
      const std::string zip = (work / ("member" + std::to_string(mb) + ".zip")).string();
      BuildFile(big, files, mb);
      OurZip(zip, {big}, 6);
      fs::remove(big);
      const std::string out = (work / "x").string();
      const std::string tag = ", " + std::to_string(mb) + " MB";
      const auto row = [&](const std::string& what, const Child& c, const char* note) {
        std::printf("%-34s %9.1f %8.2f %8.2f %s\n", (what + tag).c_str(), c.peakMb, c.cpu, c.wall,
                    note);
        fs::remove_all(out);
      };
      fs::create_directories(out);
      const Extracted e = OurExtraction(zip, out);
      row("UnZip -x", {e.addedMb, e.cpu, e.wall}, "(MB added to the process)");
      std::printf("%-34s %9s %8.2f %8s %s\n", ("libdeflate whole buffer" + tag).c_str(), "",
                  WholeBufferInflateCpu(zip), "", "(decode only, before)");
      if (Have("unzip"))
        row("unzip -o", Command("unzip -qq -o " + Quote(zip) + " -d " + Quote(out)), "");
      if (Have("bsdtar")) {
        fs::create_directories(out);
        row("bsdtar -x", Command("bsdtar -xf " + Quote(zip) + " -C " + Quote(out)), "");
      }
      if (Have("7zz"))
        row("7zz x", Command("7zz x -y -bso0 -bsp0 -o" + Quote(out) + " " + Quote(zip)), "");
      fs::remove(zip);
    }
  }
  fs::remove_all(work);
  return 0;
}
