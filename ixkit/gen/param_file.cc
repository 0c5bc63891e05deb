// Reading a parameter file line by line inside the target directory, and sending each line
// to the maker of its kind.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// A line is read in pieces of at most this many bytes less one, joined until its line end.
constexpr int kPieceArea = 30000;
// Ends the input of a text file written by some old editors.
constexpr char kEndOfText = 26;

// The generic kind: the first field of the part is empty or holds a character that is not
// an ASCII digit.
bool generic_part(const char* part) {
  if (*part == ',') return true;
  for (const char* p = part; *p != '\0' && *p != ','; ++p) {
    if (*p < '0' || *p > '9') return true;
  }
  return false;
}

// Reads the next line, of any length, into line. 0 at the end of the file. A last line
// without a line end is still a line.
int read_line(FILE* stream, char* area, RtStrBuf* line) {
  rt_strbuf_clear(line);
  int any = 0;
  for (;;) {
    // Cleared first, so that a line end can be told from a zero byte inside the piece: the
    // text of such a line ends at its first zero byte, and the line still ends at its own
    // line end instead of running into the next one.
    memset(area, 0, kPieceArea);
    if (rt_fgets(area, kPieceArea, stream) == nullptr) return any;
    any = 1;
    if (!rt_strbuf_append(line, area, -1)) out_of_memory();
    if (memchr(area, '\n', kPieceArea - 1) != nullptr) return 1;
  }
}

}  // namespace

void trim_right(char* text) {
  size_t length = strlen(text);
  while (length > 0 && is_ascii_space(text[length - 1])) text[--length] = '\0';
}

void gen_line(const char* name, char* part, int flat) {
  if (*name == '\0') {
    // A line with parameters but no name: nothing can be made; a script must notice.
    rt_print(rt_message(970, 0, "%s: bad entry\n"), name);
    raise_exit_status(255);
    return;
  }
  int found = existing_file(name);
  if (found == 1) return;
  printf("%s\n", name);
  if (part == nullptr) {
    rt_print(rt_message(970, 0, "%s: bad entry\n"), name);
    return;
  }
  if (flat) {
    gen_line_flat(name);
    return;
  }
  if (found < 0) {
    // Something of that name is there but does not open as a Kelvra file (another kind of
    // file, a locked or broken one): a make would replace it, so it is left alone.
    ki_error(name);
    raise_exit_status(255);
    return;
  }
  int made;
  if (generic_part(part)) {
    made = gen_line_generic(name, part);
  } else {
    *rt_file_error() = 0;
    made = gen_line_v5(name, part);
    if (made == 0 && *rt_file_error() == 0) made = gen_line_v2(name, part);
  }
  if (made == 0) {
    raise_exit_status(255);
    ki_error(name);
  }
}

void gen_parameter_file(const char* parameter_file, const char* directory) {
  FILE* stream = rt_fopen(parameter_file, "r", 0);
  if (stream == nullptr) {
    rt_report_error(parameter_file);
    return;
  }
  // A working directory that cannot be read is not restored at the end; the run ends right
  // after the command, so the files are made all the same.
  char home[PATH_MAX];
  bool have_home = getcwd(home, sizeof home) != nullptr;
  if (chdir(directory) != 0) {
    rt_report_error(directory);
    rt_fclose(stream);
    return;
  }
  RtStrBuf* line = rt_strbuf_new("Gen String", kPieceArea, IXKIT_SOURCE, __LINE__, 0);
  char* area = static_cast<char*>(rt_alloc(kPieceArea, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (line == nullptr || area == nullptr) out_of_memory();

  bool more = true;
  while (more && read_line(stream, area, line)) {
    char* text = rt_strbuf_text(line);
    char* end_of_text = strchr(text, kEndOfText);
    if (end_of_text != nullptr) {
      // The text before it still counts; nothing after it is read.
      *end_of_text = '\0';
      more = false;
    }
    trim_right(text);
    if (text[0] == '\0' || text[0] == '#') continue;
    size_t length = strlen(text);
    int flat = length >= 2 && text[length - 2] == ',' &&
               (text[length - 1] == 'R' || text[length - 1] == 'S');
    char* part = strchr(text, ',');
    if (part != nullptr) *part++ = '\0';
    trim_right(text);
    gen_line(text, part, flat);
  }

  if (ferror(stream)) {
    // Lines after an unreadable stretch (or a directory given as the file) were not seen.
    rt_report_error(parameter_file);
    raise_exit_status(255);
  }
  rt_fclose(stream);
  rt_free(area, IXKIT_SOURCE, __LINE__, 0);
  rt_strbuf_free(line);
  if (have_home && chdir(home) != 0) rt_report_error(home);
}
