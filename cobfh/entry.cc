// The handler's entry: starts the library once, hands files of other organisations to
// GnuCOBOL's own handler and sends each operation on an INDEXED file to its verb.
#include <cstdlib>

#include "cobfh/fcd.h"
#include "cobfh/kelvra_fh.h"
#include "cobfh/verbs.h"
#include "ixkit/libs/kelvra5.h"

namespace {

// The library keeps process-wide state; it is started at the first INDEXED file and
// prints nothing (statuses tell the program everything). GnuCOBOL does not call the handler
// for files a program leaves open at its end: the library closes them then, so that they
// are complete (a fast fill builds its indexes) and their user count comes down.
void start_library() {
  static bool started = false;
  if (started) return;
  k5_init_cfg();
  k5_init();
  atexit([] { k5_exit(0); });
  started = true;
}

enum class Op {
  Open,
  Close,
  Next,
  Previous,
  ReadKey,
  Start,
  Write,
  Rewrite,
  Delete,
  Remove,
  Unlock,
  Other
};

// An operation's verb and, for an open, its open mode (OPEN_INPUT ...), for a start its
// k5_start mode (or START_FIRST, START_LAST).
struct Operation {
  Op op;
  int mode = 0;
};

Operation classify(int code) {
  switch (code) {
    case OP_OPEN_INPUT:
    case OP_OPEN_INPUT_NOREWIND:
    case OP_OPEN_INPUT_REVERSED:
      return {Op::Open, OPEN_INPUT};
    case OP_OPEN_OUTPUT:
    case OP_OPEN_OUTPUT_NOREWIND:
      return {Op::Open, OPEN_OUTPUT};
    case OP_OPEN_IO:
      return {Op::Open, OPEN_IO};
    case OP_OPEN_EXTEND:
      return {Op::Open, OPEN_EXTEND};
    case OP_CLOSE:
    case OP_CLOSE_LOCK:
    case OP_CLOSE_NO_REWIND:
    case OP_CLOSE_REEL:
    case OP_CLOSE_REMOVE:
    case OP_CLOSE_NOREWIND:
      return {Op::Close};
    case OP_READ_SEQ:
    case OP_READ_SEQ_NO_LOCK:
    case OP_READ_SEQ_LOCK:
    case OP_READ_SEQ_KEPT_LOCK:
      return {Op::Next};
    case OP_READ_PREV:
    case OP_READ_PREV_NO_LOCK:
    case OP_READ_PREV_LOCK:
    case OP_READ_PREV_KEPT_LOCK:
      return {Op::Previous};
    case OP_READ_RAN:
    case OP_READ_RAN_NO_LOCK:
    case OP_READ_RAN_LOCK:
    case OP_READ_RAN_KEPT_LOCK:
      return {Op::ReadKey};
    case OP_START_EQ:
    case OP_START_EQ_ANY:
      return {Op::Start, K_START_EQUAL};
    case OP_START_GT:
      return {Op::Start, K_START_GREATER};
    case OP_START_GE:
      return {Op::Start, K_START_NOT_LESS};
    case OP_START_LT:
      return {Op::Start, K_START_LESS};
    case OP_START_LE:
      return {Op::Start, K_START_NOT_GREATER};
    case OP_START_FI:
      return {Op::Start, START_FIRST};
    case OP_START_LA:
      return {Op::Start, START_LAST};
    case OP_WRITE:
      return {Op::Write};
    case OP_REWRITE:
      return {Op::Rewrite};
    case OP_DELETE:
      return {Op::Delete};
    case OP_DELETE_FILE:
      return {Op::Remove};
    case OP_UNLOCK:
    case OP_UNLOCK_REC:
      return {Op::Unlock};
    default:
      return {Op::Other};
  }
}

void on_open_file(Operation o, FCD3* fcd, OpenFile* f) {
  switch (o.op) {
    case Op::Open:
    case Op::Remove:
      return fcd_status(fcd, "41");
    case Op::Close:
      return verb_close(fcd, f);
    case Op::Next:
    case Op::Previous:
      return verb_read_step(fcd, f, o.op == Op::Next);
    case Op::ReadKey:
      return verb_read_key(fcd, f);
    case Op::Start:
      return verb_start(fcd, f, o.mode);
    case Op::Write:
      return verb_write(fcd, f);
    case Op::Rewrite:
      return verb_rewrite(fcd, f);
    case Op::Delete:
      return verb_delete(fcd, f);
    case Op::Unlock:
      if (f->file != nullptr) k5_unlock(f->file);
      return fcd_status(fcd, "00");
    case Op::Other:
      return fcd_status(fcd, "91");  // not an operation this handler has
  }
}

void on_closed_file(Operation o, FCD3* fcd) {
  switch (o.op) {
    case Op::Open:
      return verb_open(fcd, o.mode);
    case Op::Remove:
      return verb_delete_file(fcd);
    case Op::Write:
      return fcd_status(fcd, "48");
    case Op::Rewrite:
    case Op::Delete:
      return fcd_status(fcd, "49");
    case Op::Close:
    case Op::Unlock:
      return fcd_status(fcd, "42");
    case Op::Next:
    case Op::Previous:
    case Op::ReadKey:
    case Op::Start:
      return fcd_status(fcd, "47");
    case Op::Other:
      return fcd_status(fcd, "91");
  }
}

}  // namespace

extern "C" int kelvra_fh(unsigned char* opcode, FCD3* fcd) {
  if (fcd->fileOrg != ORG_INDEXED) return EXTFH(opcode, fcd);
  start_library();
  Operation o = classify(get_be16(opcode));
  if (OpenFile* f = static_cast<OpenFile*>(fcd->fileHandle)) {
    on_open_file(o, fcd, f);
  } else {
    on_closed_file(o, fcd);
  }
  return 0;
}
