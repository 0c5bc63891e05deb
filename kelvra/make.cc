// Making new files (k5_make, k2_make, k_make) and removing files (k5_remove).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/errors.h"
#include "kelvra/file.h"
#include "kelvra/format.h"
#include "kelvra/keydesc.h"
#include "kelvra/lifecycle.h"
#include "kelvra/records.h"
#include "kelvra/segments.h"
#include "kelvra/share.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Highest data and index segment numbers a file's header names (0 and -1 when unreadable).
void segment_counts(const char* name, int* data_high, int* index_high) {
  *data_high = 0;
  *index_high = -1;
  int fd = rt_os_open(name, O_RDONLY, 0);
  if (fd < 0) return;
  uint8_t block[K_HEADER_SIZE];
  Header h;
  if (read_at(fd, 0, block, sizeof block) == K_HEADER_SIZE && decode_header(block, &h) &&
      h.version >= 4) {
    *data_high = h.end.segment;
    uint32_t per = (h.segment_size - K_HEADER_SIZE) / static_cast<uint32_t>(h.blocking * 512);
    *index_high = (h.nodes == 0 || per == 0) ? 0 : static_cast<int>((h.nodes - 1) / per);
  }
  rt_os_close(fd);
}

// Removes the files of name: the further segments its header names, any further segments
// beyond them left by an earlier file of that name, then the file itself.
int remove_segments(const char* name) {
  int data_high, index_high;
  segment_counts(name, &data_high, &index_high);
  // A segment the header names that is there but cannot be removed fails the removal; the
  // others are still removed.
  int failed = 0;
  auto remove = [&](const std::string& path) {
    if (rt_os_unlink(path.c_str()) == 0) return true;
    if (errno != ENOENT && failed == 0) failed = errno;
    return false;
  };
  for (int n = 1; n <= 0xFFFF; n++) {
    if (!remove(segment_file_name(name, K_SEGMENT_DATA, n)) && n > data_high) break;
  }
  for (int n = 0; n <= 0xFFFF; n++) {
    if (!remove(segment_file_name(name, K_SEGMENT_INDEX, n)) && n > index_high) break;
  }
  if (rt_os_unlink(name) != 0) return k_fail_errno();
  if (failed != 0) {
    errno = failed;
    return k_fail_errno();
  }
  return 1;
}

// Fails with code 11 when another opener holds the file.
int not_in_use(const char* name) {
  int fd = rt_os_open(name, O_RDONLY, 0);
  if (fd < 0) return 1;
  int used = file_in_use(fd);
  rt_os_close(fd);
  return used ? k_fail(RT_ERR_LOCKED) : 1;
}

// The header of a new file of description d.
Header new_header(const FileDescription& d, const Dictionary& dict) {
  Header h;
  int v = d.version;
  h.version = v;
  h.magic = v == 5 ? K_MAGIC_SEGMENTED : K_MAGIC;
  h.blocking = d.blocking;
  h.record_header_size = new_record_header_size(v, d.encryption);
  h.seed_flag = v == 5 && d.encryption;
  h.max_record = d.max_record;
  h.min_record = d.min_record;
  h.key_count = d.key_count;
  h.compression = d.compression;
  h.encryption = d.encryption;
  h.preallocate = d.preallocate;
  h.extension = d.extension;
  h.flags = d.has_collating ? K_FLAG_COLLATING : 0;
  memcpy(h.comment, d.comment, sizeof h.comment);
  h.comment[30] = 0;
  h.dictionary = {K_HEADER_SIZE, 0};
  h.dictionary_size = dictionary_size(dict);
  h.stamp = 1;
  h.v2_flag_word = d.min_record < d.max_record ? K_V2_VARIABLE : 0;
  uint32_t data_start = K_HEADER_SIZE + h.dictionary_size;
  uint32_t b = static_cast<uint32_t>(d.blocking) * 512;
  if (v >= 4) {
    // A segment holds at least the header, the dictionary and the largest record.
    uint32_t slot = d.max_record > 6 ? d.max_record : 6;
    uint32_t least = data_start + static_cast<uint32_t>(h.record_header_size) + slot;
    if (least < K_HEADER_SIZE + b) least = K_HEADER_SIZE + b;
    h.segment_size = make_segment_size();
    if (h.segment_size < least) h.segment_size = least;
    h.first_record = {data_start, 0};
  } else {
    // The record area starts with the first whole block after the dictionary.
    uint32_t first = (data_start + b - 1) / b * b;
    h.first_record = {first, 0};
    h.used_end = first + b;
  }
  h.end = h.first_record;
  h.allocated = {h.version >= 4 ? data_start : h.used_end, 0};
  return h;
}

// Creates the files of a new file of description d, replacing a file of that name, with
// users as its user count.
int create_file(const char* name, FileDescription* d, int users = 0) {
  if (!name || !*name) return k_fail(RT_ERR_PARAMETER);
  if (!check_description(d)) return 0;
  if (!not_in_use(name)) return 0;
  if (exists(name) && !remove_segments(name)) return 0;
  Dictionary dict;
  dictionary_from_description(*d, &dict);
  Header h = new_header(*d, dict);
  h.user_count = users;
  int fd = rt_os_open(name, O_RDWR | O_CREAT | O_EXCL, 0666);
  if (fd < 0) return k_fail_errno();
  std::vector<uint8_t> bytes(h.version >= 4 ? h.first_record.offset : h.used_end, 0);
  encode_header(h, bytes.data());
  encode_dictionary(dict, h.version, bytes.data() + K_HEADER_SIZE);
  int ok = write_at(fd, 0, bytes.data(), bytes.size());
  if (rt_os_close(fd) != 0 && ok) ok = k_fail_errno();
  if (ok && h.version >= 4) {
    std::string index = segment_file_name(name, K_SEGMENT_INDEX, 0);
    rt_os_unlink(index.c_str());
    int x = rt_os_open(index.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (x < 0) {
      ok = k_fail_errno();
    } else {
      uint8_t block[K_HEADER_SIZE];
      encode_segment_header(h, K_SEGMENT_INDEX, 0, h.blocking * 512, block);
      ok = write_at(x, 0, block, sizeof block);
      if (rt_os_close(x) != 0 && ok) ok = k_fail_errno();
    }
  }
  if (!ok) {
    int code = *rt_file_error(), secondary = *rt_file_error2();
    remove_segments(name);
    return k_fail(code, secondary);
  }
  k_clear_error();
  return 1;
}

void set_comment(FileDescription* d, const char* comment) {
  memset(d->comment, 0, sizeof d->comment);
  if (comment) strncpy(d->comment, comment, 30);
}

// The description k5_make and k5_make_open are given. 0 when a text is refused.
int describe_new(FileDescription* d, const char* comment, const char* storage, const char* sizes,
                 const char* keys, const uint8_t* collating) {
  *d = FileDescription{};
  d->version = make_version();
  if (!parse_storage(storage, d) || !parse_sizes(sizes, d) || !parse_keys(keys, d)) return 0;
  set_comment(d, comment);
  if (collating) {
    d->has_collating = 1;
    memcpy(d->collating, collating, 256);
  }
  return 1;
}

}  // namespace

int k5_make(const char* name, const char* comment, const char* storage, const char* sizes,
            const char* keys, const uint8_t* collating) {
  k_clear_error();
  static FileDescription d;
  if (!describe_new(&d, comment, storage, sizes, keys, collating)) return 0;
  return create_file(name, &d);
}

KFile* k5_make_open(const char* name, const char* comment, const char* storage, const char* sizes,
                    const char* keys, const uint8_t* collating, int mode) {
  k_clear_error();
  if ((mode & K_MODE_FILL) != K_MODE_FILL) {
    k_fail(RT_ERR_PARAMETER);
    return nullptr;
  }
  static FileDescription d;
  if (!describe_new(&d, comment, storage, sizes, keys, collating) || !create_file(name, &d, 1)) {
    return nullptr;
  }
  KFile* file = open_file(name, mode, 1);
  if (file == nullptr) {
    int code = *rt_file_error(), secondary = *rt_file_error2();
    remove_segments(name);
    k_fail(code, secondary);
  }
  return file;
}

int k2_make(const char* name, const char* parameters, const char* description) {
  k_clear_error();
  static FileDescription d;
  d = FileDescription{};
  if (!parse_v2_texts(parameters, description, &d)) return 0;
  return create_file(name, &d);
}

int k_make(const char* name, const char* description, const char* parameters) {
  k_clear_error();
  static FileDescription d;
  d = FileDescription{};
  // Parameters: empty for the configured version, or V2 to V5.
  const char* p = parameters ? parameters : "";
  if (*p == 0) {
    d.version = make_version();
  } else if ((p[0] == 'V' || p[0] == 'v') && p[1] >= '2' && p[1] <= '5' && p[2] == 0) {
    d.version = p[1] - '0';
  } else {
    return k_fail(RT_ERR_PARAMETER, 7);
  }
  // Description: storage;sizes;keys[;comment] in the texts of k5_make.
  std::string text = description ? description : "";
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < 3) {
    size_t semi = text.find(';', start);
    if (semi == std::string::npos) break;
    parts.push_back(text.substr(start, semi - start));
    start = semi + 1;
  }
  parts.push_back(text.substr(start));
  if (parts.size() < 3) return k_fail(RT_ERR_PARAMETER, 7);
  if (!parse_storage(parts[0].c_str(), &d) || !parse_sizes(parts[1].c_str(), &d) ||
      !parse_keys(parts[2].c_str(), &d)) {
    return 0;
  }
  set_comment(&d, parts.size() > 3 ? parts[3].c_str() : "");
  return create_file(name, &d);
}

int k5_remove(const char* name) {
  k_clear_error();
  if (!name || !*name) return k_fail(RT_ERR_PARAMETER);
  if (!exists(name)) return k_fail(RT_ERR_MISSING, ENOENT);
  if (!not_in_use(name)) return 0;
  return remove_segments(name);
}
