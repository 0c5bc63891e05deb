// The -info command: a report on each Kelvra file, from its header and its description texts.
#include <cstdio>

#include "ixkit/describe/describe.h"
#include "ixkit/describe/description.h"
#include "ixkit/describe/header.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/options.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

struct InfoOptions {
  int extended;
  int pause;
  int key_table;
};

// Whether a file of this run has been reported (or tried) already.
bool seen_a_file = false;

// What the description texts of codes -1 and -2 say.
struct Description {
  unsigned max_size, min_size, keys;
  unsigned extension, compression, encryption;
};

// Room rt_format_args may fill.
constexpr int kFormatRoom = 4096;

int on_info_letter(int letter, OptionWords*, void* context) {
  InfoOptions* options = static_cast<InfoOptions*>(context);
  switch (letter) {
    case 'k':
      options->key_table = 1;
      return 1;
    case 'p':
      options->pause = 1;
      return 1;
    case 'x':
      options->extended = 1;
      return 1;
    default:
      return 0;
  }
}

void report_file(const char* name, void* context) {
  const InfoOptions* options = static_cast<const InfoOptions*>(context);
  info_file(name, options->extended, options->pause, options->key_table);
}

// Before every file but the first: a blank line, and with the pause option the name of the
// next file and a line to wait for.
void separate(const char* name, int pause) {
  if (!seen_a_file) {
    seen_a_file = true;
    return;
  }
  rt_print("\n");
  if (pause) {
    if (quiet) exit_run(99);
    rt_print(rt_message(949, 0, "Next file = %s: "), name);
    rt_fflush(rt_stdout());
    char line[245];
    rt_input_line(line, sizeof line);
  }
  rt_print("\n");
}

Description describe(KFile* file) {
  Description d{};
  char text[32] = {};
  if (k5_info(file, -1, text)) sscanf(text, "%u,%u,%u", &d.max_size, &d.min_size, &d.keys);
  // The blocking factor and the pre-allocation are not shown; the header gives the block size.
  if (k5_info(file, -2, text)) {
    sscanf(text, "%*u,%*u,%u,%u,%u", &d.extension, &d.compression, &d.encryption);
  }
  return d;
}

void print_title(const char* name, KFile* file) {
  rt_print("%s", name);
  char comment[32] = {};
  if (k5_info(file, -3, comment) && comment[0] != '\0') rt_print("  (%s)", comment);
  rt_print(rt_message(950, 0, "  [kelvra version %d]"), file_header.version);
}

void print_counts() {
  rt_print(rt_message(951, 0, "\n\n# of records:          %8ld\n"),
           static_cast<long>(file_header.records));
  char line[kFormatRoom];
  if (file_header.version == 5) {
    char total[32], deleted[32], abandoned[32];
    snprintf(total, sizeof total, "%8ld",
             static_cast<long>(file_header.deleted) + static_cast<long>(file_header.abandoned));
    snprintf(deleted, sizeof deleted, "%ld", static_cast<long>(file_header.deleted));
    snprintf(abandoned, sizeof abandoned, "%ld", static_cast<long>(file_header.abandoned));
    rt_format_args(line, rt_message(1776, 0, "# of deleted records:  %1 (%2+%3)\n"), total, deleted,
                   abandoned);
  } else {
    rt_format_args(line, rt_message(952, 0, "# of deleted records:  %8ld\n"),
                   static_cast<long>(file_header.deleted));
  }
  rt_print("%s", line);
}

// One size line per data and index segment, then their total. The total is kept as a
// 15-digit decimal text, as the runtime adds it.
void print_segment_sizes(const char* name, KFile* file) {
  const char* size_line = rt_message(953, 0, "file size:           %10ld");
  char total[16] = "000000000000000";
  char addend[32];
  const int highest[2] = {file->data_segment_high, file->index_segment_high};
  const int64_t* sizes[2] = {file->data_segment_size, file->index_segment_size};
  const int codes[2] = {K_SEGMENT_DATA, K_SEGMENT_INDEX};
  for (int kind = 0; kind < 2; ++kind) {
    for (int i = 0; sizes[kind] != nullptr && i <= highest[kind]; ++i) {
      const long size = static_cast<long>(sizes[kind][i]);
      rt_print(size_line, size);
      rt_print(" (%s)\n", ki_segment_name(name, codes[kind], i));
      snprintf(addend, sizeof addend, "%0*ld", 15, size);
      rt_decimal_add(total, addend, 15);
    }
  }
  for (char* p = total; *p == '0'; ++p) *p = ' ';
  rt_print(rt_message(1325, 0, "total file size:%s\n"), total);
  rt_print(rt_message(1265, 0, "segment size:        %10ld\n"),
           static_cast<long>(file_header.segment_size));
}

void print_sizes(const char* name, KFile* file, const Description& d) {
  if (file_header.version <= 3) {
    rt_print(rt_message(953, 0, "file size:           %10ld"),
             static_cast<long>(file_header.end_offset));
    rt_print("\n");
  } else {
    print_segment_sizes(name, file);
  }
  if (d.min_size >= d.max_size) {
    rt_print(rt_message(955, 0, "record size:         %10u"), d.max_size);
  } else {
    char min_text[16], max_text[16];
    snprintf(min_text, sizeof min_text, "%9u", d.min_size);
    snprintf(max_text, sizeof max_text, "%u", d.max_size);
    rt_fprint_args(rt_stdout(), rt_message(954, 0, "record size (min/max):%1/%2"), min_text,
                   max_text);
  }
  if (d.compression != 0) {
    char factor[32] = "";
    if (d.compression != 1) snprintf(factor, sizeof factor, " (%u%%)", d.compression);
    rt_print(rt_message(1100, 0, " compressed%s"), factor);
  }
  rt_print("%s\n", d.encryption ? " encrypted" : "");
  rt_print(rt_message(956, 0, "# of keys:             %8d\n"), static_cast<int>(d.keys));
}

// Tree heights of a file of version 3 and later: largest, smallest and the mean to one
// decimal, truncated.
void print_tree_heights(KFile* file) {
  const unsigned keys = file->key_count > 0 && file->key_count <= K_MAX_KEYS
                            ? static_cast<unsigned>(file->key_count)
                            : 0;
  // A file without keys has no trees: every figure is shown as 0 rather than dividing by 0.
  if (keys == 0) {
    rt_print(rt_message(963, 0, "tree height:           %8d/%d/%d.%d\n"), 0, 0, 0, 0);
    return;
  }
  unsigned largest = 0, smallest = 9999, sum = 0;
  for (unsigned k = 0; k < keys; ++k) {
    const unsigned height = file->tree_height[k];
    if (height > largest) largest = height;
    if (height < smallest) smallest = height;
    sum += height;
  }
  rt_print(rt_message(963, 0, "tree height:           %8d/%d/%d.%d\n"), static_cast<int>(largest),
           static_cast<int>(smallest), static_cast<int>(sum / keys),
           static_cast<int>(sum * 10 / keys % 10));
}

void print_extended(KFile* file, unsigned keys) {
  KeyTextInfo key;
  rt_print("%s", rt_message(957, 0, "key size:               "));
  for (unsigned k = 0; k < keys; ++k) {
    read_key_text(file, static_cast<int>(k), &key);
    if (key.segment_count <= 1) {
      rt_print("%7d", static_cast<int>(key.total_size));
    } else {
      rt_print("%4d:%02d", static_cast<int>(key.total_size), static_cast<int>(key.segment_count));
    }
  }
  rt_print("%s", rt_message(958, 0, "\nkey offset:             "));
  for (unsigned k = 0; k < keys; ++k) {
    read_key_text(file, static_cast<int>(k), &key);
    rt_print("%7d", static_cast<int>(key.offset[0]));
  }
  rt_print("%s", rt_message(959, 0, "\nduplicates okay:        "));
  for (unsigned k = 0; k < keys; ++k) {
    read_key_text(file, static_cast<int>(k), &key);
    rt_print("%7s", key.duplicates ? "Y" : "N");
  }
  rt_print("\n\n");
}

void print_blocks_and_nodes(KFile* file, const Description& d) {
  rt_print(rt_message(960, 0, "block size:            %8d\n"),
           static_cast<int>(header_block_bytes));
  rt_print(rt_message(961, 0, "blocks per granule:    %8d\n"), static_cast<int>(d.extension));
  if (file_header.version == 2) {
    rt_print(rt_message(962, 0, "tree height:           %8d\n"),
             static_cast<int>(file_header.tree_height));
  } else {
    print_tree_heights(file);
  }
  rt_print(rt_message(964, 0, "# of nodes:          %10ld\n"),
           static_cast<long>(file_header.nodes));
  rt_print(rt_message(965, 0, "# of deleted nodes:  %10ld\n"),
           static_cast<long>(file_header.deleted_nodes));
  // Each node loses its header (2 bytes in version 2, else 3); 32-bit unsigned, as kept.
  const uint32_t node_header = file_header.version == 2 ? 2 : 3;
  const uint32_t total = (uint32_t{header_block_bytes} - node_header) * file_header.nodes;
  rt_print(rt_message(966, 0, "total node space:    %10lu\n"), static_cast<unsigned long>(total));
  const uint32_t used = file_header.node_space_used;
  // The share is divided in single precision, then widened for the percentage.
  double percent = 0.0;
  if (total != 0) {
    percent = static_cast<double>(static_cast<float>(used) / static_cast<float>(total)) * 100.0;
  }
  rt_print(rt_message(967, 0, "node space used:     %10lu (%.2f%%)\n"),
           static_cast<unsigned long>(used), percent);
}

void print_key_table(KFile* file, unsigned keys) {
  rt_print("%s",
           rt_message(1268, 0,
                      "\nKey  Dups    Seg-1     Seg-2     Seg-3     Seg-4     Seg-5     Seg-6"));
  rt_print("%s", rt_message(1269, 0,
                            "\n            (sz/of)   (sz/of)   (sz/of)   (sz/of)   (sz/of)   "
                            "(sz/of)\n\n"));
  KeyTextInfo key;
  char segment[32];
  for (unsigned k = 0; k < keys; ++k) {
    read_key_text(file, static_cast<int>(k), &key);
    rt_print("%3d    %s    ", static_cast<int>(k), key.duplicates ? "Y" : "N");
    for (unsigned i = 0; i < key.segment_count; ++i) {
      snprintf(segment, sizeof segment, "%d/%d", static_cast<int>(key.size[i]),
               static_cast<int>(key.offset[i]));
      rt_print("%-10s", segment);
    }
    rt_print("\n");
  }
}

}  // namespace

void info_command(int count, char** words) {
  InfoOptions options{};
  const int first = read_options(count, words, 0, on_info_letter, &options);
  for_each_file(count, words, first, 100, report_file, &options);
}

void info_file(const char* name, int extended, int pause, int key_table) {
  separate(name, pause);
  KFile* file = nullptr;
  if (!read_header(name) || (file = k5_open(name, K_MODE_READ, "0,0,0")) == nullptr) {
    ki_error(name);
    return;
  }
  const Description d = describe(file);
  // No file has more keys than the library keeps; the loops over keys stop there.
  const unsigned keys = d.keys < K_MAX_KEYS ? d.keys : K_MAX_KEYS;
  print_title(name, file);
  print_counts();
  print_sizes(name, file, d);
  if (extended) {
    print_extended(file, keys);
    print_blocks_and_nodes(file, d);
  }
  rt_print(rt_message(968, 0, "user count:            %8d\n"),
           static_cast<int>(file_header.user_count));
  if (key_table) print_key_table(file, keys);
  k5_close(file);
}
