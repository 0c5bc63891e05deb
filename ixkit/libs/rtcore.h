// rtcore: the runtime support library under ixkit and the Kelvra file library.
//
// Messages and console text, tracked memory, configuration values, the runtime's
// file error codes, binary files, streams, file names and a growable text buffer.
// Every function is safe to call before rt_init; output then goes to the C streams.
// Usable from C as well: the functions have C linkage.
#ifndef IXKIT_LIBS_RTCORE_H
#define IXKIT_LIBS_RTCORE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Start and stop -------------------------------------------------------

// Records the argument words and environment. mode is -1 for a console program.
void rt_init(int mode, char** argv, char** envp);
// Hands the standard streams to the library; rt_print and friends write there.
void rt_set_stdio(FILE* in, FILE* out, FILE* err);
// Runtime options; 0 selects the defaults (no catalogue reloading, leak report per config).
void rt_init_option(int option);
// Closes what the runtime holds and, when RT_LEAK_REPORT is non-zero, prints every tracked
// allocation still live to the error stream.
void rt_shutdown(void);

// ---- Text -----------------------------------------------------------------

// The catalogue text of message number, or dflt. The catalogue is a file named by the
// configuration value RT_MESSAGES (text): lines "NUMBER TEXT", with \n, \t and \\ escapes
// in TEXT; lines starting with '#' are comments. The returned text lives until rt_shutdown.
const char* rt_message(int number, int flags, const char* dflt);

// printf-style printing to the runtime's output stream / to stream.
int rt_print(const char* format, ...) __attribute__((format(printf, 1, 2)));
int rt_fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Texts with "%1", "%2", "%3": the variable arguments start with the text arguments, as
// many (const char*) as the highest %N the text uses; any further arguments belong to the
// text's printf conversions, in order. "%%" prints one "%".
int rt_print_args(const char* text, ...);
int rt_fprint_args(FILE* stream, const char* text, ...);
// As rt_print_args into buffer (the caller provides room; at most 4096 bytes are written).
int rt_format_args(char* buffer, const char* text, ...);

// Prints "name: <the system's reason for errno>\n" to the error stream.
void rt_report_error(const char* name);

// Reads one line from the runtime's input stream into buffer (at most size - 1 characters,
// the line end removed; the rest of an overlong line is dropped). Returns 1, or 0 at the end
// of input with nothing read.
int rt_input_line(char* buffer, int size);

// total and addend are decimal texts of width digits (zero padded); total += addend.
// Returns 0 when the sum overflowed the width (total then holds the low digits), else 1.
int rt_decimal_add(char* total, const char* addend, int width);

// ---- Tracked memory ---------------------------------------------------------

// Zero-filled storage of size bytes, or null. flags and extra are kept with the block.
// source, line and purpose name the block in the leak report.
void* rt_alloc(size_t size, int flags, const char* source, int line, const char* purpose,
               int extra);
void rt_free(void* pointer, const char* source, int line, int flags);
// Resizes a tracked block; bytes beyond the old size are zero. null pointer allocates.
void* rt_realloc(void* pointer, size_t size, const char* source, int line, int flags);
// Number and total size of the tracked blocks now live.
size_t rt_alloc_count(void);
size_t rt_alloc_bytes(void);

// Growable text buffer.
typedef struct RtStrBuf RtStrBuf;
RtStrBuf* rt_strbuf_new(const char* purpose, size_t size, const char* source, int line, int flags);
// Appends count bytes of text (count < 0: up to its terminator). Returns 0 when out of memory.
int rt_strbuf_append(RtStrBuf* buffer, const char* text, long count);
void rt_strbuf_clear(RtStrBuf* buffer);
// The text, always zero-terminated; valid until the next append or free.
char* rt_strbuf_text(RtStrBuf* buffer);
size_t rt_strbuf_length(const RtStrBuf* buffer);
void rt_strbuf_free(RtStrBuf* buffer);

// ---- Configuration ----------------------------------------------------------

// A value set with rt_config_set, else the process environment, else the runtime
// configuration file named by the environment variable RT_CONFIG (lines "NAME VALUE",
// '#' comments), else dflt. Values are read as decimal integers.
long rt_config_int(const char* name, long dflt);
// The same lookup for a text value (environment and file only); null when absent.
const char* rt_config_text(const char* name);
// Overrides name for the rest of the run.
void rt_config_set(const char* name, int flags, long value);
// Forgets a value set with rt_config_set: name is looked up in the environment and the file
// again.
void rt_config_unset(const char* name);
// Forgets every value set with rt_config_set and the cached configuration file (tests).
void rt_config_reset(void);

// ---- File error codes ---------------------------------------------------------

enum RtFileError {
  RT_ERR_NONE = 0,
  RT_ERR_SYSTEM = 1,        // secondary: errno
  RT_ERR_PARAMETER = 2,     // bad parameter or description text
  RT_ERR_TOO_MANY = 3,      // too many open files
  RT_ERR_MODE = 4,          // operation not allowed in the open mode
  RT_ERR_LOCKED_REC = 5,    // record locked
  RT_ERR_DAMAGED = 6,       // damaged file; 80 to 85 for a record
  RT_ERR_DUPLICATE = 7,     // duplicate key
  RT_ERR_NOT_FOUND = 8,     // no further or no such record
  RT_ERR_NO_CURRENT = 9,    // no current record
  RT_ERR_DISK_FULL = 10,    // no room, or a format limit reached
  RT_ERR_LOCKED = 11,       // file locked by another opener
  RT_ERR_CHANGED = 12,      // record changed
  RT_ERR_NOT_KELVRA = 13,   // not a Kelvra file, or an unsupported version
  RT_ERR_MEMORY = 14,       // out of memory
  RT_ERR_MISSING = 15,      // file missing
  RT_ERR_UNSUPPORTED = 16,  // not supported
  RT_ERR_ACCESS = 17,       // access denied
};

uint16_t* rt_file_error(void);  // the primary code
int32_t* rt_file_error2(void);  // the secondary code
// Sets both codes.
void rt_set_file_error(int primary, int secondary);
// Words for a primary code ("duplicate key", ...).
const char* rt_file_error_text(int primary);

// ---- Binary files -------------------------------------------------------------

// Flags of rt_open.
enum {
  RT_OPEN_READ = 0,        // existing file, read only
  RT_OPEN_EXISTING = 8,    // existing file, read only (as 0)
  RT_OPEN_CREATE = 65,     // create or empty, write only
  RT_OPEN_READ_WRITE = 2,  // existing file, read and write
};

int rt_open(const char* name, int flags);                 // descriptor, or -1 (errno says why)
long rt_read(int fd, void* buffer, long count);           // bytes read (short only at the end), -1
long rt_write(int fd, const void* buffer, long count);    // bytes written, -1
long long rt_seek(int fd, long long offset, int whence);  // new position, -1
int rt_close(int fd);
// The same on descriptors the Kelvra library opened (from Cfiles).
long rt_fd_read(int fd, void* buffer, long count);
long rt_fd_write(int fd, const void* buffer, long count);
long long rt_fd_length(int fd);  // file length, -1 on failure

// ---- The operating system's file calls ---------------------------------------

// Every call that the libraries and the program make on files goes through these (the
// functions above and the streams below use them too), so that each kind of call is
// counted and a test can make any one of them fail:
//   RT_FAULT=KIND:N:ERROR[,...]  the Nth call of KIND (open, read, write, size, sync,
//                                rename, remove, close, or any) fails with ERROR (a name such
//                                as ENOSPC or EIO, or a number); read and write count the
//                                positioned calls too, rename counts links.
//   RT_FAULT_COUNT=FILE          at the end of the process, the calls of each kind made,
//                                one "KIND COUNT" line each.
// Both are configuration values (rt_config_text). The calls repeat on EINTR.
enum RtCall {
  RT_CALL_OPEN,
  RT_CALL_READ,
  RT_CALL_WRITE,
  RT_CALL_SIZE,
  RT_CALL_SYNC,
  RT_CALL_RENAME,
  RT_CALL_REMOVE,
  RT_CALL_CLOSE,
  RT_CALL_COUNT
};
// Counts one call of kind; non-zero (the error, also in errno) when it is to fail.
int rt_fault(int kind);

int rt_os_open(const char* path, int flags, int mode);  // O_CLOEXEC is added
long rt_os_read(int fd, void* buffer, size_t count);
long rt_os_pread(int fd, void* buffer, size_t count, long long at);
long rt_os_write(int fd, const void* buffer, size_t count);
long rt_os_pwrite(int fd, const void* buffer, size_t count, long long at);
int rt_os_truncate(int fd, long long size);
int rt_os_sync(int fd);
int rt_os_rename(const char* from, const char* to);
int rt_os_link(const char* from, const char* to);
int rt_os_unlink(const char* path);
int rt_os_close(int fd);

// ---- Streams ------------------------------------------------------------------

FILE* rt_fopen(const char* name, const char* mode, int flags);
int rt_fclose(FILE* stream);
int rt_getc(FILE* stream);  // -1 at the end
char* rt_fgets(char* buffer, int size, FILE* stream);
int rt_fflush(FILE* stream);
// The runtime's standard streams (the C ones until rt_set_stdio).
FILE* rt_stdin(void);
FILE* rt_stdout(void);
FILE* rt_stderr(void);

// ---- Names ----------------------------------------------------------------------

int rt_remove(const char* name);  // 0 on success
// Points at the last component of path (just past the last '/' or '\').
const char* rt_path_base(const char* path);
// Appends name to directory in place, with a '/' between unless directory is empty or
// already ends with a separator. directory must have room.
void rt_path_append(char* directory, const char* name);
// Writes to out (capacity bytes) a name for a new file in directory (empty: the current
// one) beginning with prefix, that no file has yet. directory and out may be the same area.
// Returns 1, or 0 when the name does not fit or no free name was found.
int rt_temp_name(const char* directory, const char* prefix, int flags, char* out, int capacity);
// out = base + "." + extension (appended, so "a.rej" gives "a.rej.rej" and never names the
// base itself). out must hold strlen(base) + strlen(extension) + 2 bytes.
void rt_name_with_extension(char* out, const char* base, const char* extension);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // IXKIT_LIBS_RTCORE_H
