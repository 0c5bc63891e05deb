// The program's entry.
#include "ixkit/front/startup.h"

int main(int argc, char** argv, char** envp) {
  return run_ixkit(argc, argv, envp);
}
