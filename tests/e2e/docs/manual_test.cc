// The manual page agrees with the program and the README: its synopsis is the usage text the
// program prints; every command has a section with the README's synopsis line and every
// option the README's tables give; the exit statuses and configuration values the README names
// are there; the build filled in the project's version.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

// One line of the formatted text: the request it came from ("SH", "SS", "TP" for the tag line
// after .TP, "" for text) and its words with the font and character escapes resolved.
struct ManLine {
  std::string request;
  std::string text;
};

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'f') {
      i++;  // a font change: \fB, \fI, \fR, \fP
    } else if (c == '(') {
      const std::string name = s.substr(i + 1, 2);
      i += 2;
      out += name == "lq" || name == "rq" ? "\"" : name == "mu" ? "x" : name == "di" ? "/" : "?";
    } else if (c == 'e') {
      out += '\\';
    } else if (c != '&') {
      out += c;  // \- and "\ "
    }
  }
  return out;
}

// The arguments of a request line, with double quotes grouping words.
std::vector<std::string> arguments(const std::string& rest) {
  std::vector<std::string> args;
  for (size_t i = 0; i < rest.size();) {
    if (rest[i] == ' ') {
      i++;
    } else if (rest[i] == '"') {
      size_t end = rest.find('"', i + 1);
      if (end == std::string::npos) end = rest.size();
      args.push_back(rest.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = std::min(rest.find(' ', i), rest.size());
      args.push_back(rest.substr(i, end - i));
      i = end;
    }
  }
  return args;
}

std::vector<ManLine> read_manual() {
  std::vector<ManLine> lines;
  std::istringstream in(read_file(IXKIT_MANUAL));
  bool tag_next = false;
  for (std::string line; std::getline(in, line);) {
    ManLine out;
    if (line.rfind(".\\\"", 0) == 0) continue;  // a comment
    if (line.empty() || line[0] != '.') {
      out.text = unescape(line);
    } else {
      const size_t space = std::min(line.find(' '), line.size());
      const std::string request = line.substr(1, space - 1);
      const std::vector<std::string> args = arguments(line.substr(space));
      if (request == "TP") {
        tag_next = true;
        continue;
      }
      const bool alternating = request.size() == 2 && request != "SH" && request != "SS" &&
                               request != "TP" && request != "PP" && request != "RS" &&
                               request != "RE" && request != "EX" && request != "EE" &&
                               request != "TH" && request != "nf" && request != "fi" &&
                               request != "br";
      if (request == "B" || request == "I" || request == "SH" || request == "SS") {
        for (const std::string& a : args) out.text += (out.text.empty() ? "" : " ") + a;
      } else if (alternating) {
        for (const std::string& a : args) out.text += a;
      } else {
        continue;  // layout requests, comments, the title line
      }
      out.text = unescape(out.text);
      if (request == "SH" || request == "SS") out.request = request;
    }
    if (tag_next && out.request.empty()) out.request = "TP";
    tag_next = false;
    lines.push_back(out);
  }
  return lines;
}

// The lines of a section (.SH title, or .SS whose title begins with the word), up to the next
// section of the same or a higher level.
std::vector<ManLine> section(const std::vector<ManLine>& lines, const std::string& request,
                             const std::string& title) {
  std::vector<ManLine> found;
  bool inside = false;
  for (const ManLine& l : lines) {
    if (l.request == "SH" || (request == "SS" && l.request == "SS")) {
      const bool match =
          l.request == request && (l.text == title || l.text.rfind(title + ":", 0) == 0);
      inside = match;
      if (match) continue;
    }
    if (inside) found.push_back(l);
  }
  return found;
}

std::string joined(const std::vector<ManLine>& lines) {
  std::string text;
  for (const ManLine& l : lines) text += l.text + "\n";
  return text;
}

// The word stands alone in text: not inside a longer option or word.
bool has_word(const std::string& text, const std::string& word) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const bool start = at == 0 || std::string(" \n([,").find(text[at - 1]) != std::string::npos;
    const size_t end = at + word.size();
    const bool stop = end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) ||
                                              text[end] == '_' || text[end] == '-');
    if (start && stop) return true;
  }
  return false;
}

// The words of a README line that begin with "-" and a letter, after a blank, a backquote or
// a parenthesis: "-check" of "## Verifying files: `-check`".
std::vector<std::string> dash_words(const std::string& line) {
  std::vector<std::string> found;
  for (size_t i = 0; i + 1 < line.size(); i++) {
    if (line[i] != '-' || !std::islower(static_cast<unsigned char>(line[i + 1]))) continue;
    if (i > 0 && std::string(" `(").find(line[i - 1]) == std::string::npos) continue;
    size_t end = i + 1;
    while (end < line.size() && std::islower(static_cast<unsigned char>(line[end]))) end++;
    found.push_back(line.substr(i, end - i));
    i = end;
  }
  return found;
}

// The code spans of a README line that name a configuration value or environment variable:
// capitals and digits in parts joined by "_" (`K_VERSION`, `RT_FAULT=KIND:N:ERROR`).
std::vector<std::string> value_names(const std::string& line) {
  std::vector<std::string> found;
  for (size_t open = line.find('`'); open != std::string::npos;) {
    const size_t close = line.find('`', open + 1);
    if (close == std::string::npos) break;
    std::string span = line.substr(open + 1, close - open - 1);
    span = span.substr(0, span.find('='));
    bool name = !span.empty() && std::isupper(static_cast<unsigned char>(span[0])) &&
                span.find('_') != std::string::npos && span.back() != '_' &&
                span.find("__") == std::string::npos;
    for (char c : span) {
      name = name && (std::isupper(static_cast<unsigned char>(c)) ||
                      std::isdigit(static_cast<unsigned char>(c)) || c == '_');
    }
    if (name) found.push_back(span);
    open = line.find('`', close + 1);
  }
  return found;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Manual : public E2eTest {
 protected:
  std::vector<ManLine> manual_ = read_manual();
  std::vector<std::string> readme_ = lines_of(read_file(IXKIT_SOURCE_DIR "/README.md"));

  // The command words of the usage text, from the program itself.
  std::vector<std::string> commands() {
    std::vector<std::string> words;
    for (const std::string& line : lines_of(run(std::vector<std::string>{}).out)) {
      std::istringstream in(line);
      std::string word;
      in >> word;
      if (word == "ixkit") in >> word;
      words.push_back(word);
    }
    return words;
  }
};

TEST_F(Manual, SynopsisIsTheUsageText) {
  const RunResult usage = run(std::vector<std::string>{});
  ASSERT_EQ(usage.status, 255) << usage;
  std::string synopsis;
  for (const ManLine& l : section(manual_, "SH", "SYNOPSIS")) synopsis += l.text + "\n";
  EXPECT_EQ(synopsis, usage.out);
}

// Each command has its section, which holds the synopsis line of the command's README section.
TEST_F(Manual, EveryCommandHasItsSectionAndSynopsis) {
  const std::vector<std::string> words = commands();
  ASSERT_EQ(words.size(), 16u);
  std::map<std::string, std::string> synopses;  // command: the README's synopsis line
  bool code = false;
  for (size_t i = 0; i < readme_.size(); i++) {
    if (readme_[i].rfind("```", 0) == 0) {
      code = !code;
      // A block of one line "ixkit -command ..." is a command's synopsis.
      if (code && i + 2 < readme_.size() && readme_[i + 1].rfind("ixkit -", 0) == 0 &&
          readme_[i + 2] == "```") {
        synopses[readme_[i + 1].substr(6, readme_[i + 1].find(' ', 6) - 6)] = readme_[i + 1];
      }
    }
  }
  EXPECT_EQ(synopses.size(), 15u);  // every command but -version
  for (const std::string& command : words) {
    const std::vector<ManLine> lines = section(manual_, "SS", command);
    EXPECT_FALSE(lines.empty()) << "no section " << command;
    if (!synopses.count(command)) continue;
    bool found = false;
    for (const ManLine& l : lines) found = found || l.text == synopses[command];
    EXPECT_TRUE(found) << command << " lacks the README's synopsis: " << synopses[command];
  }
}

// Every option a command's README section lists in an option table is an item (a .TP tag) of
// that command's section of the manual page.
TEST_F(Manual, EveryOptionOfTheReadmeIsDescribed) {
  const std::vector<std::string> words = commands();
  const std::set<std::string> known(words.begin(), words.end());
  std::map<std::string, std::set<std::string>> options;
  std::string current;
  int current_level = 0;
  bool code = false, option_table = false;
  for (size_t i = 0; i < readme_.size(); i++) {
    const std::string& line = readme_[i];
    if (line.rfind("```", 0) == 0) code = !code;
    if (code) continue;
    if (line.rfind("#", 0) == 0) {
      const int level = static_cast<int>(line.find_first_not_of('#'));
      std::set<std::string> named;
      for (const std::string& word : dash_words(line)) {
        if (known.count(word)) named.insert(word);
      }
      if (named.size() == 1) {
        current = *named.begin();
        current_level = level;
      } else if (level <= current_level) {
        current.clear();
      }
      continue;
    }
    if (line.rfind("|", 0) != 0) {
      option_table = false;
      continue;
    }
    const std::string first = line.substr(1, line.find('|', 1) - 1);
    if (i + 1 < readme_.size() && readme_[i + 1].rfind("|---", 0) == 0) {
      option_table = first == " Option " || first == " Letter ";
      continue;
    }
    if (!option_table || current.empty() || first.rfind("---", 0) == 0) continue;
    std::string cell;
    for (char c : first) cell += c == '`' ? ' ' : (c == ',' || c == '/') ? '\n' : c;
    for (const char* piece : {"…", "..."}) {
      for (size_t at = cell.find(piece); at != std::string::npos; at = cell.find(piece)) {
        cell.replace(at, std::string(piece).size(), "\n");
      }
    }
    for (const std::string& part : lines_of(cell)) {
      std::istringstream in(part);
      std::string word;
      if (!(in >> word)) continue;
      options[current].insert(word[0] == '-' || word[0] == '+' ? word : "-" + word);
    }
  }
  for (const char* command :
       {"-info", "-check", "-rebuild", "-load", "-extract", "-gen", "-convert"}) {
    EXPECT_FALSE(options[command].empty()) << "no options read for " << command;
  }
  for (const auto& [command, letters] : options) {
    std::string text;
    for (const ManLine& l : section(manual_, "SS", command)) {
      if (l.request == "TP") text += l.text + "\n";
    }
    for (const std::string& option : letters) {
      EXPECT_TRUE(has_word(text, option)) << command << " " << option << " is not described";
    }
  }
}

// The exit statuses of the README's overview are the tags of EXIT STATUS.
TEST_F(Manual, ExitStatuses) {
  std::string paragraph;
  for (size_t i = 0; i < readme_.size(); i++) {
    if (readme_[i].rfind("Exit status: ", 0) != 0) continue;
    for (; i < readme_.size() && !readme_[i].empty(); i++) paragraph += readme_[i] + " ";
    break;
  }
  std::set<std::string> readme, manual;
  // "Exit status: 0 normal; 1 a file locked ...; 2 ...": the number that begins each clause.
  paragraph.erase(0, std::string("Exit status: ").size());
  for (size_t from = 0; from < paragraph.size();) {
    const size_t digits = paragraph.find_first_not_of("0123456789", from);
    if (digits > from && digits < paragraph.size() && paragraph[digits] == ' ') {
      readme.insert(paragraph.substr(from, digits - from));
    }
    const size_t next = paragraph.find("; ", from);
    from = next == std::string::npos ? paragraph.size() : next + 2;
  }
  for (const ManLine& l : section(manual_, "SH", "EXIT STATUS")) {
    if (l.request == "TP") manual.insert(l.text);
  }
  EXPECT_EQ(readme, (std::set<std::string>{"0", "1", "2", "3", "99", "255"}));
  EXPECT_EQ(manual, readme);
}

// Every configuration value or environment variable the README names is in ENVIRONMENT.
TEST_F(Manual, ConfigurationValues) {
  const std::string text = joined(section(manual_, "SH", "ENVIRONMENT"));
  std::set<std::string> names;
  for (const std::string& line : readme_) {
    for (const std::string& n : value_names(line)) names.insert(n);
  }
  EXPECT_GE(names.size(), 10u);
  for (const std::string& n : names) EXPECT_TRUE(has_word(text, n)) << n << " is not described";
}

TEST_F(Manual, CarriesTheProjectVersion) {
  const std::string page = read_file(IXKIT_MANUAL);
  EXPECT_NE(page.find(".TH IXKIT 1 "), std::string::npos);
  EXPECT_NE(page.find("\"ixkit " IXKIT_EXPECTED_VERSION "\""), std::string::npos);
  EXPECT_NE(page.find("Corvane file utility version " IXKIT_EXPECTED_VERSION "\n"),
            std::string::npos);
}

}  // namespace
