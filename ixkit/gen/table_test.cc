// Translation table files: the characters that count and the positions they get.
#include <vector>

#include "ixkit/gen/gen.h"
#include "tests/unit/scratch.h"

namespace {

class TranslationTable : public Scratch {};

// Named characters take the positions from 0 in order ("&" shares the previous position,
// "a-c" is a range, "\065" a code, "|" starts a comment up to the line end); the others
// follow in ascending order.
TEST_F(TranslationTable, Positions) {
  const struct {
    const char* text;
    std::vector<int> characters, positions;
  } cases[] = {{"ZYX", {'Z', 'Y', 'X', 0, 'W', '[', 255}, {0, 1, 2, 3, 3 + 'W', '[', 255}},
               {"A&a b", {'A', 'a', 'b'}, {0, 0, 1}},
               {"a-c", {'a', 'b', 'c'}, {0, 1, 2}},
               {"\\065", {'A', 'B'}, {0, 'B'}},
               {"b|c", {'b', 'c'}, {0, 'c'}},
               {"b| c\nd", {'b', 'c', 'd'}, {0, 'c' + 1, 1}}};
  for (const auto& c : cases) {
    uint8_t* table = read_translation_table(put("t", c.text).c_str());
    ASSERT_NE(table, nullptr) << c.text;
    for (size_t i = 0; i < c.characters.size(); ++i) {
      EXPECT_EQ(table[c.characters[i]], c.positions[i]) << c.text << " " << c.characters[i];
    }
    rt_free(table, "test", __LINE__, 0);
  }
  capture();
  EXPECT_EQ(read_translation_table(path("missing").c_str()), nullptr);
}

}  // namespace
