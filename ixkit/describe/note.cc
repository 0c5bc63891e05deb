// The -note command: stores a comment of at most 30 characters in the header.
#include <cstdint>
#include <cstring>

#include "ixkit/describe/describe.h"
#include "ixkit/describe/header_patch.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"

namespace {

// Version 2: the comment at bytes 248 to 278 of the second part, bytes 144 to 279.
constexpr int kV2Comment = 248;
constexpr int kV2PartFrom = 144;
constexpr int kV2PartBytes = 136;
constexpr int kCommentArea = 31;  // 30 characters and a zero byte

struct Note {
  int at;
  const char* comment;
};

int store_comment(uint8_t* block, void* context) {
  const Note* note = static_cast<const Note*>(context);
  memset(block + note->at, 0, kCommentArea);
  memcpy(block + note->at, note->comment, strnlen(note->comment, kCommentArea - 1));
  return 1;
}

void note_each(const char* name, void* context) {
  note_file(name, static_cast<const char*>(context));
}

}  // namespace

void note_command(int count, char** words) {
  if (count == 0) usage();
  const int first = read_quiet_options(count, words);
  if (first >= count) usage();  // the comment is missing
  char* comment = words[first];
  for_each_file(count, words, first + 1, 257, note_each, comment);
}

void note_file(const char* name, const char* comment) {
  LibraryFacts facts;
  if (!library_facts(name, K_MODE_SHARED, &facts)) return;
  Note note{kV2Comment, comment};
  if (facts.version == 2) {
    patch_header(name, kV2PartFrom, kV2PartBytes, store_comment, &note);
    return;
  }
  note.at = header_field(name, facts.version, KF_COMMENT, kCommentArea);
  const int bytes = header_field(name, facts.version, KF_NOTE_BYTES, 0);
  if (note.at < 0 || bytes < 0) return;
  patch_header(name, 0, bytes, store_comment, &note);
}
