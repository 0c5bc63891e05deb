// -gen: new empty files, from a question-and-answer dialogue or from a parameter file.
#ifndef IXKIT_GEN_GEN_H
#define IXKIT_GEN_GEN_H

#include <climits>
#include <cstdint>
#include <cstdio>

#include "ixkit/libs/rtcore.h"

// Areas for the file names typed in the dialogue: the platform's full path length, so that
// no name the system accepts is cut short.
constexpr int kGenNameArea = PATH_MAX;
// Area for a file comment: 30 characters and the terminator.
constexpr int kGenCommentArea = 31;

// ---- Parameter file ------------------------------------------------------------------

// Makes, inside directory, every file that the parameter file describes and that does not
// exist yet, one line per file.
void gen_parameter_file(const char* parameter_file, const char* directory);
// One line of a parameter file, cut into the file name and the parameter part (null when
// the line has no comma). flat: the whole line ended with ",R" or ",S".
void gen_line(const char* name, char* part, int flat);

// A later-format line: "A;B;keys[;table[;comment]]". Non-zero when the file was made;
// 0 without touching the file error code when the part has fewer than two semicolons.
// Cuts part in place once it has two.
int gen_line_v5(const char* name, char* part);
// An old-format line: "blocking,prealloc,description". Non-zero when the file was made; 0
// after message 970 when a comma is missing (file error code 2), or when the make failed.
int gen_line_v2(const char* name, char* part);
// A generic line: "parameters,description" for k_make. As gen_line_v2 for the result.
int gen_line_generic(const char* name, char* part);
// An empty flat file, unless a file of that name exists. Ends the run with 255 when it
// cannot be created.
void gen_line_flat(const char* name);

// ASCII white space: blank, tab, line feed, vertical tab, form feed, carriage return.
inline bool is_ascii_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
// Removes trailing ASCII white space in place.
void trim_right(char* text);

// ---- Dialogue ------------------------------------------------------------------------

// The whole dialogue: the session file, then one file after another.
void gen_dialogue();
// One file in the old format (k2_make) / the later formats (k5_make); its line is appended
// to session when that is not null.
void gen_dialogue_v2(FILE* session);
void gen_dialogue_v5(FILE* session);

// One numeric question: the number typed (0 for an empty line), or -1 when the operator
// typed q and confirmed. Ends the run with 99 in quiet mode, 255 at the end of input.
int ask_number(const char* prompt);
// Asks until the answer is not 0; -1 when the operator quit.
int ask_not_zero(const char* prompt);
// Prints the comment question and reads up to 30 characters into comment (kGenCommentArea
// bytes).
void ask_comment(char* comment);
// Prints the file-name question and reads the name of a new file into name (kGenNameArea
// bytes). 0 when nothing was typed or a file of that name exists (then said so).
int ask_new_file_name(char* name);
// Reads one console line into area and cuts it at its first white-space character.
void read_word_line(char* area, int size);
// 1 when name opens as a Kelvra file; 0 when nothing of that name exists; -1 when something
// of that name exists that does not open as one (the file error code says why).
int existing_file(const char* name);

// Appends text / one number formatted with format to a growing text; out of memory ends
// the run.
void append_text(RtStrBuf* text, const char* piece);
void append_number(RtStrBuf* text, const char* format, int number);

// ---- Translation table ---------------------------------------------------------------

// The 256-byte table described by the file (tracked storage, released by the caller with
// rt_free), or null when the name is null or empty or the file cannot be opened or read
// (reported).
uint8_t* read_translation_table(const char* name);
// The next character code that counts in a translation table file, or -1 at its end.
int next_table_char(FILE* stream);

#endif  // IXKIT_GEN_GEN_H
