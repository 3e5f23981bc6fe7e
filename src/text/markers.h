// Cutting a piece out of a text between two markers, and turning a chapter's HTML into text.
#pragma once

#include <string_view>

#include "text/gbk_text.h"

namespace qv {

// The text between the first `left` at or after `start` (1-based) and the first `right` after
// it; empty when either is missing. "#引号" in a marker stands for a double quote. An empty left
// marker is found at the start of a non-empty text; an empty right marker always gives "".
Text ExtractBetween(std::string_view text, std::string_view left, std::string_view right,
                    int start = 1, bool ignoreCase = false);

// The fixed list of entity and tag replacements that turns a chapter body into plain text.
Text CleanChapterText(std::string_view text);

// ExtractBetween that tells whether the markers were found: false when the left marker is not
// in the text or the right one does not follow it (`out` is then empty). An empty right marker
// is never found.
bool FindBetween(std::string_view text, std::string_view left, std::string_view right, Text& out,
                 int start = 1, bool ignoreCase = false);

}  // namespace qv
