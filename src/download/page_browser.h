// The embedded web browser as the page capture sees it: it loads an address, reports when the
// page has finished loading, and hands over the rendered text of the loaded page. The window
// front end implements it over its (hidden, disabled) web view; tests use one in memory.
// Every call is made on the window thread.
#pragma once

#include <functional>

#include "text/gbk_text.h"

namespace qv {

class PageBrowser {
 public:
  virtual ~PageBrowser() = default;
  // Starts loading the CP936 address (converted to a URL by the implementation).
  virtual void Navigate(const Text& address) = 0;
  // Stops whatever is loading. A load stopped this way must not report itself finished later
  // as if it were the next navigation's page.
  virtual void StopLoading() = 0;
  // The rendered text of the current page (the document element's inner text), in CP936.
  virtual Text PageText() = 0;
  // The handler to call on the window thread when the page of the latest Navigate has
  // finished loading (also when it failed to load: the text then tells).
  virtual void SetLoadFinishedHandler(std::function<void()> handler) = 0;
  // Why the page of the latest Navigate failed to load, in CP936 ("HTTP 404" for an error
  // status, "页面加载失败" for a failed load); empty when it loaded.
  virtual Text LoadProblem() { return {}; }
};

}  // namespace qv
