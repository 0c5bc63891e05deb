// Reading option words: which words are options, how letters and values are taken.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/front/options.h"
#include "ixkit/front/state.h"

namespace {

// What one reading saw: each letter with its sign, and the values taken.
struct Seen {
  std::string letters;
  std::vector<std::string> values;
  std::vector<long> numbers;
  std::vector<int> word_of_letter;
};

// Knows the letters a b c k q 2 and "-" ("--slow" style words): k takes a number from 0 to 120,
// b takes a word, "-" takes the whole word.
int on_letter(int letter, OptionWords* options, void* context) {
  Seen* seen = static_cast<Seen*>(context);
  seen->letters += options->sign;
  seen->letters += static_cast<char>(letter);
  seen->word_of_letter.push_back(options->word);
  switch (letter) {
    case 'a':
    case 'c':
    case '2':
    case 'q':  // reaches here only from a "+" word
      return 1;
    case 'b': {
      const char* value = option_take_word(options);
      seen->values.push_back(value == nullptr ? "(none)" : value);
      return 1;
    }
    case 'k':
      seen->numbers.push_back(option_take_number(options, "-k", 0, 120));
      return 1;
    case '-':
      seen->values.push_back(options->words[options->word]);
      return -1;
    default:
      return 0;
  }
}

// Reads the words as a command would and keeps what it saw and where the file names start.
struct Reading {
  Seen seen;
  int first_name;
};

Reading read(std::vector<std::string> words, int plus_words = 0) {
  std::vector<char*> pointers;
  for (std::string& w : words) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  Reading r;
  r.first_name =
      read_options(static_cast<int>(words.size()), pointers.data(), plus_words, on_letter, &r.seen);
  return r;
}

class ReadOptions : public ::testing::Test {
 protected:
  void SetUp() override { quiet = 0; }
  void TearDown() override { quiet = 0; }
};

TEST_F(ReadOptions, NoWordsOrNoOptions) {
  EXPECT_EQ(read({}).first_name, 0);
  Reading r = read({"file1", "-a"});
  EXPECT_EQ(r.first_name, 0);
  EXPECT_EQ(r.seen.letters, "");
}

TEST_F(ReadOptions, GroupedAndSeparateLettersAreTheSame) {
  Reading grouped = read({"-ac2", "f"});
  Reading separate = read({"-a", "-c", "-2", "f"});
  EXPECT_EQ(grouped.seen.letters, "-a-c-2");
  EXPECT_EQ(separate.seen.letters, "-a-c-2");
  EXPECT_EQ(grouped.first_name, 1);
  EXPECT_EQ(separate.first_name, 3);
}

TEST_F(ReadOptions, UpperCaseLettersArrivePlain) {
  EXPECT_EQ(read({"-AC", "-a"}).seen.letters, "-a-c-a");
}

TEST_F(ReadOptions, ReadingStopsAtTheFirstWordWithoutDash) {
  Reading r = read({"-a", "name", "-c"});
  EXPECT_EQ(r.first_name, 1);
  EXPECT_EQ(r.seen.letters, "-a");
}

TEST_F(ReadOptions, LoneDashIsAnEmptyOptionWord) {
  Reading r = read({"-", "-a", "f"});
  EXPECT_EQ(r.first_name, 2);
  EXPECT_EQ(r.seen.letters, "-a");
  EXPECT_EQ(read({"-"}).first_name, 1);
}

TEST_F(ReadOptions, ValueComesFromTheNextWord) {
  Reading r = read({"-k", "7", "-a", "f"});
  EXPECT_EQ(r.seen.numbers, std::vector<long>{7});
  EXPECT_EQ(r.seen.letters, "-k-a");
  EXPECT_EQ(r.first_name, 3);
}

TEST_F(ReadOptions, GroupedLettersTakeTheirValuesInOrder) {
  // -kb 12 name: k takes 12, b takes "name"; the next word is the first file name.
  Reading r = read({"-kb", "12", "name", "f"});
  EXPECT_EQ(r.seen.numbers, std::vector<long>{12});
  EXPECT_EQ(r.seen.values, std::vector<std::string>{"name"});
  EXPECT_EQ(r.first_name, 3);
  // The letters all belong to word 0 although the values moved on.
  EXPECT_EQ(r.seen.word_of_letter, (std::vector<int>{0, 0}));
}

TEST_F(ReadOptions, ValueThatLooksLikeAFileNameIsStillTaken) {
  Reading r = read({"-b", "-a"});
  EXPECT_EQ(r.seen.values, std::vector<std::string>{"-a"});
  EXPECT_EQ(r.seen.letters, "-b");
  EXPECT_EQ(r.first_name, 2);
}

TEST_F(ReadOptions, NoWordLeftForAValue) {
  Reading r = read({"-b"});
  EXPECT_EQ(r.seen.values, std::vector<std::string>{"(none)"});
  EXPECT_EQ(r.first_name, 1);
}

TEST_F(ReadOptions, PlusWordsOnlyWhenTheCommandTakesThem) {
  Reading without = read({"+c", "-a"});
  EXPECT_EQ(without.first_name, 0);
  EXPECT_EQ(without.seen.letters, "");

  Reading with = read({"-a", "+c", "-2", "f"}, 1);
  EXPECT_EQ(with.seen.letters, "-a+c-2");
  EXPECT_EQ(with.first_name, 3);
}

TEST_F(ReadOptions, NegativeAnswerTakesTheWholeWord) {
  Reading r = read({"--slow", "-a", "f"});
  EXPECT_EQ(r.seen.letters, "---a");
  EXPECT_EQ(r.seen.values, std::vector<std::string>{"--slow"});
  EXPECT_EQ(r.first_name, 2);
}

TEST_F(ReadOptions, LetterQSetsQuietWithoutReachingTheCommand) {
  Reading r = read({"-aQc", "f"});
  EXPECT_EQ(quiet, 1);
  EXPECT_EQ(r.seen.letters, "-a-c");

  quiet = 0;
  read({"-q"});
  EXPECT_EQ(quiet, 1);
}

TEST_F(ReadOptions, QuietStaysOffWithoutQ) {
  read({"-ac", "-k", "3"});
  EXPECT_EQ(quiet, 0);
}

TEST_F(ReadOptions, QOfAPlusWordGoesToTheCommand) {
  Reading r = read({"+q", "-a"}, 1);
  EXPECT_EQ(r.seen.letters, "+q-a");
  EXPECT_EQ(quiet, 0);
}

}  // namespace
