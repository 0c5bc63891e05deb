// The message catalogue: a text file named by the configuration text RT_MESSAGES, lines
// "NUMBER TEXT" that replace the program's built-in texts of those numbers.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "ixkit/libs/rtcore.h"
#include "rtcore/internal.h"

namespace {

struct Catalogue {
  std::string file;  // empty: no catalogue configured
  struct stat seen;  // the file as it was read, to notice changes
  bool found = false;
  std::unordered_map<int, std::string> texts;
};

// Every catalogue read since start-up: texts handed out stay valid until rt_shutdown even
// when the catalogue is read again. The last one is current.
std::vector<std::unique_ptr<Catalogue>>* g_catalogues = nullptr;

// TEXT with \n, \t and \\ turned into their characters; any other backslash stays.
std::string unescape(const std::string& text, size_t from) {
  std::string out;
  out.reserve(text.size() - from);
  for (size_t i = from; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == 'n' || next == 't' || next == '\\') {
        out += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

// One line: the number, one blank or tab, then the text exactly (leading and trailing
// blanks belong to it). A number alone gives an empty text; other lines are ignored.
void add_line(Catalogue& catalogue, const std::string& line) {
  if (line.empty() || line[0] == '#') return;
  const char* start = line.c_str();
  char* end = nullptr;
  errno = 0;
  long number = strtol(start, &end, 10);
  if (end == start || errno == ERANGE || number < INT_MIN || number > INT_MAX) return;
  size_t at = static_cast<size_t>(end - start);
  if (at < line.size() && line[at] != ' ' && line[at] != '\t') return;
  catalogue.texts[static_cast<int>(number)] = unescape(line, at < line.size() ? at + 1 : at);
}

std::unique_ptr<Catalogue> load(const char* name) {
  auto catalogue = std::make_unique<Catalogue>();
  if (!name) return catalogue;
  catalogue->file = name;
  FILE* file = rt_fopen(name, "r", 0);
  if (!file) return catalogue;
  catalogue->found = fstat(fileno(file), &catalogue->seen) == 0;
  std::string line;
  while (rtcore::read_line(file, line)) add_line(*catalogue, line);
  rt_fclose(file);
  return catalogue;
}

// With reloading on, a catalogue is stale when the configured name or the file changed.
bool stale(const Catalogue& catalogue, const char* name) {
  if (catalogue.file != (name ? name : "")) return true;
  if (!name) return false;
  struct stat now;
  bool exists = stat(name, &now) == 0;
  if (exists != catalogue.found) return true;
  return exists && (now.st_mtim.tv_sec != catalogue.seen.st_mtim.tv_sec ||
                    now.st_mtim.tv_nsec != catalogue.seen.st_mtim.tv_nsec ||
                    now.st_size != catalogue.seen.st_size || now.st_ino != catalogue.seen.st_ino);
}

const Catalogue* current() {
  if (!g_catalogues) g_catalogues = new std::vector<std::unique_ptr<Catalogue>>;
  bool reload = (rtcore::options() & RT_OPTION_RELOAD_MESSAGES) != 0;
  if (!g_catalogues->empty() && !reload) return g_catalogues->back().get();
  const char* name = rt_config_text("RT_MESSAGES");
  if (g_catalogues->empty() || stale(*g_catalogues->back(), name)) {
    g_catalogues->push_back(load(name));
  }
  return g_catalogues->back().get();
}

// Whether the catalogue's text takes the arguments that the built-in text takes, so that
// it can be printed where that one is: a text of the catalogue is a printf format too.
bool same_arguments(const std::string& text, const char* built_in) {
  std::string wanted, taken;
  return rtcore::text_arguments(built_in, &wanted) &&
         rtcore::text_arguments(text.c_str(), &taken) && taken == wanted;
}

}  // namespace

// flags are reserved. A null default reads as the empty text. A catalogue text whose
// conversions differ from those of the default is not used: printed with the default's
// arguments it would read (or, with %n, write) what they are not.
const char* rt_message(int number, int, const char* dflt) {
  const char* fallback = dflt ? dflt : "";
  try {
    const Catalogue* catalogue = current();
    auto found = catalogue->texts.find(number);
    if (found == catalogue->texts.end() || !same_arguments(found->second, fallback)) {
      return fallback;
    }
    return found->second.c_str();
  } catch (const std::bad_alloc&) {
    return fallback;
  }
}

void rtcore::release_messages() {
  delete g_catalogues;
  g_catalogues = nullptr;
}
