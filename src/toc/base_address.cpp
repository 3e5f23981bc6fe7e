#include "toc/base_address.h"

#include <vector>

namespace qv {

int CountOccurrences(std::string_view text, std::string_view piece) {
  return CountText(text, piece, true);
}

Text DeriveBaseAddress(std::string_view pageAddress, std::string_view sampleLink) {
  int steps = CountOccurrences(sampleLink, "/");
  const bool relative = sampleLink.empty() || sampleLink.front() != '/';
  if (relative) ++steps;

  // 1-based positions of the "/" characters of the address, never a trail byte.
  std::vector<int> slashes;
  for (size_t i = 0; i < pageAddress.size(); i += CharLenAt(pageAddress, i)) {
    if (pageAddress[i] == '/') slashes.push_back(static_cast<int>(i) + 1);
  }

  // Each step moves to the last "/" strictly before the previous one; none left gives -1.
  int pos = static_cast<int>(pageAddress.size()) + 1;
  auto next = slashes.rbegin();
  for (int k = 0; k < steps && pos != -1; ++k) {
    while (next != slashes.rend() && *next >= pos) ++next;
    pos = next == slashes.rend() ? -1 : *next;
  }

  const int keep = relative ? pos : pos - 1;
  if (keep <= 0) return {};
  return Text(pageAddress.substr(0, static_cast<size_t>(keep)));
}

}  // namespace qv
