// gzip packing for the test sites and benchmarks.
#pragma once

#include <string>

namespace qvtest {

// The gzip stream (zlib, gzip framing) of `bytes` at the given zlib level; empty on failure.
std::string GzipBytes(const std::string& bytes, int level = 1);

}  // namespace qvtest
