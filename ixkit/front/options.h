// The option words every command reads: the words at the start of its word list that begin
// with "-" (and, for the commands that allow it, "+"); every letter is one option, ASCII
// upper case folded to lower case. A letter that takes a value takes the next unused word.
#ifndef IXKIT_FRONT_OPTIONS_H
#define IXKIT_FRONT_OPTIONS_H

struct OptionWords {
  int count;  // number of words
  char** words;
  int word;   // index of the option word being read
  int next;   // index of the next word not yet used (values are taken from here)
  char sign;  // first character of the option word: '-' or '+'
};

// Called for each option letter; returns 0 for a letter the command does not know, which
// prints the usage text and ends the run with 255, a positive value to go on with the next
// letter, or a negative value when it has taken the whole word (such as "--slow"): reading
// goes on with the next word. The letter q of a "-" word is not passed on: it sets quiet.
typedef int (*OptionLetter)(int letter, OptionWords* options, void* context);

// Reads the option words from the start of words and returns the index of the first word
// that is not one. plus_words: words beginning with "+" are option words too.
int read_options(int count, char** words, int plus_words, OptionLetter on_letter, void* context);

// Inside on_letter: takes the next unused word as the option's value; null when none is left.
const char* option_take_word(OptionWords* options);
// Inside on_letter: takes the next unused word as a number through option_value.
long option_take_number(OptionWords* options, const char* name, long minimum, long maximum);

#endif  // IXKIT_FRONT_OPTIONS_H
