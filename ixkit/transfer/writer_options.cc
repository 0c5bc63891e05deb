// The command line of -unload and -deleted.
#include "ixkit/transfer/writer_options.h"

#include <cstring>

#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

int writer_letter(int letter, OptionWords*, void* context) {
  WriterOptions& o = *static_cast<WriterOptions*>(context);
  switch (letter) {
    case 'b':
      o.b = true;
      return 1;
    case 't':
      o.t = true;
      return 1;
    case 'v':
      o.v = true;
      return 1;
    case 'l':
      o.l = true;
      return o.allow_l ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace

void read_writer_options(int count, char** words, WriterOptions* options) {
  int first = read_options(count, words, 0, writer_letter, options);
  if ((options->b && options->t) || count - first != 2) usage();
  options->source = words[first];
  options->destination = words[first + 1];
}

void refuse_same_names(const char* source, const char* destination) {
  if (strcmp(source, destination) != 0) return;
  rt_print(rt_message(1788, 0, "%s: input and output file names are the same\n"), source);
  exit_run(255);
}
