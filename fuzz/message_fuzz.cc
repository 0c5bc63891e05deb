// libFuzzer target: the reader of the message catalogue (RT_MESSAGES). The input is the
// catalogue. Messages of every form the program prints are taken from it and printed as
// the program prints them: as printf formats with the arguments of their built-in texts, or
// with text arguments for "%1" to "%3". A catalogue must never make that crash or read
// what the arguments are not.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_files.h"

namespace {

// How a message is printed: the arguments its built-in text takes.
enum class Takes {
  nothing,
  int_value,
  long_value,
  unsigned_long,
  unsigned_value,
  text,
  text_int,
  four_ints,
  unsigned_long_double,
  two_texts,
  three_texts
};

struct Message {
  int number;
  const char* text;
  Takes takes;
};

// Messages of the program, one or more of each form.
const Message kMessages[] = {
    {943, "Really quit? ", Takes::nothing},
    {1026, "*** Aborted ***\n", Takes::nothing},
    {998, "Record size = %d\n", Takes::int_value},
    {1006, "record size       = %10d\n", Takes::int_value},
    {956, "# of keys:             %8d\n", Takes::int_value},
    {1068, "%ld records\n", Takes::long_value},
    {953, "file size:           %10ld", Takes::long_value},
    {726, "Record #%lu is being truncated\n", Takes::unsigned_long},
    {966, "total node space:    %10lu\n", Takes::unsigned_long},
    {955, "record size:         %10u", Takes::unsigned_value},
    {970, "%s: bad entry\n", Takes::text},
    {1064, "%s: too many keys (%d max)\n", Takes::text_int},
    {963, "tree height:           %8d/%d/%d.%d\n", Takes::four_ints},
    {967, "node space used:     %10lu (%.2f%%)\n", Takes::unsigned_long_double},
    {1023, "\nThat's volume %1, please mount volume %2\n", Takes::two_texts},
    {1073, "%1: Key mismatch.  Found %2, should have %3\n", Takes::three_texts},
};

char g_out[8192];

__attribute__((format(printf, 1, 2))) void print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_out, sizeof g_out, format, args);
  va_end(args);
}

// Prints text as the program prints message m.
void print_message(const Message& m, const char* text) {
  const char* name = "customers.dat";
  switch (m.takes) {
    case Takes::nothing:
      print(text);
      break;
    case Takes::int_value:
      print(text, 36);
      break;
    case Takes::long_value:
      print(text, 123456789L);
      break;
    case Takes::unsigned_long:
      print(text, 42UL);
      break;
    case Takes::unsigned_value:
      print(text, 80U);
      break;
    case Takes::text:
      print(text, name);
      break;
    case Takes::text_int:
      print(text, name, 16);
      break;
    case Takes::four_ints:
      print(text, 3, 2, 2, 5);
      break;
    case Takes::unsigned_long_double:
      print(text, 4096UL, 63.5);
      break;
    case Takes::two_texts:
      rt_format_args(g_out, text, "2", "1");
      break;
    case Takes::three_texts:
      rt_format_args(g_out, text, name, "7", "8");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start("message_fuzz");
  setenv("RT_MESSAGES", (fuzz::g_dir + "/messages").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::put_file(fuzz::g_dir + "/messages", data, size);
  for (const Message& m : kMessages) print_message(m, rt_message(m.number, 0, m.text));
  // The catalogue is read again for the next input; the libraries' output stays discarded.
  rt_shutdown();
  rt_set_stdio(stdin, fuzz::null_stream(), fuzz::null_stream());
  return 0;
}
