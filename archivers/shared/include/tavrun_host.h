/*
 * The host contract: what a program that loads the archiver libraries offers them.
 *
 * Each library (libunlha32.so, libzip32.so, libunzip32.so; libzip32j.so passes the table on to
 * libzip32.so) exports TavrunSetHost. A host calls it once after loading the library, before
 * its first call of an entry point, with a table that stays valid until the process ends (or
 * until the next TavrunSetHost). A library never looks for its host any other way: no object
 * names, no toolkit properties, no symbols of the executable. Without a table, or with a NULL
 * member, a library behaves as for a host that offers nothing: nobody cancels, questions are
 * asked through its own dialogs when the call has a window (and not at all without one),
 * nothing is remembered beyond one call, nothing is reported, one thread a call.
 *
 * Conventions: strings are UTF-8 and NUL-terminated; booleans are int32_t (0 false);
 * `context` is the host's own pointer, handed back unchanged. The table starts with its size,
 * so it can grow: a library reads only the members that lie inside `size`.
 *
 * Threads: `cancel_requested`, `threads_per_call` and the memory functions may be called
 * from any thread at any time. `report` is called on the thread that entered the library's
 * entry point, before that entry point returns, so a host can tie it to the call it made
 * from that thread. The owner window of the entry points (`window`) stays what it is: the
 * native id of a widget of this process; dialogs run on the toolkit's UI thread, which must
 * process events while a call with a window runs on another thread.
 */
#ifndef TAVRUN_HOST_H
#define TAVRUN_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a call reports about one file of its own (`report`). */
enum {
  /* A file or member was written: an archive member added or replaced, a file extracted. */
  TAVRUN_EVENT_WRITTEN = 1,
  /* A file or member was left as it stood on purpose: a newer member or file already there,
     an answer "no", a switch that forbids replacing, a read-only file. `text` says why. */
  TAVRUN_EVENT_KEPT = 2
};

/* Answers to an overwrite question. */
enum {
  TAVRUN_ANSWER_NONE = 0, /* nothing remembered / nobody answered */
  TAVRUN_ANSWER_YES = 1,
  TAVRUN_ANSWER_NO = 2,
  TAVRUN_ANSWER_YES_TO_ALL = 3,
  TAVRUN_ANSWER_NO_TO_ALL = 4
};

/* Answers of `ask_password`. */
enum {
  TAVRUN_PASSWORD_NONE = 0,  /* the host has none: the library asks through its own dialog */
  TAVRUN_PASSWORD_GIVEN = 1, /* `password` holds it */
  TAVRUN_PASSWORD_SKIP = 2,  /* skip this archive */
  TAVRUN_PASSWORD_STOP = 3   /* stop the whole run (the host's cancel is then set) */
};

typedef struct TavrunHost {
  /* sizeof(TavrunHost) as the host was built with it. */
  uint32_t size;
  /* TAVRUN_HOST_VERSION as the host was built with it. */
  uint32_t version;
  void* context;

  /* Nonzero once the run is to stop: running calls give up (nothing half-written stays) and
     return their cancel code, and no more questions are asked. */
  int32_t (*cancel_requested)(void* context);
  /* Asks the host to stop the whole run, as a user's "stop" in a library dialog means. */
  void (*request_cancel)(void* context);

  /* Memory for one run: a "to all" answer to a question (`key` names the library, title and
     question) and the password that opened an archive, so later calls of the same run reuse
     them. `recall_answer` returns TAVRUN_ANSWER_NONE when nothing is kept.
     `recall_password` copies at most `size` bytes (NUL included) and returns nonzero when a
     password is kept. The host forgets (and wipes) both when its run ends. */
  int32_t (*recall_answer)(void* context, const char* key);
  void (*remember_answer)(void* context, const char* key, int32_t answer);
  int32_t (*recall_password)(void* context, char* password, uint32_t size);
  void (*remember_password)(void* context, const char* password);

  /* A password from the host itself (a file, a terminal prompt) for `archive`; `retry` is
     nonzero when the last one was wrong. Returns a TAVRUN_PASSWORD_* answer; with
     TAVRUN_PASSWORD_NONE the library asks through its own dialog when the call has a window. */
  int32_t (*ask_password)(void* context, const char* archive, int32_t retry, char* password,
                          uint32_t size);

  /* What happened to one file of the call: a TAVRUN_EVENT_* for `path` (the member's name or
     the file written), with a readable reason in `text` (may be empty). */
  void (*report)(void* context, int32_t event, const char* path, const char* text);

  /* How many threads one call may use for its own work (1 or more): the host's budget, so
     that calls running at once never use more processors than there are. */
  uint32_t (*threads_per_call)(void* context);
} TavrunHost;

#define TAVRUN_HOST_VERSION 1

/* Exported by every library; `host` may be NULL (no host). */
typedef void (*TavrunSetHostFunction)(const TavrunHost* host);
#define TAVRUN_SET_HOST_SYMBOL "TavrunSetHost"

#ifdef __cplusplus
}
#endif

#endif
