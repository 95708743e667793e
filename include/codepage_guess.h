/*
 * codepage_guess.h: tells whether text is UTF-8 or Shift_JIS.
 *
 * The same decision as the codepage-guess command: the first 1,048,576 bytes
 * are read as UTF-8 and as Shift_JIS; if exactly one reading meets no broken
 * byte it wins, otherwise the byte histograms of the two readings are compared
 * with reference profiles of Japanese text, and the better positive score wins
 * (UTF-8 on a tie). The answer is a Windows code page number: 65001 for UTF-8,
 * 932 for Shift_JIS, or 0 when the bytes give no reason to prefer either.
 *
 * No function keeps global state: all may be called from several threads at
 * once. A single stream is not safe to use from several threads at once;
 * different threads may use different streams. No function throws, aborts or
 * prints; every failure is a return value.
 */
#ifndef CODEPAGE_GUESS_H
#define CODEPAGE_GUESS_H

#include <stddef.h>
#include <stdint.h>

/*
 * The version of this header. A program built against one major version runs
 * with any later library of the same major version (the shared library's
 * name carries the major version: libcodepage_guess.so.2).
 */
#define CPG_VERSION_MAJOR 2
#define CPG_VERSION_MINOR 0
#define CPG_VERSION_PATCH 0
#define CPG_VERSION_STRING "2.0.0"

/*
 * CPG_API marks the functions of the library. Programs that link the Windows
 * DLL define CPG_DLL before including this header; everyone else needs
 * nothing.
 */
#ifndef CPG_API
#if defined(_WIN32) && defined(CPG_BUILDING_DLL)
#define CPG_API __declspec(dllexport)
#elif defined(_WIN32) && defined(CPG_DLL)
#define CPG_API __declspec(dllimport)
#elif defined(__GNUC__) && defined(CPG_BUILDING_DLL)
#define CPG_API __attribute__((visibility("default")))
#else
#define CPG_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The code pages the functions answer with. */
#define CPG_UTF8 65001
#define CPG_SHIFT_JIS 932
#define CPG_UNDECIDED 0

/* At most this many bytes of any input are examined; the rest are ignored. */
#define CPG_INPUT_LIMIT 1048576

/* What a call that can fail returns. */
typedef enum cpg_status {
  CPG_OK = 0,
  /* The file cannot be opened (the command line's "Input file is not
     accessible"). */
  CPG_ERROR_NOT_ACCESSIBLE = 1,
  /* The file gave no bytes: it is empty, or its first read failed (the
     command line's "No bytes read from PATH"). */
  CPG_ERROR_NO_BYTES = 2,
  CPG_ERROR_OUT_OF_MEMORY = 3,
  /* A required pointer argument was NULL. */
  CPG_ERROR_INVALID_ARGUMENT = 4
} cpg_status;

/*
 * Returns the library's version, as CPG_VERSION_STRING was when it was built:
 * a static string, never NULL.
 */
CPG_API const char *cpg_version(void);

/*
 * Decides on the first min(size, CPG_INPUT_LIMIT) bytes at `data`: returns
 * CPG_UTF8 (65001), CPG_SHIFT_JIS (932) or CPG_UNDECIDED (0). The same bytes
 * give the same answer as the command line. An empty buffer gives 0, and so
 * does `data` NULL, whatever `size` says. The bytes are only read, and not
 * kept after the call.
 */
CPG_API int cpg_guess(const void *data, size_t size);

/*
 * The same decision on a file, read from its start: on CPG_OK, *code_page is
 * 65001, 932 or 0 as cpg_guess gives. On any other status *code_page is 0.
 * `path` is passed to fopen() as it is: on Windows that means the process's
 * ANSI code page (UTF-8 in programs that ask for it in their manifest); use
 * cpg_guess_file_w() for a name in any script. Returns
 * CPG_ERROR_INVALID_ARGUMENT when `path` or `code_page` is NULL.
 */
CPG_API cpg_status cpg_guess_file(const char *path, int *code_page);

#ifdef _WIN32
/* cpg_guess_file() with a UTF-16 file name, as Windows' own functions take. */
CPG_API cpg_status cpg_guess_file_w(const wchar_t *path, int *code_page);
#endif

/*
 * Streaming: for callers that read a file in pieces. Feed the pieces in
 * order, then ask for the verdict; it equals cpg_guess() on the pieces joined,
 * however they were split. Bytes past the first CPG_INPUT_LIMIT are ignored.
 *
 * cpg_stream_new() returns a new stream, or NULL when out of memory. It holds
 * up to CPG_INPUT_LIMIT bytes, reserved at once, so that feeding can never
 * fail; only the bytes fed are ever touched.
 */
typedef struct cpg_stream cpg_stream;

CPG_API cpg_stream *cpg_stream_new(void);

/*
 * Adds `size` bytes at `data` to the stream (copied). `data` NULL or `size` 0
 * adds nothing; so does a NULL stream.
 */
CPG_API void cpg_stream_feed(cpg_stream *stream, const void *data, size_t size);

/*
 * Returns the verdict on everything fed so far, as cpg_guess() gives it: 65001,
 * 932 or 0 (also for a NULL stream). The stream stays usable: more bytes may
 * be fed and the verdict asked again.
 */
CPG_API int cpg_stream_finish(const cpg_stream *stream);

/* Frees the stream; NULL does nothing. */
CPG_API void cpg_stream_free(cpg_stream *stream);

/* Which rule decided, in an explanation. */
typedef enum cpg_rule {
  /* Neither reading was error-free, or both were, and no score was above
     zero. */
  CPG_RULE_UNDECIDED = 0,
  /* Exactly one reading met no broken byte. */
  CPG_RULE_ONLY_ERROR_FREE = 1,
  /* Both or neither met broken bytes: the better positive score won. */
  CPG_RULE_BEST_SCORE = 2
} cpg_rule;

/*
 * cpg_guess() with the rule that decided, stored in *rule unless `rule` is
 * NULL: as fast as cpg_guess(), for callers that want to say why without the
 * error counts and scores that cpg_explain() works out the long way.
 */
CPG_API int cpg_guess_rule(const void *data, size_t size, cpg_rule *rule);

/* One candidate encoding's reading of the bytes: 16 bytes. */
typedef struct cpg_candidate {
  int32_t code_page; /* 65001 or 932 */
  uint32_t errors;   /* bytes that broke the encoding's rules */
  double score;      /* cosine with the encoding's profile, 0 to 1; worked
                        out even where the error counts decided */
} cpg_candidate;

/*
 * Why the bytes got their answer: 48 bytes, laid out alike on every platform.
 *
 * The caller sets `size` to sizeof(cpg_explanation) before the call:
 *
 *   cpg_explanation explanation;
 *   explanation.size = sizeof explanation;
 *
 * Later versions of the library only ever add fields at the end. The library
 * fills the fields that lie within the caller's `size`, writes nothing past
 * it, and sets `size` to the bytes it filled: a program built with a newer
 * header, run with an older library, sees which fields it got.
 */
typedef struct cpg_explanation {
  uint32_t size;                /* in: the caller's size; out: bytes filled */
  int32_t code_page;            /* the verdict, as cpg_guess() gives it */
  uint32_t rule;                /* a cpg_rule: what decided it */
  uint32_t examined;            /* bytes looked at: min(size, CPG_INPUT_LIMIT) */
  cpg_candidate candidates[2];  /* UTF-8 first, then Shift_JIS: the order of
                                   examination, and of the tie-break */
} cpg_explanation;

/*
 * Explains the decision on the first min(size, CPG_INPUT_LIMIT) bytes at
 * `data` (NULL counts as empty): fills *explanation as said above and returns
 * CPG_OK. Returns CPG_ERROR_INVALID_ARGUMENT when `explanation` is NULL or its
 * `size` is smaller than the first version of the structure (48 bytes), and
 * CPG_ERROR_OUT_OF_MEMORY when the memory it needs cannot be had; on either,
 * *explanation is left as it was. The verdict is always cpg_guess()'s; this
 * call takes the long way (every byte through both readings), about ten times
 * slower, to report what it met.
 */
CPG_API cpg_status cpg_explain(const void *data, size_t size, cpg_explanation *explanation);

#ifdef __cplusplus
}
#endif

#endif /* CODEPAGE_GUESS_H */
