// Writes seed inputs for kelvra_fuzz: small sound files of each version, with records,
// deleted records, compression and scrambling, in the fuzzer's input layout.
#include <cstdio>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

static std::vector<unsigned char> slurp(const std::string& p) {
  std::vector<unsigned char> v;
  FILE* f = fopen(p.c_str(), "rb");
  if (!f) return v;
  int c;
  while ((c = fgetc(f)) != EOF) v.push_back(static_cast<unsigned char>(c));
  fclose(f);
  return v;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string out = argv[1];
  rt_init(-1, argv, nullptr);
  k5_init_cfg();
  k5_init();
  int n = 0;
  for (int v = 2; v <= 5; v++) {
    for (int packed = 0; packed < 2; packed++) {
      rt_config_set("K_VERSION", 0, v);
      rt_config_set("K_SEGMENT_SIZE", 0, 1 << 20);
      std::string name = out + "/seedfile";
      k5_make(name.c_str(), "seed", packed ? "1,0,0,1,1" : "1,0,0,0,0", "40,20,2",
              "1,0,6,0,2,1,3,10,2,6", nullptr);
      KFile* f = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
      if (!f) return 1;
      char rec[41];
      for (int i = 0; i < 120; i++) {
        snprintf(rec, sizeof rec, "%06d%04d      xxxxxxxxxxxxxxxxxxxxxxxxxx", (i * 37) % 1000,
                 i % 7);
        k5_write(f, rec, 20 + i % 21);
        if (i % 5 == 0) k5_delete(f, rec);
      }
      k5_close(f);
      std::vector<unsigned char> d = slurp(name), x = slurp(name + ".x0");
      std::vector<unsigned char> in = {
          static_cast<unsigned char>(d.size() >> 16), static_cast<unsigned char>(d.size() >> 8),
          static_cast<unsigned char>(d.size()), static_cast<unsigned char>(n * 7)};
      in.insert(in.end(), d.begin(), d.end());
      in.insert(in.end(), x.begin(), x.end());
      FILE* o = fopen((out + "/seed" + std::to_string(n++)).c_str(), "wb");
      fwrite(in.data(), 1, in.size(), o);
      fclose(o);
      k5_remove(name.c_str());
    }
  }
  return 0;
}
