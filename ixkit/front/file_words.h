// The files a command works on: given as words or, when there are none, typed at the console.
#ifndef IXKIT_FRONT_FILE_WORDS_H
#define IXKIT_FRONT_FILE_WORDS_H

// Reads the option words of a command whose only option letter is q (any other letter gives
// the usage text and status 255); returns the index of the first word that is not one.
int read_quiet_options(int count, char** words);

typedef void (*FileAction)(const char* name, void* context);

// Calls action for each of words[first] to words[count - 1]. With none, ends the run with 99
// in quiet mode; otherwise reads names from the console, one per line of at most
// line_size - 1 characters (at most 256), until input ends. Every line read is a name, an
// empty one too (it names no file that opens, and is reported like one).
void for_each_file(int count, char** words, int first, int line_size, FileAction action,
                   void* context);

#endif  // IXKIT_FRONT_FILE_WORDS_H
