// A C++ program with a namespace `my` of its own, as many programs have,
// linked to the static library: its names and the library's do not meet.
#include <cstdio>

#include "codepage_guess.h"

namespace my {
// The same name and signature as the library's own lookup of its profiles.
const double* referenceProfile(const char*) {
  static const double nothing[256] = {};
  return nothing;
}
}  // namespace my

int main() {
  // One hiragana character in UTF-8: both readings are error-free, so the
  // library's profiles decide (UTF-8 scores about 0.866).
  const unsigned char hiragana[] = {0xE3, 0x81, 0x82};
  cpg_explanation explanation{};
  explanation.size = sizeof explanation;
  if (cpg_explain(hiragana, sizeof hiragana, &explanation) != CPG_OK) return 1;
  std::printf("%d %.3f %d\n", explanation.code_page, explanation.candidates[0].score,
              my::referenceProfile("sjis")[0x82] == 0.0);
  return 0;
}
