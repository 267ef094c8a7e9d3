/* Stands between the engine and an archiver library to measure the time spent inside it.
 * While forwarding is on it loads the real library of the same name from
 * TAVRUN_BENCH_REAL_DIR and forwards every call; otherwise it answers at once (success, "is
 * an archive"), which leaves only the engine's own work to be timed. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define PROXY_EXPORT __attribute__((visibility("default")))

typedef int32_t (*ExecEntry)(uintptr_t, const char*, char*, uint32_t);
typedef int32_t (*CheckEntry)(const char*, int32_t);

static void* real_library = NULL;
static int forwarding = 0;
static int64_t elapsed_ns = 0;
static int64_t call_count = 0;

static int64_t now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void* real_entry(const char* name) {
  if (real_library == NULL) {
    const char* dir = getenv("TAVRUN_BENCH_REAL_DIR");
    if (dir != NULL && *dir != '\0') {
      char path[4096];
      snprintf(path, sizeof path, "%s/%s", dir, PROXY_LIBRARY);
      real_library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
      if (real_library == NULL) fprintf(stderr, "proxy: %s\n", dlerror());
    }
  }
  return real_library != NULL ? dlsym(real_library, name) : NULL;
}

__attribute__((unused)) static int32_t exec_call(const char* name, ExecEntry* cache,
                                                 uintptr_t window, const char* line, char* output,
                                                 uint32_t size) {
  int64_t start = now_ns();
  int32_t result = 0;
  if (forwarding && *cache == NULL) *cache = (ExecEntry)real_entry(name);
  if (forwarding && *cache != NULL) result = (*cache)(window, line, output, size);
  elapsed_ns += now_ns() - start;
  ++call_count;
  return result;
}

__attribute__((unused)) static int32_t check_call(const char* name, CheckEntry* cache,
                                                  const char* path, int32_t mode) {
  int64_t start = now_ns();
  int32_t result = 1;
  if (forwarding && *cache == NULL) *cache = (CheckEntry)real_entry(name);
  if (forwarding && *cache != NULL) result = (*cache)(path, mode);
  elapsed_ns += now_ns() - start;
  ++call_count;
  return result;
}

PROXY_EXPORT int64_t ProxyElapsedNs(void) {
  return elapsed_ns;
}
PROXY_EXPORT int64_t ProxyCalls(void) {
  return call_count;
}
/* 1: forward to the real library; 0: answer at once. */
PROXY_EXPORT void ProxySetForwarding(int on) {
  forwarding = on;
}
PROXY_EXPORT void ProxyReset(void) {
  elapsed_ns = 0;
  call_count = 0;
}

#if defined(PROXY_LZH)
static ExecEntry unlha;
static CheckEntry unlha_check;
PROXY_EXPORT int32_t Unlha(uintptr_t w, const char* l, char* o, uint32_t s) {
  return exec_call("Unlha", &unlha, w, l, o, s);
}
PROXY_EXPORT int32_t UnlhaCheckArchive(const char* p, int32_t m) {
  return check_call("UnlhaCheckArchive", &unlha_check, p, m);
}
#elif defined(PROXY_ZIP)
static ExecEntry zip;
PROXY_EXPORT int32_t Zip(uintptr_t w, const char* l, char* o, uint32_t s) {
  return exec_call("Zip", &zip, w, l, o, s);
}
#elif defined(PROXY_UNZIP)
static ExecEntry unzip;
static CheckEntry unzip_check;
PROXY_EXPORT int32_t UnZip(uintptr_t w, const char* l, char* o, uint32_t s) {
  return exec_call("UnZip", &unzip, w, l, o, s);
}
PROXY_EXPORT int32_t UnZipCheckArchive(const char* p, int32_t m) {
  return check_call("UnZipCheckArchive", &unzip_check, p, m);
}
#endif
