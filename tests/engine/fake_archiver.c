/* A stand-in for the archiver libraries. It archives nothing: it appends every call to the
 * file named by TAVRUN_FAKE_ARCHIVER_LOG and answers as the names it is given ask:
 * a command line holding "_rcN" gets N (else 0); an archive path holding "notarc" gets 0,
 * "_chkN" gets N, anything else 1. The FAKE_* macros pick each library's entry points. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

/* Counts calls over the life of the loaded library: a reload would start again at 1. */
static int sequence = 0;

static int32_t answer(const char* entry, const char* detail, const char* text, const char* marker,
                      int32_t otherwise) {
  const char* path = getenv("TAVRUN_FAKE_ARCHIVER_LOG");
  FILE* file = path != NULL ? fopen(path, "ab") : NULL;
  if (file != NULL) {
    fprintf(file, "%s|seq=%d|%s|%s\n", entry, ++sequence, detail, text);
    fclose(file);
  }
  const char* found = strstr(text, marker);
  return found != NULL ? (int32_t)strtol(found + strlen(marker), NULL, 10) : otherwise;
}

__attribute__((unused)) static int32_t command(const char* entry, uintptr_t window,
                                               const char* line, char* output, uint32_t size) {
  char detail[64];
  snprintf(detail, sizeof detail, "window=%lu|size=%u", (unsigned long)window, size);
  /* Fill the whole buffer, so a caller passing less than it claims is caught by ASan. */
  if (output != NULL && size > 0) {
    memset(output, 'x', size - 1);
    output[size - 1] = '\0';
  }
  return answer(entry, detail, line, "_rc", 0);
}

__attribute__((unused)) static int32_t check(const char* entry, const char* path, int32_t mode) {
  char detail[32];
  snprintf(detail, sizeof detail, "mode=%d", mode);
  const int32_t result = answer(entry, detail, path, "_chk", 1);
  return strstr(path, "notarc") != NULL ? 0 : result;
}

#define COMMAND(name)                                                         \
  FAKE_EXPORT int32_t name(uintptr_t w, const char* l, char* o, uint32_t s) { \
    return command(#name, w, l, o, s);                                        \
  }
#define CHECK(name)                                    \
  FAKE_EXPORT int32_t name(const char* p, int32_t m) { \
    return check(#name, p, m);                         \
  }

#if defined(FAKE_LZH) && !defined(FAKE_OMIT_COMMAND)
COMMAND(Unlha)
#endif
#if defined(FAKE_LZH) && !defined(FAKE_OMIT_CHECK)
CHECK(UnlhaCheckArchive)
#endif
#if defined(FAKE_ZIP) && !defined(FAKE_OMIT_COMMAND)
COMMAND(Zip)
#endif
#if defined(FAKE_UNZIP) && !defined(FAKE_OMIT_COMMAND)
COMMAND(UnZip)
#endif
#if defined(FAKE_UNZIP) && !defined(FAKE_OMIT_CHECK)
CHECK(UnZipCheckArchive)
#endif
