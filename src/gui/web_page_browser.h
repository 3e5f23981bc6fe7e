// The page-capture browser over a Qt WebEngine view.
//
// The view is created the first time a capture navigates, inside the given container (互联网浏览器1,
// hidden and disabled), so a program that never captures never starts the browser engine.
// Everything here runs on the window thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "download/page_browser.h"

class QUrl;
class QWebEngineView;

namespace qv {

class WebEnginePageBrowser : public PageBrowser {
 public:
  explicit WebEnginePageBrowser(QWidget* container);
  // Deletes the view if it was created and still exists.
  ~WebEnginePageBrowser() override;
  WebEnginePageBrowser(const WebEnginePageBrowser&) = delete;
  WebEnginePageBrowser& operator=(const WebEnginePageBrowser&) = delete;

  // Loads the address; only http and https addresses are loaded (an address without a scheme
  // is taken as http), anything else finishes at once with an empty page. A load still under
  // way is stopped first, and its end is waited for, so that it cannot report as this one.
  void Navigate(const Text& address) override;
  void StopLoading() override;
  // The document element's inner text of the page the latest navigation loaded, line breaks
  // as CR LF, in CP936. Empty before any navigation, when that load failed or was stopped,
  // when the page has no document, or when the page does not answer within the text wait.
  Text PageText() override;
  void SetLoadFinishedHandler(std::function<void()> handler) override;
  Text LoadProblem() override { return problem_; }

  // The view, once created (null before the first navigation).
  QWebEngineView* View() const;

  // How long PageText waits for the page's answer (default 10 s), and how long a navigation
  // waits for a stopped load to end (default 2 s). Tests shorten them.
  void SetTextWaitLimit(std::chrono::milliseconds limit) { textWaitLimit_ = limit; }
  void SetStopWaitLimit(std::chrono::milliseconds limit) { stopWaitLimit_ = limit; }

  // The URL the browser loads for a CP936 address; invalid when it will not load it.
  static QUrl UrlOfAddress(const Text& address);

 private:
  QWebEngineView* EnsureView();
  void LoadStarted();
  void LoadFinished(bool ok);
  // Stops the load under way, if any, and waits (pumping, bounded) for its end.
  void EndLoadUnderWay();
  void Report(uint64_t navigation);

  QPointer<QWidget> container_;
  // Context of the reports posted to the event loop: they go with the browser.
  QObject events_;
  QPointer<QWebEngineView> view_;
  std::function<void()> handler_;
  // Navigations counted from 1; the one whose end is reported, 0 when none is awaited.
  uint64_t navigation_ = 0;
  uint64_t awaited_ = 0;
  // A load has started (or was asked for) and not ended yet.
  bool loading_ = false;
  // The latest navigation's page is there to be read.
  bool pageReady_ = false;
  Text problem_;  // why the awaited page failed to load; empty when it loaded
  std::chrono::milliseconds textWaitLimit_{10000};
  std::chrono::milliseconds stopWaitLimit_{2000};
};

// The browser the download engine captures pages with, its view made in `container` when
// first needed.
std::unique_ptr<PageBrowser> MakeLazyPageBrowser(QWidget* container);

}  // namespace qv
