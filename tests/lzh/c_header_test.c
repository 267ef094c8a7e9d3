/* The public header compiles as C and the entry points link from a C program. */
#include <stdio.h>
#include <string.h>

#include "unlha32.h"

int main(void) {
  char out[16];
  memset(out, 'x', sizeof out);
  if (Unlha(0, "X", out, 8) != UNLHA_ERROR_COMMAND) return 1;
  if (strlen(out) != 7 || out[8] != 'x') return 2; /* cut to the buffer, NUL-terminated */
  if (UnlhaCheckArchive("/nonexistent.lzh", 1) != 0) return 3;
  puts("ok");
  return 0;
}
