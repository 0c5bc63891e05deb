// The option words at the start of a command's word list.
#include "ixkit/front/options.h"

#include "ixkit/front/ascii.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"

namespace {

bool is_option_word(const char* word, int plus_words) {
  return word[0] == '-' || (plus_words && word[0] == '+');
}

}  // namespace

int read_options(int count, char** words, int plus_words, OptionLetter on_letter, void* context) {
  OptionWords options{count, words, 0, 0, '-'};
  while (options.next < count && is_option_word(words[options.next], plus_words)) {
    options.word = options.next++;
    options.sign = words[options.word][0];
    for (const char* p = words[options.word] + 1; *p != '\0'; ++p) {
      int letter = ascii_lower(static_cast<unsigned char>(*p));
      if (letter == 'q' && options.sign == '-') {
        quiet = 1;
        continue;
      }
      int result = on_letter(letter, &options, context);
      if (result == 0) usage();
      if (result < 0) break;  // the command took the whole word
    }
  }
  return options.next;
}

const char* option_take_word(OptionWords* options) {
  if (options->next >= options->count) return nullptr;
  return options->words[options->next++];
}

long option_take_number(OptionWords* options, const char* name, long minimum, long maximum) {
  long value = option_value(options->words, options->count, options->next, name, minimum, maximum);
  ++options->next;
  return value;
}
