#pragma once

#include "codepage_guess.h"
#include "encoding/conjecture.hpp"

namespace api {

// The C interface's name of the rule that decided a verdict.
inline cpg_rule ruleOf(my::Rule rule) noexcept {
  switch (rule) {
    case my::Rule::OnlyErrorFree:
      return CPG_RULE_ONLY_ERROR_FREE;
    case my::Rule::BestScore:
      return CPG_RULE_BEST_SCORE;
    case my::Rule::Undecided:
      break;
  }
  return CPG_RULE_UNDECIDED;
}

}  // namespace api
