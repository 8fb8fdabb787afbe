/* The C interface: the front door (kelvora::Updater) for C programs, other
 * languages and programs built by another compiler. Plain C, one opaque
 * handle, UTF-8 strings everywhere. Strings handed in are copied; strings
 * handed out stay valid until the next call on the same handle (or, in a
 * callback, until it returns).
 *
 *   kelvora_updater* u = kelvora_create();
 *   kelvora_set_info_address(u, "https://example.org/myapp/info.txt");
 *   kelvora_set_version(u, "1.4.0");
 *   kelvora_init(u);
 *   kelvora_check_now(u, 1);
 *   if (kelvora_run(u) == KELVORA_RUN_CLOSE) ... end the program for its restart
 *
 * Threads: every function is called on the program's main thread (the one
 * that first called into the library), and every callback runs on that
 * thread too, from inside kelvora_init, kelvora_run or
 * kelvora_process_messages. A callback must not call kelvora_free,
 * kelvora_init, kelvora_run or kelvora_process_messages on its handle. */
#ifndef KELVORA_KELVORA_H
#define KELVORA_KELVORA_H

#include "kelvora/kelvora_export.h"

#if defined(_WIN32)
#define KELVORA_CALL __cdecl
#else
#define KELVORA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kelvora_updater kelvora_updater;

typedef enum kelvora_error {
  KELVORA_OK = 0,
  KELVORA_ERROR_ARGUMENT = 1, /* a null handle or string, or a value out of range */
  KELVORA_ERROR_STATE = 2,    /* a setter after kelvora_init, or a check before it */
  KELVORA_ERROR_FAILED = 3    /* the library refused: kelvora_last_error says why */
} kelvora_error;

/* How a check ended (kelvora::Outcome). Later releases may add values. */
typedef enum kelvora_outcome {
  KELVORA_UP_TO_DATE = 0,
  /* on_finished: the updater runs, end the program now; on_restarted: this
   * run is the new release */
  KELVORA_UPDATED = 1,
  KELVORA_DECLINED = 2,
  KELVORA_LATER = 3,
  KELVORA_FAILED = 4,
  KELVORA_VERIFICATION_REFUSED = 5,
  KELVORA_NO_INFO_FILE = 6,
  KELVORA_CONNECTION_PROBLEM = 7,
  KELVORA_OPENED_WEB_PAGE = 8,
  KELVORA_INSTALL_FAILED = 9 /* on_restarted: the last upgrade was undone */
} kelvora_outcome;

/* Who talks to the user. */
typedef enum kelvora_ui {
  /* the library's own: on Windows the native windows in a GUI program, else
   * the console's questions */
  KELVORA_UI_INSTALLED = 0,
  KELVORA_UI_CONSOLE = 1,            /* questions and a progress line on the terminal; without one, "no" */
  KELVORA_UI_CONSOLE_ASSUME_YES = 2, /* the terminal, answering yes by itself */
  /* no messages and no questions: an upgrade found is installed (a progress
   * line still goes to the terminal) */
  KELVORA_UI_NONE = 3
} kelvora_ui;

typedef enum kelvora_run_result {
  KELVORA_RUN_DONE = 0, /* the check ended; the program goes on */
  KELVORA_RUN_CLOSE = 1 /* the updater runs: end the program now, it is started again after the install */
} kelvora_run_result;

typedef struct kelvora_result {
  kelvora_outcome outcome;
  int user_started;            /* 1: started by kelvora_check_now(u, 1) */
  const char* offered_version; /* "#version" (or "#date") of the info file, "" when none was read */
  const char* reason;          /* why, for FAILED, VERIFICATION_REFUSED, INSTALL_FAILED; else "" */
  const char* address;         /* the address concerned, or "" */
  int status_code;             /* the HTTP status of a server's refusal, 0 otherwise */
} kelvora_result;

/* Runs on the main thread once at the end of every check (from kelvora_run
 * or kelvora_process_messages). The result lives until it returns. */
typedef void(KELVORA_CALL* kelvora_finished_fn)(const kelvora_result* result, void* user);
/* Runs on the main thread inside kelvora_init, in the run the updater
 * started after an upgrade: KELVORA_UPDATED (offered_version is the release
 * installed) or KELVORA_INSTALL_FAILED. */
typedef kelvora_finished_fn kelvora_restarted_fn;

/* NULL only when out of memory. */
KELVORA_EXPORT kelvora_updater* KELVORA_CALL kelvora_create(void);
KELVORA_EXPORT void KELVORA_CALL kelvora_free(kelvora_updater* u);

/* Before kelvora_init. An address and a version (or a release date,
 * month/day/year) are required. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_info_address(kelvora_updater* u, const char* address);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_version(kelvora_updater* u, const char* version);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_release_date(kelvora_updater* u, const char* date);
/* The publisher's keys, blank-separated; none: info files need no signature. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_public_keys(kelvora_updater* u, const char* keys);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_ui(kelvora_updater* u, kelvora_ui ui);
/* A check by itself this often (while the loop runs); 0: only kelvora_check_now. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_check_interval(kelvora_updater* u, unsigned int milliseconds);
/* The first argument the restarted program gets ("/afterupgrade"). An
 * interpreter that would read it as a script takes an option of its own,
 * e.g. Python's "-Xkelvora-restarted". */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_restart_parameter(kelvora_updater* u, const char* parameter);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_on_finished(kelvora_updater* u, kelvora_finished_fn call, void* user);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_on_restarted(kelvora_updater* u, kelvora_restarted_fn call,
                                                              void* user);

/* Starts the updater: finishes an install left half done and, in the run
 * the updater restarted, calls on_restarted. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_init(kelvora_updater* u);
/* 1 in the run the updater started after an upgrade. */
KELVORA_EXPORT int KELVORA_CALL kelvora_restarted(const kelvora_updater* u);

/* Starts a check and returns at once. show_messages 1: a check the user
 * asked for ("up to date" and failures are shown too); 0: a quiet one, as
 * the interval's. While a check is under way it starts nothing. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_check_now(kelvora_updater* u, int show_messages);
KELVORA_EXPORT int KELVORA_CALL kelvora_checking(const kelvora_updater* u);

/* Runs the library's loop on the main thread until the check under way has
 * ended (at once when none is); returns KELVORA_RUN_CLOSE when the program
 * must end for its restart. */
KELVORA_EXPORT kelvora_run_result KELVORA_CALL kelvora_run(kelvora_updater* u);
/* For a host with a loop of its own: call it often (every 50 ms or so) on
 * the main thread; it runs what is due and returns KELVORA_RUN_CLOSE once
 * the program must end for its restart. */
KELVORA_EXPORT kelvora_run_result KELVORA_CALL kelvora_process_messages(kelvora_updater* u);

/* The last failing call's error on this handle, "" after a success. */
KELVORA_EXPORT const char* KELVORA_CALL kelvora_last_error(const kelvora_updater* u);
KELVORA_EXPORT const char* KELVORA_CALL kelvora_outcome_name(kelvora_outcome outcome);

#ifdef __cplusplus
}
#endif

#endif
