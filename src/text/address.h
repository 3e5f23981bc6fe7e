// The host part of a web address, as the rule lookup and the HTTP routine read it.
#pragma once

#include <string_view>

#include "text/gbk_text.h"

namespace qv {

// The host of an address, lower-cased, without scheme and path; without ":port" unless
// keepPort. The host is what follows "https://" when the address starts with it, else the
// first "http://" anywhere (an address without one reads as if it began with "http://"), up
// to the next "/". An address that is no address still yields some host; an empty one, "".
Text HostOfAddress(std::string_view address, bool keepPort = false);

}  // namespace qv
