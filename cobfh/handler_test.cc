// The handler called as GnuCOBOL calls it, with FCDs built here: what the differential
// COBOL tests cannot show (record lengths handed back, refusals where GnuCOBOL's own
// handler differs, sharing, name resolution, the key definition block) and the key set.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cobfh/fcd.h"
#include "cobfh/kelvra_fh.h"
#include "cobfh/key_set.h"
#include "ixkit/libs/kelvra5.h"
#include "tests/unit/scratch.h"

namespace {

using Parts = std::vector<std::pair<uint32_t, uint32_t>>;  // offset, size

struct Key {
  Parts parts;
  bool duplicates = false;
  bool sparse = false;
};

// One SELECT of a program: its FCD, key definition block, record area and name.
struct File {
  FCD3 fcd{};
  std::vector<unsigned char> kdb;
  std::vector<unsigned char> record;
  std::string name;

  File(std::string path, uint32_t min, uint32_t max, std::vector<Key> keys,
       unsigned char access = ACCESS_DYNAMIC)
      : record(max, ' '), name(std::move(path)) {
    size_t parts = 0;
    for (const Key& k : keys) parts += k.parts.size();
    kdb.assign(sizeof(KDB) + parts * sizeof(EXTKEY), 0);
    KDB* block = reinterpret_cast<KDB*>(kdb.data());
    STCOMPX2(kdb.size(), block->kdbLen);
    STCOMPX2(keys.size(), block->nkeys);
    size_t at = sizeof(KDB);
    for (size_t k = 0; k < keys.size(); k++) {
      KDB_KEY& def = block->key[k];
      STCOMPX2(keys[k].parts.size(), def.count);
      STCOMPX2(at, def.offset);
      def.keyFlags = static_cast<unsigned char>((keys[k].duplicates ? KEY_DUPS : 0) |
                                                (keys[k].sparse ? KEY_SPARSE : 0));
      for (auto [offset, size] : keys[k].parts) {
        EXTKEY* part = reinterpret_cast<EXTKEY*>(kdb.data() + at);
        STCOMPX4(offset, part->pos);
        STCOMPX4(size, part->len);
        at += sizeof(EXTKEY);
      }
    }
    fcd.fileOrg = ORG_INDEXED;
    fcd.accessFlags = access;
    fcd.openMode = OPEN_NOT_OPEN;
    fcd.recordMode = min < max ? REC_MODE_VARIABLE : REC_MODE_FIXED;
    STCOMPX4(min, fcd.minRecLen);
    STCOMPX4(max, fcd.maxRecLen);
    STCOMPX4(max, fcd.curRecLen);
    fcd.recPtr = record.data();
    fcd.fnamePtr = name.data();
    STCOMPX2(name.size(), fcd.fnameLen);
    fcd.kdbPtr = block;
  }
  ~File() {
    if (fcd.fileHandle) call(OP_CLOSE);
  }

  std::string call(int op) {
    unsigned char code[2] = {static_cast<unsigned char>(op >> 8), static_cast<unsigned char>(op)};
    kelvra_fh(code, &fcd);
    return std::string(reinterpret_cast<char*>(fcd.fileStatus), 2);
  }
  // WRITE / REWRITE of text (the rest of the record area blank) with a record length.
  std::string put(int op, const std::string& text, uint32_t length) {
    std::fill(record.begin(), record.end(), ' ');
    memcpy(record.data(), text.data(), text.size());
    STCOMPX4(length, fcd.curRecLen);
    return call(op);
  }
  // A READ by key k of the value at the key's place.
  std::string read_key(int k, const std::string& value, uint32_t offset) {
    memcpy(record.data() + offset, value.data(), value.size());
    STCOMPX2(k, fcd.refKey);
    return call(OP_READ_RAN);
  }
  uint32_t length() const { return get_be32(fcd.curRecLen); }
  std::string text() const { return std::string(record.begin(), record.begin() + length()); }
};

class Handler : public Scratch {};

TEST_F(Handler, VariableRecordsKeepTheirLengthsAndTheFcdSaysThem) {
  File f(path("notes"), 12, 70, {{{{0, 6}}}});
  ASSERT_EQ(f.call(OP_OPEN_OUTPUT), "00");
  EXPECT_EQ(f.put(OP_WRITE, "N00001short", 15), "00");
  EXPECT_EQ(f.put(OP_WRITE, "N00002", 11), "44");  // below the minimum of 12
  EXPECT_EQ(f.put(OP_WRITE, "N00003long", 70), "00");
  ASSERT_EQ(f.call(OP_CLOSE), "00");
  ASSERT_EQ(f.call(OP_OPEN_IO), "00");
  EXPECT_EQ(f.call(OP_READ_SEQ), "00");
  EXPECT_EQ(f.length(), 15u);
  EXPECT_EQ(f.text(), "N00001short    ");
  EXPECT_EQ(f.put(OP_REWRITE, "N00001now longer", 40), "00");
  EXPECT_EQ(f.put(OP_REWRITE, "N00001", 71), "44");
  EXPECT_EQ(f.read_key(0, "N00001", 0), "00");
  EXPECT_EQ(f.length(), 40u);
  EXPECT_EQ(f.call(OP_READ_SEQ), "00");
  EXPECT_EQ(f.length(), 70u);
  EXPECT_EQ(f.call(OP_READ_SEQ), "10");
}

TEST_F(Handler, OpenOutputReportsDuplicatesAtTheWriteThatMakesThem) {
  File f(path("fill"), 20, 20, {{{{0, 4}}}, {{{4, 3}}, true}, {{{7, 3}}}});
  ASSERT_EQ(f.call(OP_OPEN_OUTPUT), "00");
  EXPECT_EQ(f.put(OP_WRITE, "K002AAAu01", 20), "00");
  EXPECT_EQ(f.put(OP_WRITE, "K001AAAu02", 20), "02");  // AAA again: duplicates allowed
  EXPECT_EQ(f.put(OP_WRITE, "K002BBBu03", 20), "22");  // primary key taken
  EXPECT_EQ(f.put(OP_WRITE, "K003BBBu01", 20), "22");  // unique alternate key taken
  EXPECT_EQ(f.put(OP_WRITE, "K003BBBu03", 20), "00");
  EXPECT_EQ(f.call(OP_READ_SEQ), "47");
  ASSERT_EQ(f.call(OP_CLOSE), "00");
  KFile* k = k5_open(f.name.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(k, nullptr);
  char buffer[32];
  ASSERT_TRUE(k5_info(k, -4, buffer));
  EXPECT_STREQ(buffer, "3");
  k5_close(k);
}

TEST_F(Handler, AFastFillPastItsMemoryGoesOnWithOrdinaryWrites) {
  rt_config_set("KELVRA_FH_FILL_MEMORY", 0, 1);  // finished after the first WRITE
  File f(path("spill"), 20, 20, {{{{0, 4}}}, {{{4, 3}}, true}, {{{7, 3}}}});
  ASSERT_EQ(f.call(OP_OPEN_OUTPUT), "00");
  rt_config_unset("KELVRA_FH_FILL_MEMORY");
  EXPECT_EQ(f.put(OP_WRITE, "K002AAAu01", 20), "00");
  EXPECT_EQ(f.put(OP_WRITE, "K001AAAu02", 20), "02");
  EXPECT_EQ(f.put(OP_WRITE, "K002BBBu03", 20), "22");
  EXPECT_EQ(f.put(OP_WRITE, "K003BBBu01", 20), "22");
  EXPECT_EQ(f.put(OP_WRITE, "K003BBBu03", 20), "00");
  ASSERT_EQ(f.call(OP_CLOSE), "00");
  ASSERT_EQ(f.call(OP_OPEN_INPUT), "00");
  std::string keys;
  while (f.call(OP_READ_SEQ) == "00") keys += f.text().substr(0, 4) + " ";
  EXPECT_EQ(keys, "K001 K002 K003 ");
}

TEST_F(Handler, TheKeyDefinitionBlockDescribesTheNewFile) {
  File f(path("split"), 30, 30, {{{{2, 4}}}, {{{0, 2}, {10, 3}}, true}, {{{20, 5}}}});
  ASSERT_EQ(f.call(OP_OPEN_OUTPUT), "00");
  ASSERT_EQ(f.call(OP_CLOSE), "00");
  KFile* k = k5_open(f.name.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(k, nullptr);
  char text[K_KEY_TEXT_SIZE];
  ASSERT_TRUE(k5_info(k, -1, text));
  EXPECT_STREQ(text, "30,30,3");
  std::vector<std::string> keys;
  for (int i = 0; k5_info(k, i, text); i++) keys.push_back(text);
  k5_close(k);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1].substr(0, 5), "02,1,");  // two parts, duplicates
  unsigned size = 0, offset = 0;
  ASSERT_EQ(sscanf(keys[1].c_str() + 5 + 15, "%u,%u", &size, &offset), 2);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(offset, 10u);

  File sparse(path("sparse"), 30, 30, {{{{0, 4}}}, {{{4, 4}}, false, true}});
  EXPECT_EQ(sparse.call(OP_OPEN_OUTPUT), "91");  // a key Kelvra files cannot hold
  File outside(path("outside"), 30, 30, {{{{28, 4}}}});
  EXPECT_EQ(outside.call(OP_OPEN_OUTPUT), "91");
}

TEST_F(Handler, AFileOfAnotherShapeIsRefused) {
  {
    File made(path("shape"), 20, 20, {{{{0, 4}}}, {{{4, 4}}, true}});
    ASSERT_EQ(made.call(OP_OPEN_OUTPUT), "00");
  }
  File fewer_keys(path("shape"), 20, 20, {{{{0, 4}}}});
  EXPECT_EQ(fewer_keys.call(OP_OPEN_INPUT), "39");
  File longer(path("shape"), 24, 24, {{{{0, 4}}}, {{{4, 4}}, true}});
  EXPECT_EQ(longer.call(OP_OPEN_IO), "39");
  File unique(path("shape"), 20, 20, {{{{0, 4}}}, {{{4, 4}}}});
  EXPECT_EQ(unique.call(OP_OPEN_INPUT), "39");
  File same(path("shape"), 20, 20, {{{{0, 4}}}, {{{4, 4}}, true}});
  EXPECT_EQ(same.call(OP_OPEN_INPUT), "00");
  File text(put("text", std::string(600, 'x')), 20, 20, {{{{0, 4}}}});
  EXPECT_EQ(text.call(OP_OPEN_INPUT), "39");
}

// Readers and writers share a file; OPEN OUTPUT and LOCK MODE EXCLUSIVE have it alone.
TEST_F(Handler, ProgramsShareAFileUnlessOneHasItAlone) {
  File writer(path("shared"), 10, 10, {{{{0, 4}}}});
  File reader(path("shared"), 10, 10, {{{{0, 4}}}});
  File other(path("shared"), 10, 10, {{{{0, 4}}}});
  ASSERT_EQ(writer.call(OP_OPEN_OUTPUT), "00");
  EXPECT_EQ(reader.call(OP_OPEN_INPUT), "61");
  EXPECT_EQ(other.call(OP_OPEN_OUTPUT), "61");  // not made anew under the writer
  EXPECT_EQ(writer.put(OP_WRITE, "K001", 10), "00");
  ASSERT_EQ(writer.call(OP_CLOSE), "00");
  EXPECT_EQ(reader.call(OP_OPEN_INPUT), "00");
  EXPECT_EQ(writer.call(OP_OPEN_IO), "00");
  EXPECT_EQ(writer.put(OP_WRITE, "K002", 10), "00");
  EXPECT_EQ(reader.read_key(0, "K002", 0), "00");  // the reader sees the writer's record
  other.fcd.lockMode = FCD_LOCK_EXCL_LOCK;
  EXPECT_EQ(other.call(OP_OPEN_IO), "61");
  EXPECT_EQ(reader.call(OP_CLOSE), "00");
  EXPECT_EQ(writer.call(OP_CLOSE), "00");
  EXPECT_EQ(other.call(OP_OPEN_INPUT), "00");
  EXPECT_EQ(reader.call(OP_OPEN_INPUT), "61");
}

// LOCK MODE AUTOMATIC: a read in I-O locks its record until the next read, UNLOCK or CLOSE;
// another program's locking read, REWRITE and DELETE of it give 51, a plain read does not.
TEST_F(Handler, AutomaticLocksHoldTheRecordRead) {
  {
    File made(path("locks"), 10, 10, {{{{0, 4}}}});
    ASSERT_EQ(made.call(OP_OPEN_OUTPUT), "00");
    for (const char* k : {"K001", "K002", "K003"}) ASSERT_EQ(made.put(OP_WRITE, k, 10), "00");
  }
  File first(path("locks"), 10, 10, {{{{0, 4}}}});
  File second(path("locks"), 10, 10, {{{{0, 4}}}});
  File reader(path("locks"), 10, 10, {{{{0, 4}}}});
  first.fcd.lockMode = second.fcd.lockMode = FCD_LOCK_AUTO_LOCK;
  ASSERT_EQ(first.call(OP_OPEN_IO), "00");
  ASSERT_EQ(second.call(OP_OPEN_IO), "00");
  ASSERT_EQ(reader.call(OP_OPEN_INPUT), "00");
  EXPECT_EQ(first.read_key(0, "K002", 0), "00");
  EXPECT_EQ(second.read_key(0, "K002", 0), "51");
  EXPECT_EQ(second.put(OP_REWRITE, "K002new", 10), "51");
  EXPECT_EQ(second.put(OP_DELETE, "K002", 10), "51");
  EXPECT_EQ(reader.read_key(0, "K002", 0), "00");
  EXPECT_EQ(second.read_key(0, "K003", 0), "00");  // other records stay free
  EXPECT_EQ(first.read_key(0, "K001", 0), "00");   // the next read lets K002 go
  EXPECT_EQ(second.read_key(0, "K002", 0), "00");
  EXPECT_EQ(first.read_key(0, "K002", 0), "51");
  EXPECT_EQ(second.call(OP_UNLOCK), "00");
  EXPECT_EQ(first.read_key(0, "K002", 0), "00");
  EXPECT_EQ(first.call(OP_CLOSE), "00");
  EXPECT_EQ(second.put(OP_REWRITE, "K002new", 10), "00");
}

TEST_F(Handler, NamesAreResolvedAsGnuCobolResolvesThem) {
  std::string sub = path("data");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  setenv("COB_FILE_PATH", dir_.c_str(), 1);
  setenv("DD_LEDGER", "data/ledger.kx", 1);
  // LEDGER is blank-padded, as a PIC X area.
  for (const std::string& name : {std::string("LEDGER   "), std::string("plain"), path("abs")}) {
    File f(name, 10, 10, {{{{0, 4}}}});
    EXPECT_EQ(f.call(OP_OPEN_OUTPUT), "00") << name;
    EXPECT_EQ(f.call(OP_CLOSE), "00") << name;
  }
  unsetenv("COB_FILE_PATH");
  unsetenv("DD_LEDGER");
  EXPECT_EQ(access(path("data/ledger.kx").c_str(), F_OK), 0);
  EXPECT_EQ(access(path("plain").c_str(), F_OK), 0);
  EXPECT_EQ(access(path("abs").c_str(), F_OK), 0);
  File missing(path("missing"), 10, 10, {{{{0, 4}}}});
  EXPECT_EQ(missing.call(OP_DELETE_FILE), "35");
  File absolute(path("abs"), 10, 10, {{{{0, 4}}}});
  EXPECT_EQ(absolute.call(OP_DELETE_FILE), "00");
  EXPECT_NE(access(path("abs").c_str(), F_OK), 0);
}

TEST(KeySet, HoldsEachValueOnceThroughGrowth) {
  KeySet set;
  key_set_init(&set, 6);
  char value[16];  // six digits are the value
  for (int i = 0; i < 5000; i++) {
    snprintf(value, sizeof value, "%06d", i * 7);
    ASSERT_TRUE(key_set_add(&set, reinterpret_cast<const uint8_t*>(value)));
  }
  for (int i = 0; i < 35000; i++) {
    snprintf(value, sizeof value, "%06d", i);
    EXPECT_EQ(key_set_contains(set, reinterpret_cast<const uint8_t*>(value)), i % 7 == 0) << i;
  }
  snprintf(value, sizeof value, "%06d", 700);
  EXPECT_FALSE(key_set_add(&set, reinterpret_cast<const uint8_t*>(value)));
  EXPECT_EQ(set.count, 5000u);
}

}  // namespace
