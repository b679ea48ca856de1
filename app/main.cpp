#include <cstdio>

int main() {
  std::fprintf(stderr, "ZOLTUpdate: start-up is not built yet\n");
  return 1;
}
