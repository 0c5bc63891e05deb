/* Built as C against the installed headers and library alone (pkg-config kelvra) by
   tests/install/run: makes a segmented version 4 file of variable records with the generic
   description text, writes records of every length, reads them back through the primary key
   and prints what it finds. */
#include <kelvra/kelvra5.h>
#include <kelvra/rtcore.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The C view of the records the library fills agrees with the C++ one. */
_Static_assert(sizeof(KHeaderRecord) == 200, "header record is 200 bytes");
_Static_assert(offsetof(KHeaderRecord, segment_size) == 196, "segment size at 196");
_Static_assert(offsetof(KProgress, total) == 20, "progress total at 20");

static void fail(const char* what) {
  fprintf(stderr, "%s: error %d/%d\n", what, *rt_file_error(), *rt_file_error2());
  exit(1);
}

int main(int argc, char** argv, char** envp) {
  const char* name = argc > 1 ? argv[1] : "lengths";
  char record[K_MAX_KEY_SIZE];
  long count = 0, bytes = 0, length;
  int n, previous = -1, ordered = 1;
  KFile* f;

  rt_init(-1, argv, envp);
  rt_config_set("K_SEGMENT_SIZE", 0, 4096);
  k5_init_cfg();
  if (!k5_init()) fail("k5_init");

  f = k5_open("no-such-file", K_MODE_READ, "0,0,0");
  printf("missing file: %s, error %d\n", f ? "opened" : "refused", *rt_file_error());

  if (!k_make(name, "1,1,0,0,0;30,10,1;1,0,5,0;C program", "V4")) fail("k_make");
  f = k5_open(name, K_MODE_WRITE, "0,0,0");
  if (!f) fail("k5_open write");
  /* 300 records, keys in an order other than their own, lengths 10 to 30. */
  for (n = 0; n < 300; n++) {
    int key = (n * 7) % 300;
    memset(record, 'a' + key % 26, sizeof record);
    snprintf(record, sizeof record, "%05d", key);
    record[5] = '-';
    if (!k5_write(f, record, (uint32_t)(10 + key % 21))) fail("k5_write");
  }
  if (!k5_close(f)) fail("k5_close write");

  f = k5_open(name, K_MODE_READ, "0,0,0");
  if (!f) fail("k5_open read");
  printf("version %d, keys %d, record sizes %u to %u, %s data segment\n", f->version, f->key_count,
         f->min_record_size, f->max_record_size,
         f->data_segment_high > 0 ? "more than one" : "one");
  memset(record, 0, sizeof record);
  if (!k5_start(f, record, 0, 0, K_START_NOT_LESS)) fail("k5_start");
  while ((length = k5_next(f, record)) > 0) {
    int key = atoi(record);
    if (key <= previous || length != 10 + key % 21 || record[length - 1] != 'a' + key % 26) {
      ordered = 0;
    }
    previous = key;
    count++;
    bytes += length;
  }
  if (*rt_file_error() != RT_ERR_NOT_FOUND) fail("k5_next");
  printf("read %ld records of %ld bytes, %s\n", count, bytes,
         ordered ? "in key order, each as written" : "NOT as written");
  printf("second data segment: %s\n", ki_segment_name(name, K_SEGMENT_DATA, 1));
  if (!k5_close(f)) fail("k5_close read");
  k5_exit(0);
  rt_shutdown();
  return 0;
}
