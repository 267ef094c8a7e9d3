/* Return codes shared by libzip32j.so (Zip), libzip32.so and libunzip32.so (UnZip).
 *
 * 0 is success. Every other value names one class of failure; the output buffer then holds a
 * readable reason. When several members fail in one call, the code of the first failure is
 * returned and the others are described after it as far as the buffer allows. */
#ifndef TAVRUN_ZIP_CODES_H
#define TAVRUN_ZIP_CODES_H

/* clang-format off */
#define TAVRUN_ZIP_OK 0
#define TAVRUN_ZIP_E_COMMAND_LINE 1   /* bad command line: unknown switch, missing path, bad quote */
#define TAVRUN_ZIP_E_ARCHIVE_OPEN 2   /* the archive is missing, unreadable or not a regular file */
#define TAVRUN_ZIP_E_NOT_ARCHIVE 3    /* not a ZIP archive, or its directory is damaged */
#define TAVRUN_ZIP_E_DATA 4           /* member data damaged: CRC, corrupt stream, wrong size */
#define TAVRUN_ZIP_E_SOURCE 5         /* a file to be added cannot be read (or changed meanwhile) */
#define TAVRUN_ZIP_E_WRITE 6          /* cannot write the archive or a file in the destination */
#define TAVRUN_ZIP_E_CANCELLED 7      /* the user cancelled; nothing was changed by the call's
                                         unfinished part */
#define TAVRUN_ZIP_E_UNSAFE_PATH 8    /* a member name leads outside the destination, repeats an
                                         earlier name, or is a symbolic link (never created) */
#define TAVRUN_ZIP_E_KEPT_EXISTING 9  /* an existing file was kept because nobody could be asked */
#define TAVRUN_ZIP_E_ENCRYPTED 10     /* an encrypted member and nobody to ask for the password,
                                         or an encryption method that cannot be decrypted */
#define TAVRUN_ZIP_E_UNSUPPORTED 11   /* a compression method this library cannot decode */
#define TAVRUN_ZIP_E_NOTHING 12       /* nothing to add: every file was skipped (e.g. hidden
                                         without -S) */
#define TAVRUN_ZIP_E_INTERNAL 13      /* out of memory or another unexpected failure */
#define TAVRUN_ZIP_E_ENGINE 14        /* libzip32.so is too old for this libzip32j.so */
#define TAVRUN_ZIP_E_PASSWORD 15      /* wrong password, or the archive skipped at the password
                                         question */

/* clang-format on */
#endif
