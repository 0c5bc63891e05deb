// Character tests that look at ASCII only: bytes of 128 and above are never letters or
// white space here, whatever the locale says.
#ifndef IXKIT_FRONT_ASCII_H
#define IXKIT_FRONT_ASCII_H

// c with ASCII upper case folded to lower case; every other value as it is.
inline int ascii_lower(int c) {
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

inline bool ascii_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

#endif  // IXKIT_FRONT_ASCII_H
