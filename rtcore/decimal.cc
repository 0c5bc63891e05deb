// Addition of zero-padded decimal texts.
#include <cstring>

#include "ixkit/libs/rtcore.h"

// Digits are aligned on the right. A text shorter than width counts only its own
// characters (total is never written past its terminator), and any character that is
// not a digit, such as a leading blank, counts as 0 and becomes a digit of the result.
int rt_decimal_add(char* total, const char* addend, int width) {
  if (!total || width <= 0) return total ? 1 : 0;
  size_t total_width = strnlen(total, static_cast<size_t>(width));
  size_t addend_width = addend ? strnlen(addend, static_cast<size_t>(width)) : 0;
  int carry = 0;
  for (size_t i = 1; i <= total_width || i <= addend_width; ++i) {
    int sum = carry;
    if (i <= addend_width) {
      char c = addend[addend_width - i];
      if (c >= '0' && c <= '9') sum += c - '0';
    }
    if (i <= total_width) {
      char& digit = total[total_width - i];
      if (digit >= '0' && digit <= '9') sum += digit - '0';
      digit = static_cast<char>('0' + sum % 10);
      carry = sum / 10;
    } else {
      carry = sum;  // addend digits beyond the total's width
    }
  }
  return carry == 0 ? 1 : 0;
}
