// Cost of the per-keystroke rule-file work against one plain read of the file's bytes.
//
// With the default rule file in a folder (a fresh temporary folder, or the folder given as the
// first argument): one rule lookup (RuleHosts + FindRuleIndex, for the last rule and for a
// miss) and one field save (WriteRule of one field: load, change, write a temporary file,
// fsync, rename), each in microseconds per operation and as a multiple of one plain read.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/micros_per_op.h"
#include "rules/rule_store.h"
#include "rules/safe_file.h"

using qvbench::MicrosPerOp;

int main(int argc, char** argv) {
  std::filesystem::path dir;  // made here and removed at the end
  if (argc > 1) {
    dir = std::filesystem::path(argv[1]) / "qv_rules_bench";
    std::filesystem::create_directories(dir);
  } else {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv_rules_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    dir = pattern;
  }

  const qv::RuleStore store(dir.string());
  std::filesystem::remove(store.FilePath());
  store.EnsureFile();
  const std::filesystem::path file = store.FilePath();
  const qv::Text lastHost = store.RuleHosts().back();
  const qv::Text left = store.ReadRule(1).leftMarker;

  size_t sink = 0;
  const double read = MicrosPerOp(2000, [&](int) { sink += qv::ReadFileBytes(file)->size(); });
  const double hit =
      MicrosPerOp(2000, [&](int) { sink += qv::FindRuleIndex(lastHost, {}, store); });
  const double miss =
      MicrosPerOp(2000, [&](int) { sink += qv::FindRuleIndex("no.such.host", {}, store); });
  const double save = MicrosPerOp(
      200, [&](int i) { store.WriteRule(1, {.leftMarker = i % 2 == 0 ? left + "x" : left}); });

  std::printf("rule file: %s (%zu bytes)\n", file.c_str(), std::filesystem::file_size(file));
  std::printf("plain read of the file      %9.2f us/op   1.0x\n", read);
  std::printf("lookup, last rule matches   %9.2f us/op  %5.1fx\n", hit, hit / read);
  std::printf("lookup, no rule matches     %9.2f us/op  %5.1fx\n", miss, miss / read);
  std::printf("save of one field           %9.2f us/op  %5.1fx\n", save, save / read);
  std::printf("(checksum %zu)\n", sink);

  std::filesystem::remove_all(dir);
  return 0;
}
