/* libunzip32.so: extracts and tests ZIP archives.
 *
 *   int32_t UnZip(uintptr_t window, const char *commandLine, char *output, uint32_t outputSize);
 *
 * Command line (UTF-8, tokens as for Zip in zip32j.h):
 *
 *   [switches] "archive" "destdir/"
 *
 *   -x      extract with the stored directories. Without it every file goes directly into
 *           destdir under its bare name and stored directories are not created.
 *   -qq     quiet: `output` holds only the reason of a failure.
 *   --i     no progress dialog.
 *   -o      overwrite existing files without asking.
 *   -n      never overwrite an existing file (kept silently, result 0).
 *           With neither -o nor -n the owner window is asked (yes / no / yes to all / no to
 *           all); without a window nobody can be asked, the file is kept and the result is
 *           TAVRUN_ZIP_E_KEPT_EXISTING. -o and -n together are a command-line error.
 *   --      ends the switches.
 *
 * Member names are UTF-8 when flagged (or given by a valid Unicode-path field); the other
 * names of an archive are decoded with one encoding chosen for the whole archive: CP932 when
 * the archive was made on MS-DOS/Windows and every name decodes as CP932, else UTF-8 when
 * every name is valid UTF-8, else CP932 when every name decodes, else (EUC-JP aside) CP437 for
 * an archive made on MS-DOS/Windows and the bytes as they are for one made elsewhere.
 *
 * Safety: the destination directory must exist. Absolute names and drive letters are read
 * relative to the destination. A member whose name has a ".." component or a control
 * character is skipped (TAVRUN_ZIP_E_UNSAFE_PATH after the other members are extracted);
 * two members with the same path refuse the whole archive before anything is written. No
 * symbolic link is ever created or followed: link members are skipped the same way. Each
 * file is written to a temporary name in its directory, read to its end so its CRC is
 * checked, never beyond its declared size, and only then renamed into place with its
 * modification time (extended-timestamp, NTFS or older Info-ZIP Unix field, else the DOS
 * time) and mode (setuid, setgid and sticky bits dropped; the owner may always read and
 * write). A damaged member leaves no file behind; the other members are still extracted.
 * Methods: stored, deflate, bzip2, LZMA, xz and Zstandard; other methods (Deflate64, PPMd,
 * ...) give TAVRUN_ZIP_E_UNSUPPORTED.
 * Memory follows the data an archive holds, never the sizes it only declares.
 *
 * Encrypted members (traditional PKWARE, WinZip AES 128/192/256): before anything is written
 * the password is tried that opened an archive earlier in the same run, then the owner window
 * asks for it (up to 5 wrong passwords; "この書庫をスキップ" or giving up writes nothing of the
 * archive and gives TAVRUN_ZIP_E_PASSWORD). A typed password is tried as UTF-8 and, for the
 * traditional encryption, as CP932. Without a window nobody is asked: encrypted members give
 * TAVRUN_ZIP_E_ENCRYPTED and are not written. A member that fails its CRC or authentication
 * code after decryption is not written (TAVRUN_ZIP_E_PASSWORD).
 *
 *   int32_t UnZipCheckArchive(const char *path, int32_t mode);
 *
 * Returns 1 when `path` is a regular file holding a readable ZIP archive whose central
 * directory and local headers agree (an empty archive of 22 bytes counts), else 0: never 1
 * for an empty file, a text file, a truncated archive, two members of one name, or members
 * whose headers or data overlap or lie outside the archive. The archive may have data in
 * front of it (a self-extracting program; offsets counted from the file or from the
 * archive) and bytes after its end record; extraction reads the same archive.
 * Archives whose local headers hold the sizes beside a data descriptor (as libarchive
 * writes them) are valid.
 * mode TAVRUN_ZIP_CHECK_FULL (2) also reads every member to its end and checks its CRC
 * (encrypted members and unknown methods are then not valid); every other mode, including
 * the 1 that the program passes, checks the structure only. */
#ifndef TAVRUN_UNZIP32_H
#define TAVRUN_UNZIP32_H

#include <stdint.h>

#include "tavrun_zip_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TAVRUN_ZIP_CHECK_STRUCTURE 1
#define TAVRUN_ZIP_CHECK_FULL 2

int32_t UnZip(uintptr_t window, const char* commandLine, char* output, uint32_t outputSize);
int32_t UnZipCheckArchive(const char* path, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif
