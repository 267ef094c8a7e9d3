// Runs one command line through libunlha32.so (loaded the way the program loads it):
//   lzh_cli 'U -jm4 "a.lzh" "file"'      lzh_cli --check a.lzh [mode]
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMANDLINE | --check ARCHIVE [MODE]\n", argv[0]);
    return 2;
  }
  const char* dir = std::getenv("TAVRUN_COMPONENT_DIR");
  std::string lib = std::string(dir ? dir : TAVRUN_COMPONENT_DIR) + "/libunlha32.so";
  void* h = dlopen(lib.c_str(), RTLD_NOW);
  if (!h) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  if (std::strcmp(argv[1], "--check") == 0 && argc >= 3) {
    auto check = reinterpret_cast<int32_t (*)(const char*, int32_t)>(dlsym(h, "UnlhaCheckArchive"));
    int r = check(argv[2], argc > 3 ? std::atoi(argv[3]) : 1);
    std::printf("%d\n", r);
    return r == 1 ? 0 : 1;
  }
  auto run =
      reinterpret_cast<int32_t (*)(uintptr_t, const char*, char*, uint32_t)>(dlsym(h, "Unlha"));
  char out[1024];
  int rc = run(0, argv[1], out, sizeof out);
  if (rc != 0) std::fprintf(stderr, "rc=%d %s\n", rc, out);
  return rc;
}
