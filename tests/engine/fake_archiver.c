/* A stand-in for the archiver libraries with their entry points. It does no archiving: it
 * appends every call to the file named by TAVRUN_FAKE_ARCHIVER_LOG and answers as the test
 * arranged through the names it is given:
 *   command entry points return N when the command line holds "_rcN", else 0;
 *   archive checks return 0 for a path holding "notarc", N for "_chkN", else 1.
 * One source serves every library; the FAKE_* macros pick the entry points of each. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

/* Counts calls over the life of the loaded library, so a test can tell whether the caller
 * kept it loaded or loaded it anew. */
static int call_sequence = 0;

static void record(const char* line) {
  const char* path = getenv("TAVRUN_FAKE_ARCHIVER_LOG");
  if (path == NULL || *path == '\0') return;
  FILE* file = fopen(path, "ab");
  if (file == NULL) return;
  fputs(line, file);
  fputc('\n', file);
  fclose(file);
}

static int32_t number_after(const char* text, const char* marker, int32_t otherwise) {
  const char* found = strstr(text, marker);
  if (found == NULL) return otherwise;
  return (int32_t)strtol(found + strlen(marker), NULL, 10);
}

__attribute__((unused)) static int32_t command(const char* entry, uintptr_t window, const char* commandLine,
                       char* output, uint32_t outputSize) {
  char* line;
  size_t size = strlen(commandLine) + 128;
  line = malloc(size);
  if (line == NULL) return -1;
  snprintf(line, size, "%s|seq=%d|window=%lu|size=%u|%s", entry, ++call_sequence,
           (unsigned long)window, outputSize, commandLine);
  record(line);
  free(line);
  /* Use the whole buffer, so a caller that passed less than it claims is caught by ASan. */
  if (output != NULL && outputSize > 0) {
    memset(output, 'x', outputSize - 1);
    output[outputSize - 1] = '\0';
  }
  return number_after(commandLine, "_rc", 0);
}

__attribute__((unused)) static int32_t check(const char* entry, const char* path, int32_t mode) {
  char* line;
  size_t size = strlen(path) + 128;
  line = malloc(size);
  if (line == NULL) return -1;
  snprintf(line, size, "%s|seq=%d|mode=%d|%s", entry, ++call_sequence, mode, path);
  record(line);
  free(line);
  if (strstr(path, "notarc") != NULL) return 0;
  return number_after(path, "_chk", 1);
}

#if defined(FAKE_LZH)
#if !defined(FAKE_OMIT_COMMAND)
FAKE_EXPORT int32_t Unlha(uintptr_t window, const char* commandLine, char* output,
                          uint32_t outputSize) {
  return command("Unlha", window, commandLine, output, outputSize);
}
#endif
#if !defined(FAKE_OMIT_CHECK)
FAKE_EXPORT int32_t UnlhaCheckArchive(const char* path, int32_t mode) {
  return check("UnlhaCheckArchive", path, mode);
}
#endif
#endif

#if defined(FAKE_ZIP) && !defined(FAKE_OMIT_COMMAND)
FAKE_EXPORT int32_t Zip(uintptr_t window, const char* commandLine, char* output,
                        uint32_t outputSize) {
  return command("Zip", window, commandLine, output, outputSize);
}
#endif

#if defined(FAKE_UNZIP)
#if !defined(FAKE_OMIT_COMMAND)
FAKE_EXPORT int32_t UnZip(uintptr_t window, const char* commandLine, char* output,
                          uint32_t outputSize) {
  return command("UnZip", window, commandLine, output, outputSize);
}
#endif
#if !defined(FAKE_OMIT_CHECK)
FAKE_EXPORT int32_t UnZipCheckArchive(const char* path, int32_t mode) {
  return check("UnZipCheckArchive", path, mode);
}
#endif
#endif
