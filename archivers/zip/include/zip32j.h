/* libzip32j.so: creates or updates ZIP archives. Its work is done by libzip32.so, which must
 * lie in the same directory (the library is linked against it, so loading fails with the
 * loader's message when it is missing).
 *
 *   int32_t Zip(uintptr_t window, const char *commandLine, char *output, uint32_t outputSize);
 *
 * Command line (UTF-8): blank-separated tokens; a double-quoted token may hold blanks and two
 * double quotes inside one stand for one. Switches come first:
 *
 *   [switches] "archive" "file" ["file" ...]
 *
 *   -u      update: add new members; replace a member of the same name only when the file
 *           is newer than the member (by its extended timestamp, else its DOS time with a
 *           2-second tolerance). Without -u a member of the same name is always replaced.
 *   -S      include hidden files (name starting with ".") and system files (neither a regular
 *           file nor a directory). Without it they are skipped; with it a system file, which
 *           cannot be archived, is a TAVRUN_ZIP_E_SOURCE failure. A directory always is.
 *   -v      a summary of every member in `output` (name, sizes, method).
 *   -j      store the bare file name, without its directories. Without it the path is stored
 *           relative (leading "/" and "." components dropped; ".." is refused).
 *   -q      no progress dialog.
 *   -o      give the archive the modification time of its newest member.
 *   -0      store without compression; -1 ... -9 deflate at that level (6 when none).
 *   -e      encrypt the members added with WinZip AES-256; -ez with the traditional PKWARE
 *           encryption (ZipCrypto). The password is the host's (recall_password in
 *           tavrun_host.h), never a switch: without one the call fails
 *           (TAVRUN_ZIP_E_COMMAND_LINE).
 *   --      ends the switches.
 *
 * Names are written in UTF-8 with the language-encoding flag; a name that is not valid UTF-8
 * keeps its bytes, without the flag; a name with a control character is refused
 * (TAVRUN_ZIP_E_SOURCE). Calls writing one archive at once take turns. Each member gets the
 * extended-timestamp field and its Unix mode, members larger than 4 GiB use ZIP64. Files up
 * to 128 MiB are deflated in memory (libdeflate) and stored whenever deflate would not make
 * them smaller; larger files stream through zlib and are stored when deflate saves less than
 * 1 % of their first 4 MiB. An existing archive is rewritten beside itself and renamed into
 * place (a symlinked archive path keeps its link), so a failed or cancelled call leaves it
 * exactly as it was. A file that is not a ZIP archive is never
 * overwritten; an empty (0-byte) file counts as a new archive.
 *
 * A progress dialog with a cancel button is shown, owned by `window`, unless -q is given or
 * `window` is 0 / not a window of this process.
 *
 * Result: TAVRUN_ZIP_OK (0) or one of the codes of tavrun_zip_codes.h; `output` receives a
 * NUL-terminated UTF-8 text of at most outputSize bytes (the reason on failure). */
#ifndef TAVRUN_ZIP32J_H
#define TAVRUN_ZIP32J_H

#include <stdint.h>

#include "tavrun_zip_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

int32_t Zip(uintptr_t window, const char* commandLine, char* output, uint32_t outputSize);

#ifdef __cplusplus
}
#endif

#endif
