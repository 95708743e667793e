/* Loads the plug-in as an interpreter loads an extension, and asks it about
   the bytes given as hexadecimal pairs: prints the code page. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  unsigned char bytes[64];
  size_t size = 0;
  int (*guess)(const void *, size_t);
  void *plugin;
  if (argc < 2) return 2;
  plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (plugin == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  *(void **)&guess = dlsym(plugin, "plugin_guess");
  if (guess == NULL) return 1;
  for (; size + 2 < (size_t)argc && size < sizeof bytes; ++size)
    bytes[size] = (unsigned char)strtoul(argv[size + 2], NULL, 16);
  printf("%d\n", guess(bytes, size));
  return dlclose(plugin);
}
