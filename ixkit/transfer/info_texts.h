// The two facts of an open file that every transfer command reads from its description
// texts.
#ifndef IXKIT_TRANSFER_INFO_TEXTS_H
#define IXKIT_TRANSFER_INFO_TEXTS_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// The maximum record size: the first number of the code -1 text (0 when unreadable).
uint32_t info_record_size(KFile* file);
// Whether the records are scrambled: the fifth number of the code -2 text is not 0.
bool info_encrypted(KFile* file);

#endif  // IXKIT_TRANSFER_INFO_TEXTS_H
