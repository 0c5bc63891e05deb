// The key value word of -extract.
#include "ixkit/transfer/extract.h"

void copy_key_value(char* area, const char* word) {
  const char* p = word;
  char quote = 0;
  if (*p == '\'' || *p == '"') quote = *p++;
  int length = 0;
  while (*p != '\0' && length < KEY_VALUE_AREA - 1) {
    if (*p == '\\') {
      if (*++p == '\0') break;  // a backslash at the very end escapes nothing
    } else if (quote != 0 && *p == quote) {
      quote = 0;  // the closing quote
      ++p;
      continue;
    }
    area[length++] = *p++;
  }
}
