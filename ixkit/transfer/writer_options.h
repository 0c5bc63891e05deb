// The command line shared by -unload and -deleted: option letters b, t, v (and l for
// -unload), then the source and the destination file.
#ifndef IXKIT_TRANSFER_WRITER_OPTIONS_H
#define IXKIT_TRANSFER_WRITER_OPTIONS_H

struct WriterOptions {
  bool allow_l;  // the command knows the letter l
  bool b, t, v, l;
  const char* source;
  const char* destination;
};

// Reads the options and the two names; a letter the command does not know, b with t, or a
// number of names other than two prints the usage text and ends the run.
void read_writer_options(int count, char** words, WriterOptions* options);

// Ends the run with 255 when the destination is spelt like the source, before either is
// opened (two spellings of one file are not detected).
void refuse_same_names(const char* source, const char* destination);

#endif  // IXKIT_TRANSFER_WRITER_OPTIONS_H
