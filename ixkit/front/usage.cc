// The usage text, printed for a bad command line or an unknown option letter.
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

struct UsageLine {
  int number;
  const char* text;
};

constexpr UsageLine kUsageLines[] = {
    {928, "ixkit -info    [-kpxq] [files]\n"},
    {929, "      -check   [-afkqx] [files]\n"},
    {930, "      -zero    [-q] [files]\n"},
    {931, "      -rebuild [-acdlt2345q] [-bfgkp #] [+ce] [--slow] [files]\n"},
    {932, "      -gen     [-2345q] [filelist directory]\n"},
    {933, "      -size    [-nq] [files]\n"},
    {934, "      -extract [-xq] [-kn #] [-v keyvalue] file\n"},
    {935, "      -load    [-(b|d|t)ln(r|s)vqx] source-file dest-file\n"},
    {936, "      -unload  [-(b|t)vq] source-file dest-file\n"},
    {1767, "      -deleted [-(b|t)vq] source-file dest-file\n"},
    {937, "      -convert [-acd2345q] [-f #] [+c] [files]\n"},
    {938, "      -tree    [-q] file\n"},
    {1426, "      -augment [-q] new-max [files]\n"},
    {1617, "      -fixvers [-q] [files]\n"},
    {1783, "      -note    [-q] comment [files]\n"},
};

}  // namespace

void usage() {
  for (const UsageLine& line : kUsageLines) rt_print("%s", rt_message(line.number, 0, line.text));
  // The last line has no catalogue number.
  rt_print("      -version\n");
  exit_run(255);
}
