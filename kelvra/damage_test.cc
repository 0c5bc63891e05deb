// Damaged files: bad header fields and dictionaries, cut and missing segments, foreign
// version stamps, flipped bytes in nodes and record headers, looping chains. Every case ends
// in the documented error code, never in a crash, a sanitizer report or a read that does not
// end: every read is bounded and each test runs under a deadline.
#include <unistd.h>

#include <functional>

#include "kelvra/test_support.h"

class DamageTest : public KelvraTest, public ::testing::WithParamInterface<int> {};

// Ends the test program when a test outlives its time: a hang becomes a failure.
struct Deadline {
  Deadline() { alarm(120); }
  ~Deadline() { alarm(0); }
};

// Damage to the header, the dictionary, the segments, the nodes, the free chains and one
// record. A plain and a strict open give the documented codes (6/1 a field out of range, 6/2
// a foreign stamp, 6/3 the damage mark, 6/4 a missing or cut segment, 6/5 the dictionary,
// 6/10 a damaged root, 13 no Kelvra file). Forced, reads in both directions end, meeting the
// damage as 6/10 (a node), 6/11 (a looping leaf chain), 6/80 to 6/85 (the documented kinds
// of damaged record) and nothing else; with k_ixkit each read of a key meets a damaged record
// once and goes on past it, without it the reading stops there. A forced writer fails
// cleanly, stamps every segment again, and never stores a record over a live one through a
// looping free chain.
TEST_P(DamageTest, EveryKindOfDamage) {
  const int v = GetParam();
  Deadline deadline;
  // Records of primary keys 0, 10, 20, ..., three deleted and one rewritten longer than its
  // slot, so that the free chains have members. The files are kept to be put back.
  rt_config_set("K_SEGMENT_SIZE", 0, 4096);
  std::vector<std::string> recs;
  for (int i = 0; i < (v == 4 ? 260 : 150); i++) recs.push_back(rec(i * 10, 24 + i * 7 % 37));
  ASSERT_NO_FATAL_FAILURE(make(v, "1,0,0,0,0", "60,24,3", recs));
  KFile* w = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
  for (int pk : {30, 70, 110})
    EXPECT_TRUE(k5_delete(w, rec(pk).data()) && model_.live.erase(rec(pk).substr(0, 8)));
  std::string longer = model_.live["00000010"].first + std::string(20, '#');
  EXPECT_TRUE(k5_rewrite(w, longer.data(), uint32_t(longer.size())) && k5_close(w));
  model_.put(longer);
  ASSERT_EQ(system(("mkdir " + dir_ + "/made && cp " + name_ + "* " + dir_ + "/made").c_str()), 0);
  auto restore = [&] {
    ASSERT_EQ(system(("rm " + name_ + "* && cp " + dir_ + "/made/* " + dir_).c_str()), 0);
  };
  // Reads every key both ways, with k_ixkit off and on: the codes met, as open_error gives
  // them. No read loops.
  auto read_all = [&] {
    std::set<int> codes;
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    if (!f) codes.insert(open_error());
    for (int k = 0; f && k < 3 * 4; k++) {
      k_ixkit = k % 2;
      Scan s = scan(f, k / 4, k % 4 < 2, 2000);
      EXPECT_LT(s.calls, 2000) << "key " << k / 4 << ": the read did not end";
      for (auto [e, e2] : s.errors) codes.insert(e * 100 + (e == 6 ? e2 : 0));
    }
    k_ixkit = 0;
    EXPECT_TRUE(!f || k5_close(f));
    return codes;
  };
  raw::File f(name_);
  const std::string d1 = raw::data_path(name_, 1), x0 = raw::index_path(name_, 0),
                    x1 = raw::index_path(name_, 1);
  const std::string last = raw::data_path(name_, int(f.field(6)));
  ASSERT_TRUE(v < 4 || (f.field(6) >= 2 && raw::exists(x1)));
  std::vector<raw::Entry> entries;
  std::vector<uint32_t> nodes, ls;  // leaves in key order
  std::vector<raw::Pos> chain;
  uint64_t space;
  ASSERT_TRUE(f.tree(0, &entries, &nodes, &space) && f.chain(f.address(13), &chain) &&
              chain.size() >= 2);
  for (const raw::Entry& e : entries)
    if (ls.empty() || ls.back() != e.node) ls.push_back(e.node);
  ASSERT_GE(ls.size(), 4u);
  const uint32_t root = f.root[0], a = ls[0], b = ls[1], y = ls[ls.size() - 2], z = ls.back();
  using Hurt = std::function<void()>;
  auto at = [&](std::string p, uint64_t offset, Bytes b) -> Hurt {
    return [=] { raw::patch(p, offset, b); };
  };
  auto num = [&](int width, uint64_t value) { return raw::number(width, f.big, value); };
  auto set = [&](int field, uint64_t value) {
    const raw::FieldRow* r = raw::header_field(v, field);
    return at(name_, uint64_t(r->offset), num(r->width, value));
  };
  auto cut = [&](std::string p, long size) -> Hurt {
    return [=] { EXPECT_EQ(size < 0 ? unlink(p.c_str()) : truncate(p.c_str(), size), 0); };
  };
  auto stamp = [&](std::string p, int offset) {  // another stamp in a segment
    return at(p, uint64_t(offset),
              raw::number(4, true, raw::load(&raw::slurp(p)[size_t(offset)], 4, true) + 5));
  };
  const int hdr = f.node_header();
  // Bytes of node n from byte `from`, and the links of two leaves (0 previous, 1 next).
  auto node = [&](uint32_t n, int from, Bytes b) {
    std::string p;
    uint64_t offset = 0;
    EXPECT_FALSE(f.node(n, &p, &offset).empty());
    return at(p, offset + uint64_t(from), b);
  };
  auto both = [](Hurt x, Hurt y) -> Hurt { return [=] { x(), y(); }; };
  auto links = [&](uint32_t n, int which, uint32_t to, uint32_t m, int which2, uint32_t to2) {
    return both(node(n, hdr + 4 * which, num(4, to)), node(m, hdr + 4 * which2, num(4, to2)));
  };
  auto in = [&](raw::Pos p, std::vector<std::pair<size_t, Bytes>> puts) -> Hurt {
    raw::Record r;  // bytes of the record at p, from byte `from` of its header and slot
    const bool found = f.record_at(p, &r);
    const std::string path = raw::data_path(name_, r.pos.segment);
    return [=] {
      ASSERT_TRUE(found) << "a record at " << p.offset;
      for (auto [from, b] : puts)
        for (size_t i = 0; i < b.size(); i++) ASSERT_TRUE(raw::patch(path, r.at[from + i], {b[i]}));
    };
  };
  auto link = [&](raw::Pos from, raw::Pos to) {  // bytes 9-14 in version 5, else the slot's
    Bytes link = num(4, to.offset), segment = raw::number(2, true, to.segment);
    if (v >= 4) link.insert(link.end(), segment.begin(), segment.end());
    return in(from, {{v == 5 ? 9 : size_t(f.hsize), link}});
  };
  // The record of primary key 130, and where every key's entry names it. Its data length is
  // bytes 2-3 (4-7 in version 5), with the mark of a record stored as it is in the top bit in
  // versions 3 and 4; versions 2 and 5 have a mark in byte 8.
  const std::string lost = model_.live["00000130"].first;
  std::vector<std::pair<std::string, uint64_t>> names;
  raw::Record r;
  for (int k = 0; k < 3; k++) {
    ASSERT_TRUE(f.tree(k, &entries, &nodes, &space));
    for (const raw::Entry& e : entries) {
      std::string p;
      uint64_t at;
      f.node(e.node, &p, &at);
      ASSERT_TRUE(k || Bytes(lost.begin(), lost.begin() + 8) != e.key ||
                  f.record_at(e.address, &r));
      if (e.address == r.pos)
        names.push_back(
            {p, at + hdr + 8 + e.slot * (e.key.size() + f.address_bytes()) + e.key.size()});
    }
  }
  ASSERT_EQ(names.size(), 3u);
  const bool v34 = v == 3 || v == 4;
  auto length = [&](uint32_t n, bool plain) {
    return std::pair(size_t(v == 5 ? 4 : 2), num(v == 5 ? 4 : 2, n | (v34 && plain) << 15));
  };
  auto mark = [&](int value) { return std::pair(size_t(v34 ? 0 : 8), num(v34 ? 0 : 1, value)); };
  auto slot = [&](size_t at, Bytes b) { return std::pair(size_t(f.hsize) + at, b); };
  Hurt away = [=] {
    for (auto [p, at] : names) raw::patch(p, at, raw::number(4, v != 2, 100));
  };
  // The damage, and the codes of a plain and of a strict open (-1: not checked) and the one
  // reads meet (0: none).
  using Case = std::tuple<Hurt, int, int, int>;
  std::vector<Case> cases;
  cases.insert(
      cases.end(),
      {Case(away, 0, 0, 680), Case(in(r.pos, {length(r.h.stored + 1, 1)}), 0, 0, 681),
       Case(in(r.pos, {v34 ? length(0, 1) : mark(v == 2 ? 0x7F : 5)}), 0, 0, 682),
       Case(in(r.pos, {length(23, 1)}), 0, 0, 683),
       Case(both(set(55, 1),
                 in(r.pos, {slot(0, {0xFE, 'q', 0xFF, 0xFE, 'q', 0xFF}), length(6, 0), mark(0)})),
            0, 0, 684),
       Case(in(r.pos, {slot(0, {uint8_t(r.slot[0] ^ 1)}), slot(8, {uint8_t(r.slot[8] ^ 1)}),
                       slot(12, {uint8_t(r.slot[12] ^ 1)})}),
            0, 0, 685)});
  cases.insert(cases.end(),
               {Case(set(31, 11), 601, 601, 601), Case(set(45, 0), 601, 601, 601),
                Case(set(7, 1024), 601, 601, 601), Case(set(60, 5), 601, 601, 601),
                Case(set(27, 1), 603, 603, 0), Case(set(2, v == 5 ? 17 : 3), 1300, 1300, 1300),
                Case(at(name_, 530, num(1, 0x55)), 605, 605, 605),
                Case(at(name_, 4, num(2, 6)), 1300, 1300, 1300),
                Case(at(name_, 1, num(1, 0x55)), 1300, 1300, 1300),
                Case(cut(name_, 530), 605, 605, 605), Case(cut(name_, 300), 1300, 1300, 1300)});
  cases.insert(
      cases.end(),
      {Case(node(root, 0, num(1, 9)), 0, 610, 610), Case(node(root, 0, num(1, 0xFF)), 0, 610, 610),
       Case(node(b, 0, num(1, 1)), 0, 0, 610), Case(node(b, 1, num(2, 0xFFFF)), 0, 0, 610),
       Case(node(root, hdr, num(4, 0x7FFFFF00)), 0, 0, 610),

       Case(node(a, hdr + 4, num(4, 0xFFFF7F)), 0, 0, 610),
       Case(links(b, 1, a, a, 0, b), 0, 0, 611), Case(links(a, 1, a, a, 0, a), 0, 0, 611),
       Case(links(y, 0, z, z, 1, y), 0, 0, 611), Case(link(chain[0], chain[0]), 0, 0, 0),
       Case(link(chain[1], chain[0]), 0, 0, 0)});
  if (v >= 4)
    cases.insert(cases.end(),
                 {Case(set(61, 0x7FFFFFFF), 601, 601, 601),
                  Case(stamp(raw::data_path(name_, 2), K_offsets[v][KF_DATA_STAMP]), 602, 602, 0),
                  Case(stamp(x1, K_offsets[v][KF_INDEX_STAMP]), 602, 602, 0),
                  Case(cut(x1, -1), 604, 604, 610), Case(cut(x0, -1), 604, 604, 610),
                  Case(cut(d1, -1), 604, 604, 681), Case(cut(d1, 100), 604, 604, 681),
                  Case(cut(last, (raw::file_size(last) + 512) / 2), 0, 604, 681),
                  Case(cut(x0, 1024), 0, -1, 610)});
  if (v == 5) cases.push_back(Case(link(f.address(15), f.address(15)), 0, 0, 0));
  for (size_t i = 0; i < cases.size(); i++) {
    auto [hurt, plain, strict, meets] = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    ASSERT_NO_FATAL_FAILURE(restore());
    hurt();
    EXPECT_EQ(open_error(), plain);
    rt_config_set("K_OPEN_STRICT", 0, 1);
    EXPECT_EQ(strict < 0 ? -1 : open_error(), strict);
    rt_config_set("K_OPEN_STRICT", 0, 0);
    bKForceOpen = 1;
    std::set<int> codes = read_all();
    EXPECT_TRUE(meets ? codes.count(meets) > 0 : codes.empty());
    for (int e : codes) EXPECT_EQ(e / 100, meets / 100) << e;
    KFile* k = i < 6 ? k5_open(name_.c_str(), K_MODE_READ, "0,0,0") : nullptr;  // one record
    Model rest = model_;  // all but the damaged record, and without k_ixkit those before it
    rest.live.erase(lost.substr(0, 8));
    for (int key = 0; k && key < 3 * 3; key++) {
      k_ixkit = key % 3 < 2;
      Scan s = scan(k, key / 3, key % 3 != 1);
      std::vector<std::string> all = model_.order(key / 3), want = rest.order(key / 3);
      if (!k_ixkit) want.resize(size_t(std::find(all.begin(), all.end(), lost) - all.begin()));
      EXPECT_TRUE(s.ended == k_ixkit && s.good == want &&
                  s.errors == Errors(2 - k_ixkit, {6, meets % 100}))
          << key;
    }
    k_ixkit = 0;
    EXPECT_TRUE(!k || k5_close(k));
    if (KFile* w = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0")) {
      for (int j = 0; j < 1500; j += 100) {
        EXPECT_TRUE(k5_write(w, rec(j + 5, 24).data(), 24) || error() == 6);
        EXPECT_TRUE(k5_delete(w, rec(j).data()) || error() == 6 || error() == 8);
      }
      k5_close(w);
    }
    EXPECT_TRUE(meets || read_all().empty()) << "a record stored over a live one";
    bKForceOpen = 0;
    EXPECT_TRUE(plain != 602 || open_error() == 0) << "stamps put back";
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, DamageTest, ::testing::Values(2, 3, 4, 5));
