/* Prints why codepage-guess decides as it does on a file: what each reading
   met, their scores, and the rule that decided.

     explain_file FILE
*/
#include <stdio.h>

#include "codepage_guess.h"

int main(int argc, char **argv) {
  static unsigned char bytes[CPG_INPUT_LIMIT];
  static const char *const rules[] = {"undecided", "the only error-free reading",
                                      "the best positive score"};
  static const char *const names[] = {"UTF-8", "Shift_JIS"};
  cpg_explanation explanation;
  size_t size;
  int i;
  FILE *file;

  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  file = fopen(argv[1], "rb");
  if (file == NULL) {
    perror(argv[1]);
    return 1;
  }
  explanation.size = sizeof explanation;
  size = fread(bytes, 1, sizeof bytes, file);
  fclose(file);
  if (cpg_explain(bytes, size, &explanation) != CPG_OK) {
    fprintf(stderr, "%s: out of memory\n", argv[0]);
    return 1;
  }
  printf("%s: code page %d, by %s\n", argv[1], (int)explanation.code_page,
         rules[explanation.rule]);
  for (i = 0; i < 2; ++i) {
    printf("  %-9s (%5d): %lu broken bytes, score %.4f\n", names[i],
           (int)explanation.candidates[i].code_page,
           (unsigned long)explanation.candidates[i].errors, explanation.candidates[i].score);
  }
  printf("(codepage-guess library %s)\n", cpg_version());
  return 0;
}
