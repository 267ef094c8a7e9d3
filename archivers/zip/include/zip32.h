/* libzip32.so: the ZIP engine behind libzip32j.so. Callers fill a request with the parsed
 * switches; the engine validates it again, so a caller's mistake gives a code, not a crash.
 * Conventions: UTF-8 strings, booleans as 0/1 in int32_t, `size` set to sizeof the struct
 * the caller was built with (a newer engine accepts an older, shorter request). */
#ifndef TAVRUN_ZIP32_H
#define TAVRUN_ZIP32_H

#include <stddef.h>
#include <stdint.h>

#include "tavrun_zip_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZIP32_INTERFACE_VERSION 2u

typedef struct Zip32Request {
  uint32_t size;                 /* sizeof(Zip32Request) */
  uintptr_t window;              /* owner of the progress dialog, 0 for none */
  int32_t level;                 /* 0 store, 1-9 deflate */
  int32_t updateNewerOnly;       /* -u */
  int32_t includeHidden;         /* -S */
  int32_t verbose;               /* -v */
  int32_t junkPaths;             /* -j */
  int32_t noProgress;            /* -q */
  int32_t archiveDateFromNewest; /* -o */
  const char* archivePath;
  const char* const* files; /* fileCount paths */
  uint32_t fileCount;
  /* Since interface 2; a request of interface 1 ends before it and means no encryption. The
   * password is never part of a request: the engine takes the host's (recall_password). */
  int32_t encryption; /* ZIP32_ENCRYPTION_*, -e / -ez */
} Zip32Request;

#define ZIP32_ENCRYPTION_NONE 0
#define ZIP32_ENCRYPTION_AES256 1      /* WinZip AES-256 */
#define ZIP32_ENCRYPTION_TRADITIONAL 2 /* the traditional PKWARE one (ZipCrypto) */
/* The size of an interface-1 request, the shortest one the engine accepts. */
#define ZIP32_REQUEST_SIZE_1 offsetof(Zip32Request, encryption)

/* The interface version this engine implements (ZIP32_INTERFACE_VERSION). */
uint32_t Zip32InterfaceVersion(void);

/* Creates or updates request->archivePath with the files; see zip32j.h for the behaviour.
 * Returns TAVRUN_ZIP_OK or a code of tavrun_zip_codes.h, with the text in `output`. */
int32_t Zip32Run(const Zip32Request* request, char* output, uint32_t outputSize);

/* The host table of libzip32j.so's caller (see tavrun_host.h); libzip32j.so hands it on. */
struct TavrunHost;
void Zip32SetHost(const struct TavrunHost* host);

#ifdef __cplusplus
}
#endif

#endif
