// The command functions, one per command word. Each receives the words after the command
// word and returns; the run then ends with exit_status.
#ifndef IXKIT_FRONT_COMMANDS_H
#define IXKIT_FRONT_COMMANDS_H

void augment_command(int count, char** words);
void check_command(int count, char** words);
void convert_command(int count, char** words);
void deleted_command(int count, char** words);
void extract_command(int count, char** words);
void fixvers_command(int count, char** words);
void gen_command(int count, char** words);
void info_command(int count, char** words);
void load_command(int count, char** words);
void note_command(int count, char** words);
void rebuild_command(int count, char** words);
void size_command(int count, char** words);
void tree_command(int count, char** words);
void unload_command(int count, char** words);
void zero_command(int count, char** words);

#endif  // IXKIT_FRONT_COMMANDS_H
