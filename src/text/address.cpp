#include "text/address.h"

#include "text/markers.h"

namespace qv {

Text HostOfAddress(std::string_view address, bool keepPort) {
  Text t = AsciiLower(address);
  if (t.empty() || t.back() != '/') t.push_back('/');  // an address without a path still ends
  Text host;
  if (t.compare(0, 8, "https://") == 0) {
    host = ExtractBetween(t, "https://", "/");
  } else {
    if (FindText(t, "http://") < 0) t.insert(0, "http://");
    host = ExtractBetween(t, "http://", "/");
  }
  if (!keepPort) {
    const int colon = FindText(host, ":");
    if (colon > 0) host.resize(static_cast<size_t>(colon - 1));
  }
  return host;
}

}  // namespace qv
