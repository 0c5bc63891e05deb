// The answers of the dialogue: numbers with their quit escape, names, and the texts built
// from them.
#include <climits>
#include <cstdio>
#include <cstring>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/rtcore.h"

namespace {

[[noreturn]] void end_of_input() {
  rt_print("%s", rt_message(1276, 0, "EOF found on standard input.  Processing terminated.\n"));
  exit_run(255);
}

}  // namespace

int ask_number(const char* prompt) {
  if (quiet) exit_run(99);
  FILE* in = rt_stdin();
  for (;;) {
    printf("%s", prompt);
    fflush(stdout);
    // Wider than the answer, which stops at the largest int instead of overflowing.
    long long number = 0;
    int c = rt_getc(in);
    // Nothing left to read would ask again for ever: the run ends as at a yes/no question.
    if (c == -1) end_of_input();
    for (; c >= '0' && c <= '9'; c = rt_getc(in)) {
      number = number * 10 + (c - '0');
      if (number > INT_MAX) number = INT_MAX;
    }
    // The line end, or the end of input after digits (a last line without its line end).
    if (c == '\n' || c == -1) return static_cast<int>(number);
    int first = c;
    while (c != '\n' && c != -1) c = rt_getc(in);
    if ((first != 'q' && first != 'Q') || number != 0) return static_cast<int>(number);
    if (ask_yes_no(rt_message(943, 0, "Really quit? "), 0, -1) == 1) return -1;
  }
}

int ask_not_zero(const char* prompt) {
  int number;
  while ((number = ask_number(prompt)) == 0) {
  }
  return number;
}

void ask_comment(char* comment) {
  printf("%s", rt_message(984, 0, "Enter file comment (30 char max): "));
  fflush(stdout);
  if (!rt_input_line(comment, kGenCommentArea)) comment[0] = '\0';
}

void read_word_line(char* area, int size) {
  fflush(stdout);
  if (!rt_input_line(area, size)) area[0] = '\0';
  for (char* p = area; *p != '\0'; ++p) {
    if (is_ascii_space(*p)) {
      *p = '\0';
      break;
    }
  }
}

int ask_new_file_name(char* name) {
  printf("%s", rt_message(971, 0, "\nEnter filename: "));
  read_word_line(name, kGenNameArea);
  if (name[0] == '\0') return 0;
  // Also a file that is there but does not open as a Kelvra file: making one would replace
  // it.
  if (existing_file(name) != 0) {
    printf(rt_message(972, 0, "%s: File already exists\n"), name);
    return 0;
  }
  return 1;
}

void append_text(RtStrBuf* text, const char* piece) {
  if (!rt_strbuf_append(text, piece, -1)) out_of_memory();
}

void append_number(RtStrBuf* text, const char* format, int number) {
  char digits[32];
  snprintf(digits, sizeof digits, format, number);
  append_text(text, digits);
}
