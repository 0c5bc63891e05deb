// Setting the runtime's file error codes from inside the library.
#ifndef KELVRA_ERRORS_H
#define KELVRA_ERRORS_H

// Sets the file error code and its secondary code. Returns 0 so that a failing call can end
// with `return k_fail(...)`.
int k_fail(int code, int secondary = 0);
// The error for the last failed system call: errno mapped to the runtime's codes (file
// missing, access denied, disk full, out of memory), else system error with errno.
int k_fail_errno();
// Code 6 (damaged file) with the secondary code that says what was found.
int k_damaged(int secondary);
// Clears both codes.
void k_clear_error();

#endif  // KELVRA_ERRORS_H
