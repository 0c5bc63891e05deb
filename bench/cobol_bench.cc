// The COBOL benchmark: a COBOL program (bench/cobol/workload.cob) loads the records of
// workload W from a sequential file into an INDEXED file and reads them all by each key,
// once with GnuCOBOL's own indexed file handler and once with kelvra_fh. bench/run-cobol
// compiles the two programs and starts this one.
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/workload.h"

namespace {

const char* const kHandlers[] = {"builtin", "kelvra"};
const char* const kActions[] = {"load", "primary", "alternate"};

// Runs one action of one handler's program; its seconds. Ends the benchmark unless the
// program succeeded and counted N records.
double run(const bench::Options& o, const char* handler, const char* action) {
  std::string dir = o.dir + "/" + handler;
  setenv("DD_WORKIX", (dir + "/workload.ix").c_str(), 1);
  setenv("DD_WORKRESULT", (dir + "/result").c_str(), 1);
  bench::ChildCost c = bench::program_cost({o.dir + "/workload-" + handler, action});
  std::string line;
  std::getline(std::ifstream(dir + "/result"), line);
  std::string want = std::string(action) + " " + std::to_string(o.records);
  if (!c.ok || line.find(action) != 0 ||
      std::stoull(line.substr(line.find(' ') + 1)) != o.records) {
    fprintf(stderr, "%s %s failed: \"%s\", expected \"%s\"\n", handler, action, line.c_str(),
            want.c_str());
    exit(1);
  }
  return c.wall;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Options o = bench::parse_options(argc, argv, false);
  bench::write_flat(o.dir + "/workload.dat", o.records);
  setenv("DD_WORKFLAT", (o.dir + "/workload.dat").c_str(), 1);
  for (const char* h : kHandlers) system(("mkdir -p " + o.dir + "/" + h).c_str());
  printf("records: %llu, runs: %d (median wall-clock seconds)\n",
         static_cast<unsigned long long>(o.records), o.runs);
  printf("%-12s %10s %10s %8s\n", "", "builtin", "kelvra_fh", "ratio");
  double ratio[3];
  for (int a = 0; a < 3; a++) {
    double t[2];
    for (int h = 0; h < 2; h++) {
      t[h] = bench::median_seconds(o.runs, nullptr, [&] { run(o, kHandlers[h], kActions[a]); });
    }
    ratio[a] = t[0] / t[1];
    printf("%-12s %10.2f %10.2f %8.2f\n", kActions[a], t[0], t[1], ratio[a]);
    fflush(stdout);
  }
  printf("load ratio (builtin/kelvra_fh): %.2f (target 5); scans faster: %s\n", ratio[0],
         ratio[1] > 1 && ratio[2] > 1 ? "yes" : "no");
  return 0;
}
