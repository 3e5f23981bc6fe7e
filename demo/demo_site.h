// The offline demonstration's book site: a small generated book in the markup of the 笔趣阁
// rule, served on 127.0.0.1 by `make demo`.
#pragma once

#include <httplib.h>

namespace qv::demo {

// Sets up `server` to serve the book at /book/index.html and /book/N.html.
void ConfigureDemoSite(httplib::Server& server);

}  // namespace qv::demo
