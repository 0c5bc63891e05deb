// The -rebuild command: not built yet.
#include "ixkit/front/commands.h"
#include "ixkit/front/state.h"

void rebuild_command(int, char**) {
  command_unavailable("-rebuild");
}
