#include "web/http_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

#include "text/address.h"
#include "text/encoding.h"
#include "text/markers.h"
#include "web/body_limit.h"
#include "web/cookie_jar.h"

namespace qv {
namespace {

constexpr std::string_view kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr long kDefaultConnectMs = 30'000;
constexpr long kDefaultLowSpeedMs = 60'000;
// The whole of one transfer, however steadily the server sends: a chapter page or a chapter
// list that takes longer is abandoned.
constexpr long kDefaultTotalMs = 5 * 60'000;
constexpr long kMaxRedirects = 30;
// Idle connections kept in the shared cache: enough for every download worker on a few sites.
constexpr long kMaxCachedConnections = 100;
// A response whose header block grows beyond this is hostile: the exchange is abandoned.
constexpr size_t kMaxHeaderBytes = size_t{1} << 20;

std::atomic<long> gConnectMs{kDefaultConnectMs};
std::atomic<bool> gAbortAll{false};

// Progress callback: a nonzero answer ends the transfer.
int OnProgress(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  if (cancel != nullptr && static_cast<const std::atomic<bool>*>(cancel)->load()) return 1;
  return gAbortAll.load(std::memory_order_relaxed) ? 1 : 0;
}
std::atomic<long> gLowSpeedMs{kDefaultLowSpeedMs};
std::atomic<long> gTotalMs{kDefaultTotalMs};

// Test-only settings, read once per call.
std::mutex gTestSettingsMutex;
std::string gCaFile;
std::vector<std::string> gConnectTo;

// One libcurl share with one mutex per kind of data it guards.
class Share {
 public:
  explicit Share(bool cookies) : share_(curl_share_init()) {
    if (share_ == nullptr) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Share::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Share::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    if (cookies) curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  }
  Share(const Share&) = delete;
  Share& operator=(const Share&) = delete;

  CURLSH* get() const { return share_; }

  // Releases the share unless a transfer still uses it; true when it is gone.
  bool Release() {
    if (share_ != nullptr && curl_share_cleanup(share_) != CURLSHE_OK) return false;
    share_ = nullptr;
    return true;
  }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<Share*>(self)->locks_[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<Share*>(self)->locks_[data].unlock();
  }

  CURLSH* share_;
  std::mutex locks_[CURL_LOCK_DATA_LAST];
};

// Process-wide libcurl state: initialised once, released at exit. Calls without a cookie text
// use the share with the cookie store; calls with one use the share without it, so the store
// neither sends nor takes cookies for them.
class CurlRuntime {
 public:
  CurlRuntime()
      : initialised_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK),
        withCookies_(true),
        withoutCookies_(false) {}
  CurlRuntime(const CurlRuntime&) = delete;
  CurlRuntime& operator=(const CurlRuntime&) = delete;

  // Both shares released and the library cleaned up; false (nothing more is freed) while some
  // transfer of a thread that was not joined still runs at exit.
  bool Release() {
    const bool a = withCookies_.Release();
    const bool b = withoutCookies_.Release();
    if (!a || !b) return false;
    if (initialised_) curl_global_cleanup();
    return true;
  }

  bool ok() const { return initialised_; }
  CURLSH* share(bool cookieStore) const {
    return cookieStore ? withCookies_.get() : withoutCookies_.get();
  }

 private:
  bool initialised_;
  Share withCookies_;
  Share withoutCookies_;
};

class RuntimeHolder {
 public:
  RuntimeHolder() : runtime_(new CurlRuntime) {}
  ~RuntimeHolder() {
    // A share still in use at exit is left alone, with its locks, rather than freed under a
    // running transfer.
    if (runtime_->Release()) delete runtime_;
  }
  RuntimeHolder(const RuntimeHolder&) = delete;
  RuntimeHolder& operator=(const RuntimeHolder&) = delete;
  CurlRuntime& get() { return *runtime_; }

 private:
  CurlRuntime* runtime_;
};

CurlRuntime& Runtime() {
  static RuntimeHolder holder;
  return holder.get();
}

class EasyHandle {
 public:
  EasyHandle() : h_(curl_easy_init()) {}
  ~EasyHandle() {
    if (h_ != nullptr) curl_easy_cleanup(h_);
  }
  EasyHandle(const EasyHandle&) = delete;
  EasyHandle& operator=(const EasyHandle&) = delete;
  CURL* get() const { return h_; }

 private:
  CURL* h_;
};

class UrlHandle {
 public:
  UrlHandle() : u_(curl_url()) {}
  ~UrlHandle() {
    if (u_ != nullptr) curl_url_cleanup(u_);
  }
  UrlHandle(const UrlHandle&) = delete;
  UrlHandle& operator=(const UrlHandle&) = delete;
  CURLU* get() const { return u_; }

 private:
  CURLU* u_;
};

class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { curl_slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  bool Append(const std::string& line) {
    curl_slist* next = curl_slist_append(list_, line.c_str());
    if (next == nullptr) return false;
    list_ = next;
    return true;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// What one exchange receives: the body and the header block of the latest response. The body's
// bytes are counted against the limit all transfers share while the exchange lasts.
struct Exchange {
  Exchange() = default;
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;
  ~Exchange() { ReleaseHeldBodyBytes(reserved); }

  std::string body;
  std::string headers;
  size_t bodyLimit = kMaxBodyBytes;
  size_t reserved = 0;  // bytes reserved against the shared limit
  bool headerBlockDone = false;
  bool tooLarge = false;
  bool overSharedLimit = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  const size_t room = ex->bodyLimit - ex->body.size();
  const size_t take = std::min(n, room);
  if (!ReserveHeldBodyBytes(take)) {
    ex->overSharedLimit = true;
    return 0;  // the transfers together hold too much: this one ends and is tried again later
  }
  ex->reserved += take;
  ex->body.append(data, take);
  if (n > room) {
    ex->tooLarge = true;
    return 0;  // the body limit is reached: stop the transfer with what was read
  }
  return n;
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  if (line.starts_with("HTTP/")) {
    // A new response (after an interim one or a redirect): only the last one is kept.
    ex->headers.clear();
    ex->body.clear();
    ReleaseHeldBodyBytes(ex->reserved);
    ex->reserved = 0;
    ex->headerBlockDone = false;
  }
  if (ex->headerBlockDone) return n;  // trailer lines after the body are not headers
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  ex->headers.append(line);
  ex->headers.append("\r\n");
  if (line.empty()) ex->headerBlockDone = true;
  return ex->headers.size() > kMaxHeaderBytes ? 0 : n;
}

// The user agent: the value of the caller's "User-Agent:" line, else the program's own.
Text UserAgentOf(std::string_view headers) {
  const int at = FindText(headers, "User-Agent:", 1, true);
  if (at < 0) return Text(kDefaultUserAgent);
  Text agent = TrimSpaces(ExtractBetween(headers, "User-Agent:", "\r\n"));
  if (agent.empty()) {
    // The line is the last one, or its name is spelled in another letter case: its own value.
    std::string_view rest = headers.substr(static_cast<size_t>(at - 1) + 11);
    agent = TrimSpaces(rest.substr(0, rest.find("\r\n")));
  }
  return agent.substr(0, agent.find_first_of("\r\n"));
}

// The completed header text: the caller's lines followed by the program's defaults.
Text CompleteHeaders(Text headers, std::string_view address, std::string_view cookies) {
  if (headers.empty()) {
    headers = "Accept: */*";
  } else if (FindText(headers, "Accept:") < 0) {
    headers += "\r\nAccept: */*";
  }
  if (FindText(headers, "Referer:") < 0) {
    headers += "\r\nReferer: ";
    headers += address;
  }
  if (FindText(headers, "Accept-Language:") < 0) headers += "\r\nAccept-Language: zh-cn";
  if (FindText(headers, "Content-Type:") < 0) {
    headers += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  if (!cookies.empty()) {
    headers += "\r\nCookie: ";
    headers += cookies;
  }
  return headers;
}

// The header text as lines for the wire. Any CR or LF ends a line, so no stray line break can
// split a header or end the block early; empty lines are left out.
bool AddHeaderLines(HeaderList& list, std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start && !list.Append(std::string(text.substr(start, end - start)))) return false;
    start = end + 1;
  }
  // libcurl's own lines, which the program does not send, are switched off.
  for (const char* off : {"Accept:", "Expect:", "Content-Type:", "Proxy-Connection:"}) {
    if (!list.Append(off)) return false;
  }
  return true;
}

// Bytes a request line cannot carry raw (controls, space, bytes above 0x7E) are
// percent-encoded; everything else goes out as written.
std::string WirePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

// The response cookies: the name=value part of every "Set-Cookie" line, joined by "; ".
Text CollectCookies(std::string_view headers) {
  Text cookies;
  for (const Text& line : SplitText(headers, "\r\n")) {
    if (FindText(line, "Set-Cookie") < 0) continue;
    const Text piece = FindText(line, ";") > 0 ? ExtractBetween(line, "Set-Cookie:", ";")
                                               : RemoveText(line, "Set-Cookie:", true);
    cookies += TrimSpaces(piece);
    cookies += "; ";
  }
  if (!cookies.empty()) cookies.resize(cookies.size() - 2);
  return cookies;
}

FetchFailure FailureOf(CURLcode code, bool tooLarge) {
  if (tooLarge) return FetchFailure::kTooLarge;
  switch (code) {
    case CURLE_OK:
      return FetchFailure::kNone;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return FetchFailure::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return FetchFailure::kTimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
      return FetchFailure::kTlsRefused;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return FetchFailure::kBadAddress;
    case CURLE_ABORTED_BY_CALLBACK:
      return FetchFailure::kAborted;
    default:
      return FetchFailure::kBroken;
  }
}

// Stores the outcome for the caller when it asked for it.
void Report(const FetchArgs& args, FetchFailure failure, long status = 0) {
  if (args.outcome != nullptr) *args.outcome = FetchOutcome{status, failure};
}

}  // namespace

Text FetchFailureReason(const FetchOutcome& outcome) {
  switch (outcome.failure) {
    case FetchFailure::kNone:
      return outcome.Succeeded() ? Text() : "HTTP " + std::to_string(outcome.status);
    case FetchFailure::kCannotConnect:
      return Utf8ToGbk("无法连接");
    case FetchFailure::kTimedOut:
      return Utf8ToGbk("连接超时");
    case FetchFailure::kTlsRefused:
      return Utf8ToGbk("安全连接失败");
    case FetchFailure::kTooLarge:
      return Utf8ToGbk("页面过大");
    case FetchFailure::kBadAddress:
      return Utf8ToGbk("地址无效");
    case FetchFailure::kBroken:
      return Utf8ToGbk("连接中断");
    case FetchFailure::kAborted:
      return Utf8ToGbk("已中止");
  }
  return {};
}

int PortOfAddress(std::string_view address) {
  const Text host = HostOfAddress(address, true);
  const size_t colon = host.rfind(':');  // ':' is never the trail byte of a CP936 character
  if (colon != Text::npos) return ReadPlainInteger(std::string_view(host).substr(colon + 1));
  return AsciiLower(address.substr(0, 5)) == "https" ? 443 : 80;
}

Text PathOfAddress(std::string_view address) {
  const Text host = HostOfAddress(address);
  const int at = FindText(address, host, 1, true);
  const int slash = at < 0 ? -1 : FindText(address, "/", at);
  if (slash < 0) return "/";
  return Text(address.substr(static_cast<size_t>(slash - 1)));
}

Text ValueAfterColon(std::string_view text) {
  const int colon = FindText(text, ":");
  if (colon < 0) return {};
  return TrimSpaces(text.substr(static_cast<size_t>(colon)));
}

void AbortAllFetches() { gAbortAll.store(true); }
void ResumeFetchesForTesting() { gAbortAll.store(false); }

void SetFetchTimeoutsForTesting(long connectMs, long lowSpeedMs) {
  gConnectMs.store(connectMs > 0 ? connectMs : kDefaultConnectMs);
  gLowSpeedMs.store(lowSpeedMs > 0 ? lowSpeedMs : kDefaultLowSpeedMs);
}

void SetFetchTotalTimeoutForTesting(long totalMs) {
  gTotalMs.store(totalMs > 0 ? totalMs : kDefaultTotalMs);
}

void SetFetchCaFileForTesting(std::string caFile) {
  std::lock_guard<std::mutex> lock(gTestSettingsMutex);
  gCaFile = std::move(caFile);
}

void SetFetchConnectToForTesting(std::vector<std::string> entries) {
  std::lock_guard<std::mutex> lock(gTestSettingsMutex);
  gConnectTo = std::move(entries);
}

std::string HttpFetch(std::string_view address, const FetchArgs& args) {
  Report(args, FetchFailure::kBroken);
  CurlRuntime& runtime = Runtime();
  if (!runtime.ok()) return {};

  const int method = args.method >= 0 && args.method <= 2 ? args.method : 0;
  const bool secure = AsciiLower(address.substr(0, 5)) == "https";
  const Text callerHeaders = args.requestHeaders != nullptr ? *args.requestHeaders : Text();
  const Text userAgent = UserAgentOf(callerHeaders);
  const bool cookieTextPassed = args.cookies != nullptr;

  // The request: scheme, lower-cased host, port and the address's own path and query.
  int port = PortOfAddress(address);
  if (port == 0) port = secure ? 443 : 80;  // no usable port number: the scheme's own
  if (port < 0 || port > 65535) {
    Report(args, FetchFailure::kBadAddress);
    return {};
  }
  const std::string url = std::string(secure ? "https://" : "http://") + HostOfAddress(address) +
                          ":" + std::to_string(port) + WirePath(PathOfAddress(address));
  // Everything libcurl reads during the transfer outlives the easy handle.
  UrlHandle urlHandle;
  HeaderList headerList;
  HeaderList connectTo;
  std::string body;
  std::string caFile;
  if (urlHandle.get() == nullptr ||
      curl_url_set(urlHandle.get(), CURLUPART_URL, url.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK) {
    Report(args, FetchFailure::kBadAddress);
    return {};  // no request can be made of this address; the caller's variables stay as they were
  }
  {
    std::lock_guard<std::mutex> lock(gTestSettingsMutex);
    caFile = gCaFile;
    for (const std::string& entry : gConnectTo) {
      if (!connectTo.Append(entry)) return {};
    }
  }
  EasyHandle easy;
  if (easy.get() == nullptr) return {};
  CURL* h = easy.get();

  // Header text, completed in the caller's variable.
  const Text sentHeaders =
      CompleteHeaders(callerHeaders, address, cookieTextPassed ? *args.cookies : Text());
  if (args.requestHeaders != nullptr) *args.requestHeaders = sentHeaders;
  if (!AddHeaderLines(headerList, sentHeaders)) return {};

  // Body: none for GET; for POST and HEAD the byte body, or else the text body.
  if (method != 0) {
    if (args.bodyBytes != nullptr && !args.bodyBytes->empty()) {
      body = *args.bodyBytes;
    } else {
      body = args.bodyText;
      if (args.bodyBytes != nullptr) *args.bodyBytes = args.bodyText;
    }
  }

  Exchange ex;
  ex.bodyLimit = BodyLimit();
  if (args.maxBodyBytes > 0) ex.bodyLimit = std::min(ex.bodyLimit, args.maxBodyBytes);

  curl_easy_setopt(h, CURLOPT_CURLU, urlHandle.get());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // A secure address is never redirected to a plain one; a plain one may go to https.
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, args.noRedirect ? 0L : 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
  if (!userAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeaderLine);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex);
  curl_easy_setopt(h, CURLOPT_SHARE, runtime.share(!cookieTextPassed));
  curl_easy_setopt(h, CURLOPT_MAXCONNECTS, kMaxCachedConnections);
  if (!cookieTextPassed) curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // the store is in use
  // An empty proxy text means a direct connection, whatever the environment says.
  curl_easy_setopt(h, CURLOPT_PROXY, args.proxy.c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, gConnectMs.load());
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, gTotalMs.load());
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(args.cancel));
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, std::max(1L, (gLowSpeedMs.load() + 999) / 1000));
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, caFile.c_str());
  if (connectTo.get() != nullptr) curl_easy_setopt(h, CURLOPT_CONNECT_TO, connectTo.get());
  switch (method) {
    case 1:
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
      break;
    case 2:
      curl_easy_setopt(h, CURLOPT_NOBODY, 1L);  // a HEAD request carries no body on the wire
      break;
    default:
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
      break;
  }

  // What was read is the body; how the exchange ended goes to the outcome. A transfer that ran
  // out of time returns nothing: its body is cut short. The same for a transfer ended because
  // all transfers together held too much.
  const CURLcode code = curl_easy_perform(h);
  if (code == CURLE_OPERATION_TIMEDOUT || ex.overSharedLimit) ex.body.clear();
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  Report(args, FailureOf(code, ex.tooLarge), status);

  const Text responseHeaders = ReplaceText(ex.headers, "Set-Cookie", "Set-Cookie", true);
  Text newCookies = CollectCookies(responseHeaders);
  if (cookieTextPassed) CookieJar::Merge(*args.cookies, newCookies);
  if (args.returnedCookies != nullptr) *args.returnedCookies = newCookies;
  if (args.responseHeaders != nullptr) *args.responseHeaders = responseHeaders;
  if (args.bodyTooLarge != nullptr) *args.bodyTooLarge = ex.tooLarge;
  return std::move(ex.body);
}

}  // namespace qv
