#include "gzip.h"

#include <zlib.h>

namespace qvtest {

std::string GzipBytes(const std::string& bytes, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, bytes.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(rc == Z_STREAM_END ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}

}  // namespace qvtest
