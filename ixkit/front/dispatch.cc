// The command table: the letter after "-" chooses the command.
#include "ixkit/front/ascii.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/startup.h"

CommandFunction select_command(const char* word) {
  if (word[0] == '\0') return nullptr;
  switch (ascii_lower(static_cast<unsigned char>(word[1]))) {
    case 'a':
      return augment_command;
    case 'c':
      // -co..., -CONV: convert; any other word beginning with -c: check.
      if (ascii_lower(static_cast<unsigned char>(word[2])) == 'o') return convert_command;
      return check_command;
    case 'd':
      return deleted_command;
    case 'e':
      return extract_command;
    case 'f':
      return fixvers_command;
    case 'g':
      return gen_command;
    case 'i':
      return info_command;
    case 'l':
      return load_command;
    case 'n':
      return note_command;
    case 'r':
      return rebuild_command;
    case 's':
      return size_command;
    case 't':
      return tree_command;
    case 'u':
      return unload_command;
    case 'v':
      return run_version;
    case 'z':
      return zero_command;
    default:
      return nullptr;
  }
}
