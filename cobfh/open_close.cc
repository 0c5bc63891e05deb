// OPEN, CLOSE and DELETE FILE.
#include <unistd.h>

#include <memory>

#include "cobfh/fcd.h"
#include "cobfh/sharing.h"
#include "cobfh/status.h"
#include "cobfh/verbs.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr const char* kStorage = "0,0,0,0,0";

// Makes the file anew and opens it in mode (OPEN OUTPUT, or an OPTIONAL file not there).
// A file another program has open is left alone: status 61.
const char* make_file(OpenFile* f, int mode) {
  if (access(f->name.c_str(), F_OK) == 0) {
    KFile* other = k5_open(f->name.c_str(), K_MODE_EXCLUSIVE, "0,0,0");
    if (other) {
      k5_close(other);
    } else if (*rt_file_error() == RT_ERR_LOCKED) {
      return "61";
    }
  }
  std::string sizes = layout_sizes_text(f->layout), keys = layout_keys_text(f->layout);
  if (mode == K_MODE_FAST_FILL) {
    f->file =
        k5_make_open(f->name.c_str(), "", kStorage, sizes.c_str(), keys.c_str(), nullptr, mode);
  } else if (k5_make(f->name.c_str(), "", kStorage, sizes.c_str(), keys.c_str(), nullptr)) {
    f->file = k5_open(f->name.c_str(), mode, "0,0,0");
  }
  return f->file ? "00" : status_of_failure(Verb::Open);
}

// Opens the existing file and checks that it is the file the program declares.
const char* open_existing(OpenFile* f, int mode) {
  f->file = k5_open(f->name.c_str(), mode, "0,0,0");
  if (!f->file) return status_of_failure(Verb::Open);
  if (layouts_match(f->layout, layout_of_file(f->file))) return "00";
  k5_close(f->file);
  f->file = nullptr;
  return "39";
}

}  // namespace

void verb_open(FCD3* fcd, int cobol_mode) {
  auto f = std::make_unique<OpenFile>();
  f->name = fcd_file_name(fcd);
  f->mode = cobol_mode;
  f->layout = layout_from_fcd(fcd);
  if (f->layout.keys.empty()) return fcd_status(fcd, "91");  // keys a Kelvra file cannot hold
  f->current.assign(f->layout.max_record, 0);
  f->scratch.assign(f->layout.max_record, 0);
  const char* status;
  if (cobol_mode == OPEN_OUTPUT) {
    status = make_file(f.get(), K_MODE_FAST_FILL);
    f->fill_memory = static_cast<size_t>(rt_config_int("KELVRA_FH_FILL_MEMORY", 256L << 20));
    for (const KeyLayout& key : f->layout.keys) {
      f->written.emplace_back();
      key_set_init(&f->written.back(), key.size);
    }
  } else if (access(f->name.c_str(), F_OK) == 0) {
    status = open_existing(f.get(), sharing_open_mode(fcd, cobol_mode));
  } else if (!(fcd->otherFlags & OTH_OPTIONAL)) {
    status = "35";
  } else if (cobol_mode == OPEN_INPUT) {
    status = "05";  // reads find nothing; no file is made
  } else {
    status = make_file(f.get(), sharing_open_mode(fcd, cobol_mode));
    if (status[0] == '0') status = "05";
  }
  if (status[0] != '0') return fcd_status(fcd, status);
  fcd->openMode = static_cast<unsigned char>(cobol_mode);
  fcd->fileHandle = f.release();
  fcd_status(fcd, status);
}

void verb_close(FCD3* fcd, OpenFile* f) {
  bool ok = !f->file || k5_close(f->file);
  delete f;
  fcd->fileHandle = nullptr;
  fcd->openMode = OPEN_NOT_OPEN;
  fcd_status(fcd, ok ? "00" : "30");
}

void verb_delete_file(FCD3* fcd) {
  std::string name = fcd_file_name(fcd);
  if (access(name.c_str(), F_OK) != 0) return fcd_status(fcd, "35");
  fcd_status(fcd, k5_remove(name.c_str()) ? "00" : status_of_failure(Verb::Open));
}
