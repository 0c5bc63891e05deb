// The key value of -extract.
#ifndef IXKIT_TRANSFER_EXTRACT_H
#define IXKIT_TRANSFER_EXTRACT_H

// The key value area: up to 250 bytes of value and room for a terminator, zero-filled so that
// a short value is followed by zero bytes.
constexpr int KEY_VALUE_AREA = 251;

// Puts the value word of the option v into area (KEY_VALUE_AREA bytes, zero-filled by the
// caller). A backslash makes the next character literal and is dropped. A word that begins
// with a single or a double quote is quoted: that quote is dropped, and so is the next
// unescaped quote of the same kind; other quote characters are kept. At most 250 bytes are
// taken.
void copy_key_value(char* area, const char* word);

#endif  // IXKIT_TRANSFER_EXTRACT_H
