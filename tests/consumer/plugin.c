/* A shared object with the static library linked in, as a Python extension
   or an editor's plug-in built on the library has. */
#include <stddef.h>

#include "codepage_guess.h"

int plugin_guess(const void *data, size_t size) { return cpg_guess(data, size); }
