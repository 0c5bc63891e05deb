// The progress line: what it shows for the copy of the records and for the library's index
// builds, in both modes, and how it ends.
#include "ixkit/repair/progress.h"

#include "ixkit/describe/header.h"
#include "tests/unit/scratch.h"

namespace {

class Progress : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    capture();
    progress_mark = 0;
  }
  void records(uint32_t n) { file_header.records = n; }
  // What was printed since the last call.
  std::string shown() {
    std::string all = printed();
    std::string text = all.substr(seen_);
    seen_ = all.size();
    return text;
  }
  size_t seen_ = 0;
};

TEST_F(Progress, WholeFileCopyThenIndexes) {
  // 1000 records and 2 keys: the copy is the first third of the line.
  records(1000);
  for (int done = 1; done <= 500; ++done) show_progress(nullptr, done, 2, true);
  EXPECT_EQ(shown(), "....10%...");
  // The library's records carry it on: key 0 half done is 50 %, key 1 done is 100 %.
  KProgress p{nullptr, 0, 2, 500, 1000};
  on_progress(&p);
  EXPECT_EQ(shown(), ".20%....30%....40%....50%");
  p = {nullptr, 1, 2, 1000, 1000};
  on_progress(&p);
  finish_progress();
  EXPECT_EQ(shown(), "....60%....70%....80%....90%....100%\n");
}

TEST_F(Progress, SlowModeIsTheShareCopied) {
  records(1000);
  for (int done = 1; done <= 500; ++done) show_progress(nullptr, done, 2, false);
  EXPECT_EQ(shown(), "....10%....20%....30%....40%....50%");
  EXPECT_EQ(progress_mark, 50);
}

TEST_F(Progress, EndsTheLine) {
  // A header without records: the first record shows the whole line at once.
  records(0);
  show_progress(nullptr, 1, 1, false);
  EXPECT_EQ(shown(), "....10%....20%....30%....40%....50%....60%....70%....80%....90%....100%");
  // A job that stops at 96 % is completed after the close; one that never moved prints nothing.
  progress_mark = 0;
  records(100);
  show_progress(nullptr, 96, 1, false);
  finish_progress();
  EXPECT_EQ(shown(), "....10%....20%....30%....40%....50%....60%....70%....80%....90%...100%\n");
  progress_mark = 0;
  finish_progress();
  EXPECT_EQ(shown(), "");
  // More records than the header counts: the line stops at 100 %.
  records(10);
  show_progress(nullptr, 1000, 1, false);
  EXPECT_EQ(progress_mark, 100);
}

}  // namespace
