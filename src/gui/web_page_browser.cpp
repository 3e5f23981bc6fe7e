#include "gui/web_page_browser.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLayout>
#include <QTimer>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <optional>

#include "gui/box_text.h"
#include "text/encoding.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

// The rendered text of the whole document element; run apart from the page's own scripts, so
// a page cannot change what reading it gives.
constexpr const char* kReadTextScript =
    "(function () {"
    "  var e = document.documentElement;"
    "  if (!e) return '';"
    "  return typeof e.innerText === 'string' ? e.innerText : (e.textContent || '');"
    "})()";

// A page nobody looks at: its script dialogs are answered at once instead of stopping the
// capture with a box, its console stays quiet.
class CapturePage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;

 protected:
  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
    return false;
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}
};

// Handles events until done() holds or the limit has passed; true when done.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    QEventLoop loop;
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(5);
    loop.exec();
    // While the application is quitting, event loops return at once: wait for the tick.
    while (tick.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Line breaks as CR LF, as the chapter files and their clean-up expect.
QString WithCrLf(QString s) {
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return s;
}

}  // namespace

WebEnginePageBrowser::WebEnginePageBrowser(QWidget* container) : container_(container) {}

WebEnginePageBrowser::~WebEnginePageBrowser() { delete view_.data(); }

QWebEngineView* WebEnginePageBrowser::View() const { return view_.data(); }

QUrl WebEnginePageBrowser::UrlOfAddress(const Text& address) {
  QString s = QStringFromGbk(address).trimmed();
  if (s.isEmpty()) return {};
  if (!s.contains(QStringLiteral("://"))) s.prepend(QStringLiteral("http://"));
  QUrl url(s, QUrl::TolerantMode);
  if (!url.isValid() || url.host().isEmpty()) return {};
  if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) return {};
  return url;
}

QWebEngineView* WebEnginePageBrowser::EnsureView() {
  if (view_ || !container_) return view_;
  auto* view = new QWebEngineView(container_);
  auto* page = new CapturePage(view);
  page->setAudioMuted(true);
  // Only the text is read: images would cost time and memory for nothing.
  page->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
  view->setPage(page);
  if (QLayout* layout = container_->layout()) layout->addWidget(view);
  QObject::connect(page, &QWebEnginePage::loadStarted, view, [this] { LoadStarted(); });
  QObject::connect(page, &QWebEnginePage::loadFinished, view, [this](bool ok) { LoadFinished(ok); });
  QObject::connect(page, &QWebEnginePage::loadingChanged, view,
                   [this](const QWebEngineLoadingInfo& info) {
                     // The error status of a failed load; it comes right after loadFinished.
                     if (awaited_ != 0 &&
                         info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                         info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
                       problem_ = "HTTP " + std::to_string(info.errorCode());
                     }
                   });
  view_ = view;
  return view_;
}

void WebEnginePageBrowser::Navigate(const Text& address) {
  const uint64_t id = ++navigation_;
  awaited_ = 0;
  pageReady_ = false;
  problem_.clear();
  QWebEngineView* view = EnsureView();
  EndLoadUnderWay();
  if (id != navigation_) return;  // a newer navigation came while the old load ended
  awaited_ = id;
  const QUrl url = UrlOfAddress(address);
  if (!view_ || !url.isValid()) {
    // Nothing to load: it finishes, empty, from the event loop as a load would.
    QTimer::singleShot(0, &events_, [this, id] { Report(id); });
    return;
  }
  loading_ = true;
  view->load(url);
}

void WebEnginePageBrowser::StopLoading() {
  awaited_ = 0;
  pageReady_ = false;
  EndLoadUnderWay();
}

void WebEnginePageBrowser::EndLoadUnderWay() {
  if (!view_) {
    loading_ = false;
    return;
  }
  view_->stop();
  // A stopped load still reports its end, a moment later; it is awaited here so that it
  // cannot pass for the end of the next navigation.
  PumpUntil([this] { return !loading_ || !view_; }, stopWaitLimit_);
  loading_ = false;
}

void WebEnginePageBrowser::LoadStarted() { loading_ = true; }

void WebEnginePageBrowser::LoadFinished(bool ok) {
  loading_ = false;
  if (awaited_ == 0) return;  // a stopped load, or one the page started itself
  pageReady_ = ok;
  if (ok) {
    Report(awaited_);
    return;
  }
  // Reported from the event loop, once the loading report that follows has told the reason.
  problem_ = Utf8ToGbk("页面加载失败");
  const uint64_t id = awaited_;
  QTimer::singleShot(0, &events_, [this, id] { Report(id); });
}

void WebEnginePageBrowser::Report(uint64_t navigation) {
  if (navigation != awaited_ || navigation != navigation_) return;
  awaited_ = 0;
  if (handler_) handler_();
}

Text WebEnginePageBrowser::PageText() {
  if (!view_ || !pageReady_) return {};
  // Shared with the callback, which may come after the wait has given up.
  auto answer = std::make_shared<std::optional<QString>>();
  view_->page()->runJavaScript(QString::fromLatin1(kReadTextScript),
                               QWebEngineScript::ApplicationWorld,
                               [answer](const QVariant& v) { *answer = v.toString(); });
  const uint64_t id = navigation_;
  PumpUntil([&] { return answer->has_value() || !view_; }, textWaitLimit_);
  // A navigation made meanwhile (from a handler run by the wait) has replaced the page.
  if (!answer->has_value() || id != navigation_ || !pageReady_) return {};
  return GbkFromQString(WithCrLf(**answer));
}

void WebEnginePageBrowser::SetLoadFinishedHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

std::unique_ptr<PageBrowser> MakeLazyPageBrowser(QWidget* container) {
  return std::make_unique<WebEnginePageBrowser>(container);
}

}  // namespace qv
