// Shared between the rtcore sources; not part of the library's interface.
// The runtime is single-threaded: none of its state is guarded.
#ifndef RTCORE_INTERNAL_H
#define RTCORE_INTERNAL_H

#include <cstdio>
#include <string>

// Bits of rt_init_option.
enum : int {
  RT_OPTION_RELOAD_MESSAGES = 1,  // read the catalogue again when its file or name changes
  RT_OPTION_LEAK_REPORT = 2,      // leak report at rt_shutdown whatever RT_LEAK_REPORT says
};

namespace rtcore {

// The bits given to rt_init_option.
int options();

// Reads one line of any length without its "\n" or "\r\n". False at the end of the file
// with nothing read.
bool read_line(FILE* file, std::string& line);

// The arguments that text takes when printed as a format (rt_print) or a text with "%1" to
// "%3" (rt_print_args), in kinds: a letter for each printf argument in order, then the
// number of text arguments. False when the text holds a conversion that no text may hold
// (%n, "%2$s", an unknown one or a '%' at its end).
bool text_arguments(const char* text, std::string* kinds);

// Forgets the loaded message catalogues (rt_shutdown).
void release_messages();

// Prints every live tracked block to stream, oldest first; nothing when none is live.
void report_leaks(FILE* stream);

// True when memory diagnostics are wanted (the leak report is switched on).
bool leak_report_wanted();

}  // namespace rtcore

#endif  // RTCORE_INTERNAL_H
