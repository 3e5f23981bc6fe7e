// Cookie texts a caller keeps between requests: "name=value" entries separated by "; ".
//
// Pure text operations: no store, no expiry, no domain or path matching. Names compare exactly.
#pragma once

#include <string_view>
#include <vector>

#include "text/gbk_text.h"

namespace qv::CookieJar {

// Folds the cookies of one response into the caller's cookie text. Both arguments lose every
// space (half- and full-width); new cookies replace old ones of the same name and come first,
// entries ending in "=deleted" are dropped, exact repeats removed. The result is also stored in
// `cookies`.
Text Merge(Text& cookies, Text& newCookies);

// The name of one entry: the text before its first "=" (all of it without one), trimmed.
Text NameOf(std::string_view entry);

// True when some entry of the list has the name.
bool ContainsName(const std::vector<Text>& list, std::string_view name);

// The pieces of the text between separators with exact repeats dropped, joined again.
Text RemoveDuplicates(std::string_view text, std::string_view sep);

// 1-based position of the first entry equal to the text, or -1.
int IndexOf(const std::vector<Text>& list, std::string_view text);

}  // namespace qv::CookieJar
