#include "gui/startup.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <filesystem>
#include <system_error>

namespace qv {
namespace {

int g_signalPipe[2] = {-1, -1};

void SignalArrived(int) {
  const char c = 1;
  // Only write(2) here: it is safe in a signal handler. A full pipe already holds a wake-up.
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[0], &c, 1);
}

}  // namespace

bool EnterProgramDirectory() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return false;
  std::filesystem::current_path(exe.parent_path(), ec);
  return !ec;
}

void PrepareBrowserEnvironment() {
  if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

void OnTerminationSignal(std::function<void()> onSignal) {
  if (g_signalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
    return;
  auto* notifier =
      new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [onSignal = std::move(onSignal)] {
                     char buf[16];
                     while (::read(g_signalPipe[1], buf, sizeof buf) > 0) {
                     }
                     onSignal();
                   });
  struct sigaction sa = {};
  sa.sa_handler = SignalArrived;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace qv
