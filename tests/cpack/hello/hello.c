#include <stdio.h>

int main(void) {
#ifdef TOOL
  puts("hello tool");
#else
  puts("hello");
#endif
  return 0;
}
