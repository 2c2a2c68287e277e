#include <cstdio>

int main() {
  std::puts("MPTool");
  return 0;
}
