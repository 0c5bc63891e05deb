// Writes seed inputs for the fuzz targets of the readers of flat files, the rejected-records
// file, spool volumes, parameter files, translation tables, the message catalogue and the
// configuration file, in each target's input layout: DIR/flat_fuzz, DIR/rejects_fuzz, ...
//   make_reader_seeds DIR
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

std::string g_out;

void seed(const std::string& target, int n, const std::string& bytes) {
  const std::string directory = g_out + "/" + target;
  mkdir(directory.c_str(), 0777);
  FILE* out = fopen((directory + "/seed" + std::to_string(n)).c_str(), "wb");
  if (!out) return;
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
}

std::string big_endian(uint32_t value, int width) {
  std::string bytes;
  for (int i = width - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string little_endian(uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

// Record i of a run: its first byte (the one-byte key of the targets' files) repeats every
// 13 records, so that some records are duplicates.
std::string record(int i, size_t length) {
  char text[32];
  snprintf(text, sizeof text, "%c%05d%04d", 'A' + i % 13, i * 37 % 1000, i % 7);
  std::string r = text;
  while (r.size() < length) r += static_cast<char>('a' + (i + r.size()) % 26);
  return r.substr(0, length);
}

// Records of a flat file in a framing: 0 fixed, 1 native variable, 2 portable variable,
// 3 portable with 4-byte prefixes, 4 lines (CR LF every third line).
std::string flat_file(int framing, uint32_t max_size, int count) {
  std::string file;
  for (int i = 0; i < count; ++i) {
    const size_t length = framing == 0 ? max_size : 1 + (i * 7) % max_size;
    const std::string r = record(i, length);
    switch (framing) {
      case 0:
        file += r;
        break;
      case 1:
        file += little_endian(static_cast<uint32_t>(r.size())) + r;
        break;
      case 2:
        file += big_endian(static_cast<uint32_t>(r.size()), 2) + r;
        break;
      case 3:
        file += big_endian(static_cast<uint32_t>(r.size()), 4) + r;
        break;
      default:
        file += r + (i % 3 == 0 ? "\r\n" : "\n");
        break;
    }
  }
  return file;
}

void flat_seeds() {
  // first byte: framing index (0 to 7) | writer << 3 | compression << 6; second byte:
  // record size index | (version - 2) << 3 | block size index << 5, as flat_fuzz.cc reads them.
  struct Seed {
    int framing, file_framing, writer, packed, size, version, block, count;
  };
  const Seed seeds[] = {
      {0, 0, 0, 0, 2, 5, 0, 20}, {1, 0, 3, 1, 3, 4, 1, 8},  {2, 0, 2, 0, 2, 3, 5, 12},
      {3, 1, 0, 0, 3, 5, 2, 30}, {3, 1, 4, 1, 4, 2, 3, 20}, {4, 2, 0, 0, 3, 5, 4, 30},
      {4, 2, 1, 0, 1, 3, 6, 20}, {5, 3, 0, 1, 7, 5, 0, 20}, {5, 3, 5, 0, 5, 4, 7, 10},
      {6, 4, 0, 0, 2, 5, 0, 30}, {6, 4, 2, 1, 1, 2, 1, 20}, {7, 4, 3, 0, 3, 5, 3, 25},
  };
  const uint32_t sizes[8] = {1, 3, 16, 100, 255, 4095, 65535, 70000};
  int n = 0;
  for (const Seed& s : seeds) {
    std::string input = {static_cast<char>(s.framing | s.writer << 3 | s.packed << 6),
                         static_cast<char>(s.size | (s.version - 2) << 3 | s.block << 5)};
    const uint32_t max_size = s.file_framing == 0 || s.file_framing == 4
                                  ? sizes[s.size]
                                  : std::min<uint32_t>(sizes[s.size], 120);
    input += flat_file(s.file_framing, max_size, s.count);
    if (n == 9) input += std::string(1, 26) + "after the end";
    seed("flat_fuzz", n++, input);
  }
}

void rejects_seeds() {
  // first byte: record size index (3, 300, 65535, 70000) | compression << 2.
  const int size_index[6] = {0, 1, 1, 2, 3, 3};
  const uint32_t sizes[4] = {3, 300, 65535, 70000};
  for (int n = 0; n < 6; ++n) {
    std::string input(1, static_cast<char>(size_index[n] | (n % 2) << 2));
    const int framing = sizes[size_index[n]] > 65535 ? 3 : 2;
    input += flat_file(framing, std::min<uint32_t>(sizes[size_index[n]], 90), 20 + 10 * n);
    if (n == 4) input += big_endian(2000, 4) + record(99, 2000);
    seed("rejects_fuzz", n, input);
  }
}

void spool_seeds() {
  // first byte as spool_fuzz.cc reads it; the volume carries set identifier "KSPL".
  struct Seed {
    int flags, volume, count;
    const char* magic;
  };
  const Seed seeds[] = {
      {0, 1, 30, "KSPL"},     {128, 1, 40, "KSPL"},     {1 | 32, 1, 200, "KSPL"},
      {2 | 8, 1, 10, "KSPL"}, {16 | 64, 1, 20, "KSPL"}, {4, 1, 20, "KSPL"},
      {0, 2, 10, "KSPL"},     {0, 1, 5, "XXXX"},        {3 | 128, 1, 120, "KSPL"}};
  int n = 0;
  for (const Seed& s : seeds) {
    std::string volume =
        std::string(s.magic) + big_endian(static_cast<uint32_t>(s.volume), 2) + "KSPL";
    volume.resize(8192, '\0');
    for (int i = 0; i < s.count; ++i) {
      const std::string r = record(i, 10 + (i * 11) % 70);
      volume += big_endian(static_cast<uint32_t>(r.size()), 2) + r;
    }
    if (n == 5) volume += big_endian(3000, 2) + record(77, 3000);
    volume += big_endian(0, 2);
    seed("spool_fuzz", n++, std::string(1, static_cast<char>(s.flags)) + volume);
  }
}

// An input of two parts, as fuzz/fuzz_files.h lays them out.
std::string two_parts(const std::string& first, int flags, const std::string& second) {
  return big_endian(static_cast<uint32_t>(first.size()), 3) + static_cast<char>(flags) + first +
         second;
}

const std::initializer_list<const char*> kTables = {
    "ZYX",
    "A&a B&b C&c",
    "a-c | the first three letters\n\\065\\066 x",
    "0-9 A-Z a-z | digits, then letters\n",
    "z-a \\255-\\250 \\300 &&",
    "| only a comment",
};

void gen_seeds() {
  const char* const files[] = {
      "CUST,1,1,0,0,0;80,80,1;1,0,8,0;;\n"
      "OLDF,1,1,80,1,10,0,N,N,N\n"
      "SEQF,R\n",
      "# a comment\n\n   \n"
      "ORDERS,2,1,0,10,0;120,40,2;1,0,10,0,2,1,4,10,2,30;T;orders by table\r\n"
      "bad line without a comma\n",
      "GEN,,1,1,0,0,0;40,40,1;1,0,8,0\n"
      "GENV,V3,1,1,0,0,0;40,40,1;1,0,8,0;comment\n"
      "X,I,abc\n",
      "SMALL,1,1,0,0,1;20,5,2;1,0,4,0,1,1,2,4;;scrambled\n"
      "FLAT,S\n"
      "OLD2,2,3,60,2,8,0,6,8,Y,N,Y,Y,old comment\n",
      ("WIDE,16,1,0,0,0;70000,100,1;16,0,1,0,1,1,1,2,1,3,1,4,1,5,1,6,1,7,1,8,1,9,1,10,1,11,1,"
       "12,1,13,1,14,1,15;T\n"
       "CUST,1,1,0,0,0;80,80,1;1,0,8,0;;\n"),
      ("TWICE,1,1,0,0,0;30,30,1;1,0,8,0\nTWICE,1,1,0,0,0;30,30,1;1,0,8,0\n\x1a"
       "AFTER,1,1,0,0,0;30,30,1;1,0,8,0\n"),
  };
  int n = 0;
  for (const char* file : files) {
    seed("gen_fuzz", n, two_parts(file, n, kTables.begin()[n % kTables.size()]));
    ++n;
  }
}

// One seed of each text for target.
void text_seeds(const char* target, std::initializer_list<const char*> texts) {
  int n = 0;
  for (const char* text : texts) seed(target, n++, text);
}

const std::initializer_list<const char*> kCatalogues = {
    "# comment\n943 Wirklich? \r\n944 a\\nb\\tc\\\\d\n945x glued\n",
    "998 Satzlaenge = %d\n1006 Satzlaenge        = %10d\n956 Schluessel:            %8d\n",
    "1068 %ld Saetze\n953 Dateigroesse:        %10ld\n726 Satz #%lu wird gekuerzt\n"
    "955 Satzlaenge:          %10u",
    "970 %s: falscher Eintrag\n1064 %s: zu viele Schluessel (%d hoechstens)\n",
    "963 Baumhoehe:             %8d/%d/%d.%d\n967 Knotenplatz belegt:  %10lu (%.2f%%)\n",
    "1023 \\nDas ist Band %1, bitte Band %2 einlegen\\n\n"
    "1073 %1: Schluessel falsch: %3 erwartet, %2 gefunden\n",
    "1023\n1026\t*** Abgebrochen ***\\n\n943 \n-5 minus\n99999999999 too big\n",
};

const std::initializer_list<const char*> kConfigurations = {
    "# settings\n  K_VERSION   3 \r\nK_BUFFERS 16\nK_SEGMENT_SIZE 8192\n",
    "K_SORT_MEMORY 65536\nK_OPEN_STRICT 1\nMAX_FILES 4\nRT_MESSAGES m\n",
    "K_VERSION 2\nK_VERSION 4\nK_BUFFERS -5\nK_SEGMENT_SIZE 99999999999999999999\n",
    "\tK_VERSION\t5\t\nRT_LEAK_REPORT 1\nK_SORT_MEMORY text\n#K_VERSION 3\n",
    "RT_MESSAGES\nK_VERSION\nK_BUFFERS 1048577\nMAX_FILES 1\n",
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_out = argv[1];
  mkdir(g_out.c_str(), 0777);
  flat_seeds();
  rejects_seeds();
  spool_seeds();
  gen_seeds();
  text_seeds("table_fuzz", kTables);
  text_seeds("message_fuzz", kCatalogues);
  text_seeds("config_fuzz", kConfigurations);
  return 0;
}
