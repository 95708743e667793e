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
#define CPG_VERSION_MINOR 1
#define CPG_VERSION_PATCH 0
#define CPG_VERSION_STRING "2.1.0"

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
CPG_API const char* cpg_version(void);

/*
 * Decides on the first min(size, CPG_INPUT_LIMIT) bytes at `data`: returns
 * CPG_UTF8 (65001), CPG_SHIFT_JIS (932) or CPG_UNDECIDED (0). The same bytes
 * give the same answer as the command line. An empty buffer gives 0, and so
 * does `data` NULL, whatever `size` says. The bytes are only read, and not
 * kept after the call.
 */
CPG_API int cpg_guess(const void* data, size_t size);

/*
 * The same decision on a file, read from its start: on CPG_OK, *code_page is
 * 65001, 932 or 0 as cpg_guess gives. On any other status *code_page is 0.
 * `path` is passed to fopen() as it is: on Windows that means the process's
 * ANSI code page (UTF-8 in programs that ask for it in their manifest); use
 * cpg_guess_file_w() for a name in any script. Returns
 * CPG_ERROR_INVALID_ARGUMENT when `path` or `code_page` is NULL.
 *
 * Special files are read as the codepage-guess command reads them, and so do
 * the bindings' file calls: a pipe or a FIFO is opened and read until its end
 * or CPG_INPUT_LIMIT bytes, waiting for its writer and its bytes as long as
 * they take (never polling, never answering for a pipe not yet written); a
 * character device is read the same way, so /dev/zero gives its first
 * CPG_INPUT_LIMIT bytes; a file that gives no bytes (empty, a directory
 * where the system lets it be opened) returns CPG_ERROR_NO_BYTES.
 */
CPG_API cpg_status cpg_guess_file(const char* path, int* code_page);

#ifdef _WIN32
/* cpg_guess_file() with a UTF-16 file name, as Windows' own functions take. */
CPG_API cpg_status cpg_guess_file_w(const wchar_t* path, int* code_page);
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

CPG_API cpg_stream* cpg_stream_new(void);

/*
 * Adds `size` bytes at `data` to the stream (copied). `data` NULL or `size` 0
 * adds nothing; so does a NULL stream.
 */
CPG_API void cpg_stream_feed(cpg_stream* stream, const void* data, size_t size);

/*
 * Returns the verdict on everything fed so far, as cpg_guess() gives it: 65001,
 * 932 or 0 (also for a NULL stream). The stream stays usable: more bytes may
 * be fed and the verdict asked again.
 */
CPG_API int cpg_stream_finish(const cpg_stream* stream);

/* Frees the stream; NULL does nothing. */
CPG_API void cpg_stream_free(cpg_stream* stream);

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
CPG_API int cpg_guess_rule(const void* data, size_t size, cpg_rule* rule);

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
  uint32_t size;               /* in: the caller's size; out: bytes filled */
  int32_t code_page;           /* the verdict, as cpg_guess() gives it */
  uint32_t rule;               /* a cpg_rule: what decided it */
  uint32_t examined;           /* bytes looked at: min(size, CPG_INPUT_LIMIT) */
  cpg_candidate candidates[2]; /* UTF-8 first, then Shift_JIS: the order of
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
CPG_API cpg_status cpg_explain(const void* data, size_t size, cpg_explanation* explanation);

/*
 * Kinds: what the bytes are, beside the verdict. The verdict answers an
 * editor that has already decided a file is text and asks which of two
 * encodings it is in; the kind says what the bytes are, so that a binary is
 * not called Shift_JIS and valid UTF-8 is called UTF-8 whatever the score
 * says. The rules, in order:
 *
 *  - no bytes: CPG_KIND_EMPTY;
 *  - a byte order mark of UTF-16 or UTF-32 followed by well-formed units of
 *    that encoding: CPG_KIND_UTF16LE ... CPG_KIND_UTF32BE;
 *  - a NUL byte among the first 8,192: CPG_KIND_BINARY, as git and grep
 *    decide;
 *  - no byte from 80 up: CPG_KIND_ISO_2022_JP when JIS escape sequences
 *    switch to a Japanese character set (and every escape is one of them),
 *    CPG_KIND_ASCII otherwise;
 *  - well-formed UTF-8 (shortest forms, no surrogates, nothing above
 *    U+10FFFF), with or without its byte order mark: CPG_KIND_UTF8;
 *  - well-formed EUC-JP that reads as Japanese: CPG_KIND_EUC_JP;
 *  - otherwise the Shift_JIS reading must read as Japanese (the score against
 *    the profile of Japanese text, and no more than one character in eight
 *    between the ASCII letters of a word, where accented Latin letters sit);
 *    then lines that are well-formed multi-byte UTF-8 beside lines that only
 *    Shift_JIS reads make CPG_KIND_MIXED, and Shift_JIS without any such line
 *    CPG_KIND_SHIFT_JIS;
 *  - anything else is CPG_KIND_UNKNOWN: Latin-1 and other single-byte text,
 *    broken text of any kind.
 *
 * README.md gives the figures these rules were measured on.
 */
typedef enum cpg_kind {
  CPG_KIND_EMPTY = 0,
  CPG_KIND_ASCII = 1,
  CPG_KIND_UTF8 = 2,
  CPG_KIND_UTF16LE = 3,
  CPG_KIND_UTF16BE = 4,
  CPG_KIND_UTF32LE = 5,
  CPG_KIND_UTF32BE = 6,
  CPG_KIND_SHIFT_JIS = 7,
  CPG_KIND_EUC_JP = 8,
  CPG_KIND_ISO_2022_JP = 9,
  CPG_KIND_MIXED = 10,
  CPG_KIND_BINARY = 11,
  CPG_KIND_UNKNOWN = 12
} cpg_kind;

/*
 * The name of a kind, as the JSON of codepage-scan and every binding write
 * it: "empty", "ascii", "utf-8", "utf-16le", "utf-16be", "utf-32le",
 * "utf-32be", "shift_jis", "euc-jp", "iso-2022-jp", "mixed", "binary",
 * "unknown". A static string; NULL for a value that is no kind.
 */
CPG_API const char* cpg_kind_name(int kind);

/* In cpg_description.flags: the bytes are the start of a longer input, so a
   character cut short by their end is no error. */
#define CPG_DESCRIBE_START_ONLY 1u
/* In cpg_description.flags: the caller says the text is Japanese, so a clean
   Shift_JIS or EUC-JP reading needs no evidence to be taken for it (a word in
   a file too short to tell from Latin text, say). */
#define CPG_DESCRIBE_JAPANESE 2u

/*
 * What the bytes are: 64 bytes, laid out alike on every platform, growing
 * only at the end as cpg_explanation does. The caller sets `size` to
 * sizeof(cpg_description) and `flags` before the call.
 */
typedef struct cpg_description {
  uint32_t size;      /* in: the caller's size; out: bytes filled */
  uint32_t flags;     /* in: CPG_DESCRIBE_START_ONLY, CPG_DESCRIBE_JAPANESE, or 0 */
  uint32_t kind;      /* a cpg_kind */
  int32_t code_page;  /* the verdict, as cpg_guess() gives it */
  uint32_t rule;      /* a cpg_rule: what decided the verdict */
  uint32_t bom;       /* 1 when a byte order mark starts the bytes */
  uint32_t ambiguous; /* 1 when the bytes are text (not binary), valid UTF-8
                         and valid Shift_JIS, and hold non-ASCII: the verdict
                         rests on the score */
  uint32_t reserved;  /* 0 */
  uint64_t examined;  /* bytes classified */
  uint64_t utf8_line; /* the first line (from 1) that is well-formed
                         multi-byte UTF-8, 0 if none: where mixed text
                         turns to UTF-8 */
  uint64_t sjis_line; /* the first line that only Shift_JIS reads, 0 if none */
  double score;       /* the Shift_JIS reading's score as Japanese text, 0 to
                         1, from its first 4,096 non-ASCII characters (or
                         fewer, where those already read plainly) */
} cpg_description;

/*
 * Describes the first min(size, CPG_INPUT_LIMIT) bytes at `data` (NULL counts
 * as empty): they are the whole input unless `flags` says otherwise or `size`
 * is over the limit. Fills *description as said above and returns CPG_OK,
 * or CPG_ERROR_INVALID_ARGUMENT when `description` is NULL or its `size` is
 * smaller than 64, leaving it as it was. The verdict is always cpg_guess()'s.
 * It neither allocates nor fails otherwise.
 */
CPG_API cpg_status cpg_describe(const void* data, size_t size, cpg_description* description);

/*
 * The same classification of an input of any length fed in pieces, as a
 * program that rewrites whole files needs: the kind covers every byte fed,
 * the verdict the first CPG_INPUT_LIMIT of them. A classifier keeps a copy of
 * those, reserved at once, and a few kilobytes besides, whatever it is fed.
 * The calls follow cpg_stream's: NULL from
 * cpg_classifier_new() when out of memory, feeding NULL or 0 bytes adds
 * nothing, and cpg_classifier_free(NULL) does nothing.
 * cpg_classifier_finish() describes what was fed so far (a whole input,
 * unless `flags` says CPG_DESCRIBE_START_ONLY) and leaves the classifier
 * usable; its results are cpg_describe()'s on the same bytes where those fit
 * within CPG_INPUT_LIMIT.
 */
typedef struct cpg_classifier cpg_classifier;

CPG_API cpg_classifier* cpg_classifier_new(void);
CPG_API void cpg_classifier_feed(cpg_classifier* classifier, const void* data, size_t size);
CPG_API cpg_status cpg_classifier_finish(const cpg_classifier* classifier,
                                         cpg_description* description);
CPG_API void cpg_classifier_free(cpg_classifier* classifier);

/*
 * Decoders: text of a kind to UTF-8. The kinds a decoder reads are
 * CPG_KIND_SHIFT_JIS (as Windows code page 932: the NEC and IBM extensions,
 * 5C and 7E as themselves, half-width katakana kept half width, the
 * user-defined codes in the private use area), CPG_KIND_EUC_JP (JIS X 0208,
 * half-width katakana, JIS X 0212, as glibc maps them), CPG_KIND_ISO_2022_JP
 * (ASCII, JIS X 0201 Roman and katakana, JIS X 0208, JIS X 0212),
 * CPG_KIND_UTF16LE ... CPG_KIND_UTF32BE (a byte order mark at the start is
 * skipped), and CPG_KIND_MIXED: each line by its own kind, UTF-8 and ASCII
 * lines as they are, the others as Shift_JIS (a line is held until its end,
 * or decided by its first 64 KiB).
 *
 * The input comes in pieces of any size; a character split between pieces is
 * carried over, so any split gives the same output. Each call writes into the
 * caller's buffer and says why it stopped: the input is used up, the output
 * has no room for the next character (give it CPG_DECODE_ROOM bytes or more to
 * be sure of progress), or a malformed sequence was met, for which nothing is
 * written and cpg_decoder_malformed() says where and why. Calling again goes
 * on after it. Nothing is allocated per call; a decoder is a few bytes of
 * state beside shared read-only tables.
 */
typedef struct cpg_decoder cpg_decoder;

#define CPG_DECODE_ROOM 4 /* the longest UTF-8 of one character */

/* In cpg_decoder_new(): codes whose character encodes back to another code
   (the NEC and IBM duplicates of code page 932) are malformed, as a
   conversion that must come back byte for byte needs. */
#define CPG_DECODE_ROUND_TRIP 1u

typedef enum cpg_decode_status {
  CPG_DECODE_INPUT_EMPTY = 0,     /* every byte given was taken */
  CPG_DECODE_OUTPUT_FULL = 1,     /* the output has no room for the next character */
  CPG_DECODE_MALFORMED = 2,       /* see cpg_decoder_malformed() */
  CPG_DECODE_INVALID_ARGUMENT = 3 /* nothing taken or written: see cpg_decode() */
} cpg_decode_status;

typedef enum cpg_malformation {
  CPG_MALFORMED_NONE = 0,
  CPG_MALFORMED_NOT_IN_ENCODING = 1,   /* a byte that cannot start a character there */
  CPG_MALFORMED_INCOMPLETE = 2,        /* a lead the next byte cannot follow (that byte
                                          is read afresh) */
  CPG_MALFORMED_NO_CHARACTER = 3,      /* a code the encoding leaves without one */
  CPG_MALFORMED_CUT_SHORT = 4,         /* the input ends inside a character */
  CPG_MALFORMED_ENCODED_ELSEWHERE = 5, /* with CPG_DECODE_ROUND_TRIP */
  CPG_MALFORMED_BAD_ESCAPE = 6         /* an escape ISO-2022-JP does not have */
} cpg_malformation;

/* The last malformed sequence: 24 bytes. */
typedef struct cpg_malformed {
  uint64_t offset;  /* of its first byte, from the start of the input */
  uint32_t length;  /* of the sequence: 1 to 8 bytes */
  uint32_t reason;  /* a cpg_malformation */
  uint8_t bytes[8]; /* the bytes themselves, for a caller that keeps them */
} cpg_malformed;

/*
 * A new decoder for `kind` with `flags` (0 or CPG_DECODE_ROUND_TRIP); NULL
 * for a kind it does not decode, or when out of memory.
 */
CPG_API cpg_decoder* cpg_decoder_new(int kind, unsigned flags);

/*
 * Decodes up to `size` bytes at `input` into the `room` bytes at `output`,
 * storing in *read the bytes taken and in *written the bytes written (either
 * pointer may be NULL). `last` non-zero: these bytes end the input, so a
 * character cut short is malformed. A NULL decoder, or NULL `input` with a
 * `size`, or NULL `output` with a `room`, takes and writes nothing and
 * returns CPG_DECODE_INVALID_ARGUMENT.
 */
CPG_API cpg_decode_status cpg_decode(cpg_decoder* decoder, const void* input, size_t size,
                                     void* output, size_t room, int last, size_t* read,
                                     size_t* written);

/* Fills *malformed with the last malformed sequence (zeros if none). */
CPG_API void cpg_decoder_malformed(const cpg_decoder* decoder, cpg_malformed* malformed);

/* Back to the start of an input, as a new decoder. */
CPG_API void cpg_decoder_reset(cpg_decoder* decoder);

/* Frees the decoder; NULL does nothing. */
CPG_API void cpg_decoder_free(cpg_decoder* decoder);

#ifdef __cplusplus
}
#endif

#endif /* CODEPAGE_GUESS_H */
