// The twenty rules the program carries, written to the rule file when it is missing.
#pragma once

#include <vector>

#include "rules/site_rule.h"

namespace qv {

// The default rules in file order. Names and values are in their stored form, exactly as they
// stand in the rule file (already encoded: read them through TextDecode).
const std::vector<SiteRule>& DefaultRuleSet();

// The bytes of a rule file that holds exactly the default rules.
const Text& DefaultRuleFileBytes();

}  // namespace qv
