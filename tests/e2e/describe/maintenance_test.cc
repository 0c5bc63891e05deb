// -zero, -note, -augment and -fixvers: each changes exactly the bytes it must, in every
// format version, and nothing in files it refuses.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <vector>

#include "tests/e2e/describe/describe_files.h"

namespace {

using namespace describe_files;

class HeaderCommands : public e2e::E2eTest {
 protected:
  // A file of the version with 20 records of record_size bytes; the sizes text applies from
  // version 3 on (version 2 files have fixed 40-byte records).
  std::string filled(int version, const std::string& sizes = "40,20,1", uint32_t record_size = 40) {
    const std::string name = "v" + std::to_string(version);
    Recipe recipe;
    recipe.version = version;
    recipe.sizes = sizes;
    make(path(name), recipe);
    change(path(name), {.records = 20, .size = record_size});
    return name;
  }
  std::vector<uint8_t> bytes(const std::string& name) {
    std::string all = read_file(path(name));
    return std::vector<uint8_t>(all.begin(), all.end());
  }
  // The library's description text of code (-1 sizes, -3 comment).
  std::string info(const std::string& name, int code) {
    start_library({});
    KFile* file = k5_open(path(name).c_str(), K_MODE_READ, "0,0,0");
    char text[64] = "(refused)";
    if (file != nullptr) {
      k5_info(file, code, text);
      k5_close(file);
    }
    k5_exit(0);
    return text;
  }
  static std::vector<int> range(int from, int count) {
    std::vector<int> positions;
    for (int i = 0; i < count; ++i) positions.push_back(from + i);
    return positions;
  }
};

TEST_F(HeaderCommands, ZeroClearsOnlyTheUserCount) {
  for (int version = 2; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string name = filled(version);
    const int at = version == 2 ? 126 : K_offsets[version][KF_USER_COUNT];
    // 0x0103 users, in the version's byte order.
    write_bytes(path(name), at,
                version == 2 ? std::vector<uint8_t>{3, 1} : std::vector<uint8_t>{1, 3});
    const std::vector<uint8_t> before = bytes(name);
    auto r = run({"-zero", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out + r.err, "");
    const std::vector<uint8_t> after = bytes(name);
    EXPECT_EQ(differences(before, after), range(at, 2));
    EXPECT_EQ(after[at] | after[at + 1], 0);
    EXPECT_EQ(after.size(), before.size());
  }
}

TEST_F(HeaderCommands, NoteStoresThirtyCharactersAndClears) {
  for (int version = 2; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string name = filled(version);
    const int at = version == 2 ? 248 : K_offsets[version][KF_COMMENT];
    const std::vector<uint8_t> before = bytes(name);
    auto r = run({"-note", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out + r.err, "");
    const std::vector<uint8_t> noted = bytes(name);
    EXPECT_EQ(differences(before, noted), range(at, 30));
    EXPECT_EQ(noted[at + 30], 0);
    EXPECT_EQ(info(name, -3), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    r = run({"-note", "-q", "", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(bytes(name), before);
    EXPECT_EQ(info(name, -3), "");
  }
}

TEST_F(HeaderCommands, AugmentRewritesTheMaximum) {
  for (int version = 3; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string name = filled(version);
    const int at = K_offsets[version][KF_MAX_RECORD];
    const int width = version == 5 ? 4 : 2;
    const std::vector<uint8_t> before = bytes(name);
    auto r = run({"-augment", "1000", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out + r.err, "");
    const std::vector<uint8_t> after = bytes(name);
    // 40 = 0x28 becomes 1000 = 0x3e8: the two low bytes of the field change.
    EXPECT_EQ(differences(before, after), range(at + width - 2, 2));
    EXPECT_EQ(field(after, version, KF_MAX_RECORD, width), 1000u);
    EXPECT_EQ(info(name, -1), "1000,20,1");
  }
}

TEST_F(HeaderCommands, AugmentVersion2KeepsTheVariableBit) {
  Recipe recipe;
  recipe.version = 2;
  make(path("old"), recipe);
  change(path("old"), {.records = 5});
  const std::vector<uint8_t> before = bytes("old");
  ASSERT_EQ(before[244] & 2, 0);  // fixed-length records
  auto r = run({"-augment", "300", "old"});
  EXPECT_EQ(r.status, 0) << r;
  std::vector<uint8_t> after = bytes("old");
  EXPECT_EQ(differences(before, after), (std::vector<int>{162, 163, 244}));
  EXPECT_EQ(after[162] | after[163] << 8, 300);
  EXPECT_EQ(after[244], before[244] | 2);
  EXPECT_EQ(info("old", -1), "300,40,1");
  // Back to the minimum: fixed-length again, the header as it was.
  r = run({"-augment", "40", "old"});
  EXPECT_EQ(r.out, "Caution: new max record size (40) < current max record size (300)\n");
  EXPECT_EQ(bytes("old"), before);
}

TEST_F(HeaderCommands, AugmentChecksTheNewMaximum) {
  const std::string name = filled(5, "200,100,1", 100);
  const std::vector<uint8_t> before = bytes(name);
  auto r = run({"-augment", "150", name});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Caution: new max record size (150) < current max record size (200)\n");
  EXPECT_EQ(field(bytes(name), 5, KF_MAX_RECORD, 4), 150u);
  // Below the minimum: the run ends there, later files are not touched.
  const std::string other = filled(4);
  const std::vector<uint8_t> other_before = bytes(other);
  r = run({"-augment", "50", name, other});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Error: new max record size (50) < current min record size (100)\n");
  EXPECT_EQ(field(bytes(name), 5, KF_MAX_RECORD, 4), 150u);
  EXPECT_EQ(bytes(other), other_before);
  // The range, and leading digits only.
  for (const char* word : {"0", "67108865", "99999999999999999999999"}) {
    r = run({"-augment", word, name});
    EXPECT_EQ(r.status, 255) << word;
    EXPECT_EQ(r.out, "Error: new max record size is out of range\n") << word;
  }
  r = run({"-augment", "67108864", name});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(field(bytes(name), 5, KF_MAX_RECORD, 4), 67108864u);
  r = run({"-augment", "200abc", name});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(bytes(name), before);
  for (std::vector<std::string> words : {std::vector<std::string>{"-augment"},
                                         {"-augment", "-q"},
                                         {"-augment", "abc", name},
                                         {"-augment", "-z", "100", name}}) {
    r = run(words);
    EXPECT_EQ(r.status, 255) << words.size();
    EXPECT_TRUE(r.out.starts_with("ixkit -info")) << r;
  }
}

TEST_F(HeaderCommands, AugmentBeyondWhatTheVersionHolds) {
  // Versions 2 to 4 hold 16 bits, and the library takes at most 32767 there.
  const std::string four = filled(4);
  const std::string five = filled(5);
  const std::vector<uint8_t> four_before = bytes(four);
  auto r = run({"-augment", "70000", four, five});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            "v4: new max record size (70000) is above the largest of a version 4 file (32767); "
            "file not changed\n");
  EXPECT_EQ(bytes(four), four_before);
  EXPECT_EQ(info(five, -1), "70000,20,1");
  r = run({"-augment", "32768", four});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(bytes(four), four_before);
  r = run({"-augment", "32767", four});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(info(four, -1), "32767,20,1");
}

TEST_F(HeaderCommands, AugmentBelowTheEndOfAKeyKeepsTheFileUsable) {
  // A key of 2 bytes at offset 60 ends at byte 62; a maximum of 61 cuts it. The file still
  // opens, and raising the maximum again makes its records readable again.
  Recipe recipe;
  recipe.sizes = "80,30,2";
  recipe.keys = "1,0,8,0,1,1,2,60";
  make(path("keyed"), recipe);
  change(path("keyed"), {.records = 5, .size = 80});
  auto r = run({"-augment", "61", "keyed"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Caution: new max record size (61) < current max record size (80)\n");
  EXPECT_EQ(info("keyed", -1), "61,30,2");
  r = run({"-augment", "80", "keyed"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(info("keyed", -1), "80,30,2");
}

class Fixvers : public HeaderCommands {
 protected:
  // Data segments NAME, NAME.d1 ... and index segments NAME.x0 ... that exist.
  std::vector<std::string> segments(const std::string& name) {
    std::vector<std::string> found = {name};
    for (const char* kind : {".d", ".x"}) {
      for (int i = kind[1] == 'd' ? 1 : 0; file_exists(path(name + kind + std::to_string(i)));
           ++i) {
        found.push_back(name + kind + std::to_string(i));
      }
    }
    return found;
  }
  static constexpr time_t kLongAgo = 1000000000;
  void age(const std::string& name) {
    utimbuf times{kLongAgo, kLongAgo};
    ASSERT_EQ(utime(path(name).c_str(), &times), 0);
  }
  time_t modified(const std::string& name) {
    struct stat info;
    return stat(path(name).c_str(), &info) == 0 ? info.st_mtime : 0;
  }
};

TEST_F(Fixvers, WritesOnlyTheSegmentsWhoseStampDiffers) {
  for (int version = 4; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string name = "s" + std::to_string(version);
    Recipe recipe;
    recipe.version = version;
    recipe.segment_size = 4096;
    make(path(name), recipe);
    change(path(name), {.records = 400}, 4096);
    const std::vector<std::string> all = segments(name);
    ASSERT_GE(all.size(), 5u);
    const uint32_t stamp = field(header(path(name)), version, KF_STAMP, 4);
    const std::string d1 = name + ".d1", x1 = name + ".x1";
    write_bytes(path(d1), K_offsets[version][KF_DATA_STAMP], {0xde, 0xad, 0xbe, 0xef});
    write_bytes(path(x1), K_offsets[version][KF_INDEX_STAMP], {0xde, 0xad, 0xbe, 0xef});
    start_library({});
    EXPECT_EQ(k5_open(path(name).c_str(), K_MODE_READ, "0,0,0"), nullptr);
    k5_exit(0);
    std::vector<std::vector<uint8_t>> before;
    for (const std::string& s : all) {
      before.push_back(bytes(s));
      age(s);
    }
    auto r = run({"-fixvers", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out + r.err, "");
    for (size_t i = 0; i < all.size(); ++i) {
      const bool stale = all[i] == d1 || all[i] == x1;
      EXPECT_EQ(modified(all[i]) == kLongAgo, !stale) << all[i];
      const int place = all[i] == d1 ? KF_DATA_STAMP : KF_INDEX_STAMP;
      const int at = K_offsets[version][place];
      EXPECT_EQ(differences(before[i], bytes(all[i])), stale ? range(at, 4) : std::vector<int>{})
          << all[i];
      if (stale) {
        EXPECT_EQ(field(bytes(all[i]), version, place, 4), stamp) << all[i];
      }
    }
    // The library opens the file again without forcing.
    start_library({});
    KFile* file = k5_open(path(name).c_str(), K_MODE_READ, "0,0,0");
    EXPECT_NE(file, nullptr) << *rt_file_error();
    if (file != nullptr) k5_close(file);
    k5_exit(0);
  }
}

TEST_F(Fixvers, NothingToDoForOneFileOrMatchingStamps) {
  for (int version = 2; version <= 4; ++version) {
    const std::string name = filled(version);
    std::vector<std::string> all = segments(name);
    for (const std::string& s : all) age(s);
    auto r = run({"-fixvers", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out + r.err, "");
    for (const std::string& s : all) EXPECT_EQ(modified(s), kLongAgo) << s;
  }
}

TEST_F(Fixvers, ASegmentTooShortToPatch) {
  Recipe recipe;
  recipe.segment_size = 4096;
  make(path("cut"), recipe);
  change(path("cut"), {.records = 400}, 4096);
  write_bytes(path("cut.d1"), K_offsets[5][KF_DATA_STAMP], {0, 0, 0, 0});
  ASSERT_EQ(truncate(path("cut.x1").c_str(), 100), 0);
  auto r = run({"-fixvers", "cut"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "cut.x1: cannot update the header: fewer than 512 bytes could be read\n");
  EXPECT_EQ(field(bytes("cut.d1"), 5, KF_DATA_STAMP, 4), field(bytes("cut"), 5, KF_STAMP, 4));
  EXPECT_EQ(bytes("cut.x1").size(), 100u);
}

TEST_F(HeaderCommands, FileListsAndFilesTheLibraryRefuses) {
  const std::string name = filled(5);
  write_file(path("empty"), "");
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 131 + 7) % 256);
  write_file(path("noise"), noise);
  const std::string refused =
      "empty: not a Kelvra file or an unsupported version (error 13/0)\n"
      "noise: not a Kelvra file or an unsupported version (error 13/0)\n";
  const std::vector<std::vector<std::string>> commands = {
      {"-zero"}, {"-fixvers"}, {"-note", "text"}, {"-augment", "100"}};
  for (std::vector<std::string> words : commands) {
    SCOPED_TRACE(words[0]);
    std::vector<std::string> with_files = words;
    with_files.insert(with_files.end(), {"empty", "noise", name});
    auto r = run(with_files);
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, refused);
    EXPECT_EQ(read_file(path("empty")), "");
    EXPECT_EQ(read_file(path("noise")), noise);
    // Names from the console, one per line; none in quiet mode.
    r = run(words, {.input = "empty\n" + name + "\n"});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err, refused.substr(0, refused.find('\n') + 1));
    words.insert(words.begin() + 1, "-q");
    r = run(words, {.input = name + "\n"});
    EXPECT_EQ(r.status, 99) << r;
  }
  EXPECT_EQ(info(name, -3), "text");
  EXPECT_EQ(info(name, -1), "100,20,1");
  for (std::vector<std::string> words :
       {std::vector<std::string>{"-note"}, {"-note", "-q"}, {"-zero", "-n"}}) {
    auto r = run(words);
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.out.starts_with("ixkit -info")) << r;
  }
}

}  // namespace
