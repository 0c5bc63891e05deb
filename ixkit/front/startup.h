// Start-up of the program and the choice of the command from the command word.
#ifndef IXKIT_FRONT_STARTUP_H
#define IXKIT_FRONT_STARTUP_H

// A command function: the words after the command word.
typedef void (*CommandFunction)(int count, char** words);

// The whole run: start-up, the command, the exit routine. Returns only when the indexed file
// library cannot be initialised.
int run_ixkit(int argc, char** argv, char** envp);

// Brings up the runtime support library and the indexed file library's configuration.
void start_libraries(char** argv, char** envp);
// K_BUFFERS and MAX_FILES become 128 unless the process environment sets them.
void set_config_defaults();
// Installs on_interrupt for SIGINT.
void install_interrupt_handler();

// The command selected by a command word ("-info", "-cO", ...); null when it selects none.
CommandFunction select_command(const char* word);

// -version: prints the version lines and ends the run with exit_status.
[[noreturn]] void version_command();
// -version in the form of the command table; the words are ignored.
void run_version(int count, char** words);

#endif  // IXKIT_FRONT_STARTUP_H
