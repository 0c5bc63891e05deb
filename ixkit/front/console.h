// Console dialogue and the services every command shares.
#ifndef IXKIT_FRONT_CONSOLE_H
#define IXKIT_FRONT_CONSOLE_H

#include <cstdio>

// Directory for temporary files; empty until set_temp_directory.
extern char temp_directory[257];

// 1 yes, 0 no, -1 quit (only with allow_quit), or dflt on an empty line when dflt >= 0.
// prompt may be null. Ends the run with 99 in quiet mode, 255 at the end of input or after
// fifty unsuitable lines.
int ask_yes_no(const char* prompt, int allow_quit, int dflt);
// The number in words[index] (the word after the option word), between minimum and maximum;
// ends the run with 255 when it is missing or out of range. name is the option as typed.
long option_value(char** words, int count, int index, const char* name, long minimum, long maximum);
// The warning before a procedure that may destroy the original files; 1 when the operator
// answered y on the console device.
int confirm_destructive();
// Prints the out-of-memory message and ends the run with 255.
[[noreturn]] void out_of_memory();
// Proves that a file can be made in directory and records it in temp_directory; an unusable
// directory ends the process with status 1.
void set_temp_directory(const char* directory);

// A count as a message argument of rt_print_args ("%1"): number_text(n).text, valid to the
// end of the statement.
struct NumberText {
  char text[24];
};
inline NumberText number_text(long n) {
  NumberText t;
  snprintf(t.text, sizeof t.text, "%ld", n);
  return t;
}

#endif  // IXKIT_FRONT_CONSOLE_H
