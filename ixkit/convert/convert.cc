// The -convert command: not built yet.
#include "ixkit/front/commands.h"
#include "ixkit/front/state.h"

void convert_command(int, char**) {
  command_unavailable("-convert");
}
