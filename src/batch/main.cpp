#include <cstdio>

int main() {
  std::fprintf(stderr, "veltano-batch: not built yet\n");
  return 2;
}
