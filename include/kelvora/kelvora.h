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
 * that loaded the library), and every callback runs on that thread too,
 * from inside kelvora_init, kelvora_check_now, kelvora_run,
 * kelvora_process_messages, kelvora_cancel or kelvora_free. A call from
 * another thread does nothing and returns KELVORA_ERROR_THREAD
 * (kelvora_run and kelvora_process_messages: KELVORA_RUN_REFUSED;
 * kelvora_restarted and kelvora_checking: 0; kelvora_free leaves the handle
 * as it is); only kelvora_stop may be called from any thread. Inside a
 * callback, kelvora_free is carried out once the library call that ran the
 * callback returns (no callback comes after it), and kelvora_run and
 * kelvora_process_messages are refused. */
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
  KELVORA_ERROR_FAILED = 3,   /* the library refused: kelvora_last_error says why */
  KELVORA_ERROR_THREAD = 4    /* called from a thread other than the main one: nothing was done */
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
  KELVORA_INSTALL_FAILED = 9, /* on_restarted: the last upgrade was undone */
  KELVORA_CANCELLED = 10,     /* kelvora_cancel, or kelvora_free during the check, ended it; nothing was installed */
  KELVORA_PACKAGE_MANAGED = 11, /* a package manager owns the program: the update comes through it */
  /* the administrator's policy allows no such check: no server was asked;
   * reason names the value */
  KELVORA_REFUSED_BY_POLICY = 12
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

/* Who confirms that a release the updater installed starts. Until it is
 * confirmed the updater waits (30 s) and then puts the previous release back. */
typedef enum kelvora_confirm {
  KELVORA_CONFIRM_AT_START = 0, /* kelvora_init, in the run the updater started after the install */
  KELVORA_CONFIRM_BY_HOST = 1   /* the host, with kelvora_confirm_upgrade, once it has really started */
} kelvora_confirm;

typedef enum kelvora_run_result {
  KELVORA_RUN_DONE = 0,   /* the check ended (or the run was stopped); the program goes on */
  KELVORA_RUN_CLOSE = 1,  /* the updater runs: end the program now, it is started again after the install */
  KELVORA_RUN_REFUSED = 2 /* called from another thread or inside a callback (or a null handle): nothing ran */
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
/* Ends a check under way first: on_finished gets KELVORA_CANCELLED before
 * kelvora_free returns (inside a callback: see Threads above). */
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
/* Whose administrator policy applies: on Windows the registry key
 * `SOFTWARE\Policies\<company>\<product>\Update` (HKLM, then HKCU), on Linux
 * `/etc/kelvora/<product>.json`. An empty product (the default) is the
 * program's file name without its extension; company may be "". */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_policy_names(kelvora_updater* u, const char* company,
                                                                  const char* product);
/* Default KELVORA_CONFIRM_AT_START. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_set_confirm(kelvora_updater* u, kelvora_confirm confirm);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_on_finished(kelvora_updater* u, kelvora_finished_fn call, void* user);
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_on_restarted(kelvora_updater* u, kelvora_restarted_fn call,
                                                              void* user);

/* Starts the updater: finishes an install left half done and, in the run
 * the updater restarted, calls on_restarted. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_init(kelvora_updater* u);
/* 1 in the run the updater started after an upgrade. */
KELVORA_EXPORT int KELVORA_CALL kelvora_restarted(const kelvora_updater* u);
/* With KELVORA_CONFIRM_BY_HOST, in the run the updater started after an
 * upgrade: the new release works, the install becomes final and the updater
 * ends. KELVORA_ERROR_STATE when no install waited for this confirmation
 * (any other run, a second call, or the updater has already decided to put
 * the previous release back: this program is then ended). */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_confirm_upgrade(kelvora_updater* u);

/* Starts a check and returns at once. show_messages 1: a check the user
 * asked for ("up to date" and failures are shown too); 0: a quiet one, as
 * the interval's. While a check is under way it starts nothing. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_check_now(kelvora_updater* u, int show_messages);
KELVORA_EXPORT int KELVORA_CALL kelvora_checking(const kelvora_updater* u);
/* Ends the check under way: its transfer stops, what it downloaded is
 * removed, and on_finished gets KELVORA_CANCELLED before this returns.
 * KELVORA_OK also when no check was under way. */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_cancel(kelvora_updater* u);

/* Runs the library's loop on the main thread. Without a check interval it
 * runs until the check under way has ended (at once when none is). With a
 * check interval it runs the interval's checks (and kelvora_check_now's)
 * until kelvora_stop, or kelvora_free inside a callback. Either way it
 * returns KELVORA_RUN_CLOSE as soon as the program must end for its
 * restart. */
KELVORA_EXPORT kelvora_run_result KELVORA_CALL kelvora_run(kelvora_updater* u);
/* Ends the kelvora_run under way, or the next one when none is, after the
 * step it is in; a check under way stays under way (kelvora_checking) and
 * goes on at the next kelvora_run or kelvora_process_messages. The one
 * function that may be called from any thread (the handle must stay alive
 * until it returns). */
KELVORA_EXPORT kelvora_error KELVORA_CALL kelvora_stop(kelvora_updater* u);
/* For a host with a loop of its own: call it often (every 50 ms or so) on
 * the main thread; it runs what is due and returns KELVORA_RUN_CLOSE once
 * the program must end for its restart. */
KELVORA_EXPORT kelvora_run_result KELVORA_CALL kelvora_process_messages(kelvora_updater* u);

/* The last failing call's error on this handle, "" after a success (from
 * another thread: a fixed text saying that the call was on the wrong thread). */
KELVORA_EXPORT const char* KELVORA_CALL kelvora_last_error(const kelvora_updater* u);
KELVORA_EXPORT const char* KELVORA_CALL kelvora_outcome_name(kelvora_outcome outcome);

#ifdef __cplusplus
}
#endif

#endif
