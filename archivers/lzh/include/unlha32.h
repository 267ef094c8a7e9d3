/*
 * libunlha32.so: LZH archives (create, update, extract, check).
 *
 * Conventions: every string is UTF-8 and NUL-terminated. `output` always receives a
 * NUL-terminated text of at most `outputSize` bytes (nothing is written when it is NULL or
 * `outputSize` is 0): on success a one-line summary, on failure the reason. `window` is the
 * native handle of the caller's window (a Qt widget's winId()) that owns any dialog; 0 means
 * no window: nothing is shown, nothing blocks, and whatever would need a question is not done
 * (the existing file or member is kept and reported with UNLHA_ERROR_KEPT).
 * The library keeps no state between calls; calls on different archives may run concurrently
 * from several threads (each call owns its buffers).
 *
 * Command lines: blank-separated tokens; a double-quoted token may hold blanks, and two
 * double quotes inside a quoted token stand for one. Switches start with "-" and come
 * between the command and the first path; every token after the first path is a path.
 *
 *   U [switches] "archive" "file" ["file" ...]
 *     Creates the archive, or updates it: other members are copied byte for byte; a member
 *     of the same name is replaced only when the file is newer. Members are stored under the
 *     file's own name (no directory), with level-2 headers, in CP932 whenever every character
 *     has a CP932 code (U+301C and the other characters Unix tables map differently take the
 *     Windows codes and read back as Windows shows them), else UTF-8, marked by its code-page
 *     record; a name that is not UTF-8 keeps its bytes (code page 932 when they are CP932, else
 *     no record). A name with a control character is refused (UNLHA_ERROR_SOURCE). A file is
 *     stored (-lh0-) whenever compression would not make it smaller. The new archive is
 *     written beside the old one and renamed over it, so a failure or a cancel leaves the old
 *     archive unchanged; calls writing one archive at once take turns (an advisory lock on it).
 *       -c1    replace members whatever their dates
 *       -n1    no progress dialog
 *       -y1    set the archive's modification time to that of its newest member
 *       -t1    replace members without asking first
 *       -jm0   -lh0- (stored)      -jm1, -jm2   -lh5- (8 KiB window, the default)
 *       -jm3   -lh6- (32 KiB)      -jm4         -lh7- (64 KiB)
 *
 *   E [switches] "archive" "destdir/"
 *     Extracts every member into the existing directory destdir. Every method and header
 *     level that liblhasa decodes is read; each member's CRC is checked; every file is
 *     written under a temporary name and renamed into place only when complete and correct.
 *     Absolute names come out below destdir; a member whose name holds ".." or control
 *     characters is skipped (the others are extracted), no path below destdir ever
 *     follows a symbolic link, symbolic-link members are never created, and setuid, setgid
 *     and sticky bits are dropped. An existing file is replaced only when the member is
 *     newer (see -c1) and, unless -y1, the user agrees.
 *       -x1    recreate the stored directories (otherwise every file goes into destdir)
 *       -c1    replace existing files even when they are newer than the member
 *       -n1    no progress dialog
 *       -y1    replace existing files without asking
 *       -ga2   never replace a read-only file (one whose owner has no write permission)
 *     A switch with the value 0 (-c0, -x0, ...) turns it off; -ga0 and -ga1 are accepted and
 *     change nothing.
 *
 * A kept file or member is not an error when a rule chose to keep it: the date (without
 * -c1), -ga2, or the user's "no". It is reported with UNLHA_ERROR_KEPT when only a question
 * could have allowed replacing it and no window was given to ask.
 * When several members fail, the code is that of the first failure; the other members are
 * still processed, except after a cancel or a failure to write. U changes the archive only
 * when every file went in: any failure leaves the old archive as it was.
 * Times: level-2 and level-3 headers hold UTC, level 0 and 1 local DOS time with a 2-second
 * step, which the date comparisons allow for.
 */
#ifndef TAVRUN_UNLHA32_H
#define TAVRUN_UNLHA32_H

#include <stdint.h>

#if defined(__GNUC__)
#define UNLHA32_API __attribute__((visibility("default")))
#else
#define UNLHA32_API
#endif

#define UNLHA_OK 0
#define UNLHA_ERROR_COMMAND 1   /* bad command line: unknown command or switch, missing path */
#define UNLHA_ERROR_ARCHIVE 2   /* the archive is missing, not a regular file or unreadable */
#define UNLHA_ERROR_NOT_LZH 3   /* not an LZH archive, or a damaged/truncated header */
#define UNLHA_ERROR_DATA 4      /* a member's data is damaged (CRC or length mismatch) */
#define UNLHA_ERROR_SOURCE 5    /* a file to archive is missing, not a regular file or unreadable */
#define UNLHA_ERROR_WRITE 6     /* cannot write (destination missing, read-only or full) */
#define UNLHA_ERROR_CANCELLED 7 /* the user cancelled; nothing half-written remains */
#define UNLHA_ERROR_UNSAFE                                              \
  8                              /* a member was refused: "..", control \
                                    characters, a symbolic link, or a path through one */
#define UNLHA_ERROR_KEPT 9       /* an existing file or member was kept: nobody could be asked */
#define UNLHA_ERROR_TOO_LARGE 10 /* a file of 4 GiB or more cannot be stored in LZH */
#define UNLHA_ERROR_METHOD 11    /* a member uses a compression method that cannot be decoded */
#define UNLHA_ERROR_INTERNAL 12  /* unexpected failure (out of memory, ...) */

#ifdef __cplusplus
extern "C" {
#endif

/* Runs one command line (see above). Returns UNLHA_OK or one of the UNLHA_ERROR_ codes. */
UNLHA32_API int32_t Unlha(uintptr_t window, const char* commandLine, char* output,
                          uint32_t outputSize);

/*
 * Returns 1 when `path` is a readable LZH archive, 0 otherwise (never 1 for an empty file,
 * a text file, or an archive without members).
 *   mode 1 (and any mode other than 2): every header is read to the end of the archive:
 *          each must be complete, its checksum or header CRC right, its level 0 to 3, its
 *          method look like "-xxx-", and its data must lie inside the file.
 *   mode 2: as mode 1, and every member is also decoded and its CRC compared.
 */
UNLHA32_API int32_t UnlhaCheckArchive(const char* path, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* TAVRUN_UNLHA32_H */
