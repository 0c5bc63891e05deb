// Translation table files: the characters that count, and the positions they get.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/gen/gen.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Every code next_table_char returns for the text, up to its -1.
std::vector<int> codes(std::string text) {
  FILE* stream = fmemopen(text.data(), text.size(), "r");
  std::vector<int> found;
  for (int c; (c = next_table_char(stream)) != -1;) found.push_back(c);
  fclose(stream);
  return found;
}

// The table a file of this text gives, as 256 positions (empty when there is none).
std::vector<int> table_of(const std::string& text) {
  char name[] = "/tmp/ixkit-table-XXXXXX";
  int fd = mkstemp(name);
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  uint8_t* table = read_translation_table(name);
  unlink(name);
  if (table == nullptr) return {};
  std::vector<int> positions(table, table + 256);
  rt_free(table, "test", __LINE__, 0);
  return positions;
}

TEST(TranslationTable, CharactersThatCount) {
  EXPECT_EQ(codes(" a\tb\r\nc "), (std::vector<int>{'a', 'b', 'c'}));
  EXPECT_EQ(codes("a| b c\nd"), (std::vector<int>{'a', 'd'}));
  EXPECT_EQ(codes("a|comment without a line end"), (std::vector<int>{'a'}));
  EXPECT_EQ(codes("\\065\\0 6\n6\\255\\256x"), (std::vector<int>{65, 66, 255, 'x'}));
  EXPECT_EQ(codes("\\!!!y\\06"), (std::vector<int>{'y'}));  // negative, then cut short
  EXPECT_EQ(codes("\xe9&-"), (std::vector<int>{0xe9, '&', '-'}));
}

TEST(TranslationTable, PositionsOfTheExamples) {
  auto zyx = table_of("ZYX");
  ASSERT_EQ(zyx.size(), 256u);
  EXPECT_EQ(zyx['Z'], 0);
  EXPECT_EQ(zyx['Y'], 1);
  EXPECT_EQ(zyx['X'], 2);
  // The others follow in ascending order: 0 first, 255 last.
  EXPECT_EQ(zyx[0], 3);
  EXPECT_EQ(zyx['W'], 3 + 'W');
  EXPECT_EQ(zyx['['], '[');
  EXPECT_EQ(zyx[255], 255);

  auto shared = table_of("A&a b");
  EXPECT_EQ(shared['A'], 0);
  EXPECT_EQ(shared['a'], 0);
  EXPECT_EQ(shared['b'], 1);

  auto up = table_of("a-c"), down = table_of("x c-a"), escaped = table_of("\\065");
  EXPECT_EQ(std::vector<int>({up['a'], up['b'], up['c']}), std::vector<int>({0, 1, 2}));
  EXPECT_EQ(std::vector<int>({down['c'], down['b'], down['a']}), std::vector<int>({1, 2, 3}));
  EXPECT_EQ(escaped['A'], 0);

  // A character named twice keeps its first place; "&" at the start takes nothing back.
  auto twice = table_of("&b a b c");
  EXPECT_EQ(std::vector<int>({twice['b'], twice['a'], twice['c']}), std::vector<int>({0, 1, 2}));
}

TEST(TranslationTable, NoNameOrNoFileGivesNoTable) {
  EXPECT_EQ(read_translation_table(nullptr), nullptr);
  EXPECT_EQ(read_translation_table(""), nullptr);
  EXPECT_EQ(read_translation_table("/nonexistent/ixkit.tab"), nullptr);
}

}  // namespace
