/* The least any tool of this kind must do: open the file, read up to 1 MiB in
   one request, exit. Whole-process timings of codepage-guess are compared with
   this program's, built with the same flags. */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  enum { kLimit = 1 << 20 };
  unsigned char* buffer = malloc(kLimit);
  FILE* file;
  size_t size;
  if (argc != 2 || buffer == NULL) return 1;
  file = fopen(argv[1], "rb");
  if (file == NULL) return 1;
  size = fread(buffer, 1, kLimit, file);
  fclose(file);
  /* The first byte decides the status, so the read cannot be optimised away. */
  return size == 0 ? 1 : buffer[0] & 1;
}
