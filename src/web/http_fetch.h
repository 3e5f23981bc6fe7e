// The program's one blocking HTTP/HTTPS request routine, built on libcurl.
//
// One call is one complete exchange: the request goes out with the program's own header lines
// and user agent, the whole body is read, the raw headers of the final response are kept and
// the cookies it sets are collected. Safe to call from many threads at once. Connections, DNS
// answers and TLS sessions are reused across calls; calls that pass no cookie text share one
// process-wide cookie store.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "text/gbk_text.h"

namespace qv {

// How a transfer that did not complete ended.
enum class FetchFailure {
  kNone,           // the transfer completed (whatever its HTTP status)
  kCannotConnect,  // no connection: the host is unknown or refused it
  kTimedOut,       // the connection or the transfer ran out of time
  kTlsRefused,     // the secure connection could not be set up (handshake, certificate)
  kTooLarge,       // the body limit cut the transfer off
  kBadAddress,     // no request can be made of the address
  kBroken,         // the connection broke off, or the answer was not HTTP
  kAborted,        // every transfer was ended (AbortAllFetches)
};

// What happened in one exchange, beside the body.
struct FetchOutcome {
  long status = 0;  // HTTP status of the final response (after redirects); 0 without one
  FetchFailure failure = FetchFailure::kNone;

  bool Completed() const { return failure == FetchFailure::kNone; }
  // Completed with a 2xx status.
  bool Succeeded() const { return Completed() && status >= 200 && status < 300; }
};

// Why an exchange did not succeed, in CP936 for the status line: "HTTP 404" for a completed
// transfer with another status than 2xx, else the kind ("无法连接", "连接超时", ...). Empty for
// a success.
Text FetchFailureReason(const FetchOutcome& outcome);

// The optional parameters of HttpFetch. A pointer parameter is passed when it is non-null; an
// omitted cookie text is thus told apart from an empty one.
struct FetchArgs {
  int method = 0;                   // 0 GET, 1 POST, 2 HEAD; any other value is GET
  Text bodyText;                    // request body as text (POST, HEAD)
  Text* cookies = nullptr;          // in/out: sent as "Cookie: ", merged with the new cookies
  Text* returnedCookies = nullptr;  // out: name=value of each Set-Cookie line, joined by "; "
  Text* requestHeaders = nullptr;   // in/out: extra lines split by "\r\n"; comes back as sent
  Text* responseHeaders = nullptr;  // out: status line and header lines of the final response
  bool noRedirect = false;          // true: redirects are not followed
  std::string* bodyBytes = nullptr; // in/out: request body as bytes, before bodyText
  Text proxy;                       // proxy "host:port"; empty for a direct connection
  size_t maxBodyBytes = 0;          // a lower body limit for this call; 0: the program's limit
  bool* bodyTooLarge = nullptr;     // out: true when the body limit cut the transfer off
  const std::atomic<bool>* cancel = nullptr;  // set to true: the transfer ends at once
  FetchOutcome* outcome = nullptr;  // out: final status and how the transfer ended
};

// Fetches the address and returns the body as received (no decoding); empty when the request
// could not be made, nothing was read or the transfer ran out of time (connect 30 s, no
// progress 60 s, the whole transfer 5 minutes). Error statuses return their body like any
// other.
std::string HttpFetch(std::string_view address, const FetchArgs& args = {});

// The port of an address: the number after the last ":" of its host, else 443 for an address
// starting with "https" (any letter case) and 80 for any other.
int PortOfAddress(std::string_view address);

// The request path and query of an address, in its own letter case; "/" when there is none.
Text PathOfAddress(std::string_view address);

// The text after the first ":", trimmed of spaces; empty without a ":".
Text ValueAfterColon(std::string_view text);

// Ends every transfer under way and every later one at once (they return what was read, usually
// nothing). The program calls it when it closes, so no worker waits for a slow server.
void AbortAllFetches();
// Test-only: lets fetches run again after AbortAllFetches.
void ResumeFetchesForTesting();

// Test-only: shorter connect / no-progress time-outs (defaults 30 s / 60 s; the no-progress
// time-out counts in whole seconds, at least one). Values of 0 or less restore the defaults.
void SetFetchTimeoutsForTesting(long connectMs, long lowSpeedMs);

// Test-only: a shorter limit on the whole of each transfer (default 5 minutes); a transfer that
// runs out of time returns no body. 0 or less restores the default.
void SetFetchTotalTimeoutForTesting(long totalMs);

// Test-only: trust this CA file instead of the system's certificate store ("" restores it).
void SetFetchCaFileForTesting(std::string caFile);

// Test-only: libcurl "connect to" entries "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT", so a
// named host and its default port can be served from a local server. Empty: none.
void SetFetchConnectToForTesting(std::vector<std::string> entries);

}  // namespace qv
