/* A stand-in for the archiver libraries. It archives nothing: it appends every call to the
 * file named by TAVRUN_FAKE_ARCHIVER_LOG and answers as the names it is given ask:
 * a command line holding "_rcN" gets N (else 0); an archive path holding "notarc" gets 0,
 * "_chkN" gets N, anything else 1. A command line holding "_kept" reports to the host that it
 * kept what stood there and wrote nothing. FAKE_COMMAND and FAKE_CHECK name the entry points. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavrun_host.h"

#define FAKE_EXPORT __attribute__((visibility("default")))

static const TavrunHost* host;

FAKE_EXPORT void TavrunSetHost(const TavrunHost* given) {
  host = given;
}

static int32_t answer(const char* call, const char* text, const char* marker, int32_t otherwise) {
  const char* path = getenv("TAVRUN_FAKE_ARCHIVER_LOG");
  FILE* file = path != NULL ? fopen(path, "ab") : NULL;
  if (file != NULL) {
    fprintf(file, "%s %s\n", call, text);
    fclose(file);
  }
  const char* found = strstr(text, marker);
  return found != NULL ? (int32_t)strtol(found + strlen(marker), NULL, 10) : otherwise;
}

#ifdef FAKE_COMMAND
FAKE_EXPORT int32_t FAKE_COMMAND(uintptr_t window, const char* line, char* output, uint32_t size) {
  char call[64];
  snprintf(call, sizeof call, "%s %lu/%u", __func__, (unsigned long)window, size);
  /* Fill the whole buffer, so a caller passing less than it claims is caught by ASan. */
  if (output != NULL && size > 0) {
    memset(output, 'x', size - 1);
    output[size - 1] = '\0';
  }
  if (host != NULL && strstr(line, "_kept") != NULL) {
    host->report(host->context, TAVRUN_EVENT_KEPT, line, "the member in the archive is newer");
  }
  return answer(call, line, "_rc", 0);
}
#endif

#ifdef FAKE_CHECK
FAKE_EXPORT int32_t FAKE_CHECK(const char* path, int32_t mode) {
  char call[64];
  snprintf(call, sizeof call, "%s %d", __func__, mode);
  const int32_t result = answer(call, path, "_chk", 1);
  return strstr(path, "notarc") != NULL ? 0 : result;
}
#endif
