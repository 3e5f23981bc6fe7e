// The base address that a chapter link is joined to: a chapter's address is the base address
// followed directly by its link.
#pragma once

#include <string_view>

#include "text/gbk_text.h"

namespace qv {

// Non-overlapping occurrences of `piece` in `text`, letter case ignored; 0 when either is empty.
int CountOccurrences(std::string_view text, std::string_view piece);

// The part of the page address that a link found on that page is to be appended to. The link
// has as many "/" as there are path levels to strip; a relative link (one that does not start
// with "/", the empty link included) strips one more, and keeps the last "/". For a page
// "http://host/book/12/index.html": "345.html" gives "http://host/book/12/", "12/345.html"
// gives "http://host/book/", "/book/12/345.html" gives "http://host", and a full address
// gives the empty text (the link is used as it is).
Text DeriveBaseAddress(std::string_view pageAddress, std::string_view sampleLink);

}  // namespace qv
