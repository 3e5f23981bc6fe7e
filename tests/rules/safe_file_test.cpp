// Temporary files of atomic saves: a long target name still fits, and stale temporaries are
// swept at start-up without touching a live one.
#include "rules/safe_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "rules/rule_store.h"
#include "rules_test_util.h"

namespace qv {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::set<std::string> Entries(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

long DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST(AtomicFileWriter, NamesUpToTheLimitAreReplaced) {
  TempDir dir;
  for (size_t length : {200u, 240u, 251u, 253u, 255u}) {
    const std::filesystem::path target = dir.path() / std::string(length, 'n');
    ASSERT_TRUE(ReplaceFileAtomically(target, "old")) << length;
    ASSERT_TRUE(ReplaceFileAtomically(target, "new")) << length;
    EXPECT_EQ(ReadBytes(target), "new") << length;
  }
  EXPECT_EQ(Entries(dir.path()).size(), 5u);  // no temporary left
}

TEST(AtomicFileWriter, UncommittedWriterLeavesTheTargetAndNoTemporary) {
  TempDir dir;
  const std::filesystem::path target = dir.path() / "book.txt";
  WriteBytes(target, "old");
  {
    AtomicFileWriter writer(target);
    ASSERT_TRUE(writer.ok());
    EXPECT_TRUE(writer.Write("new"));
    EXPECT_EQ(Entries(dir.path()).size(), 2u);
  }
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"book.txt"});
}

TEST(StaleTemporaries, OnlyOursOfEndedRunsAreRemoved) {
  TempDir dir;
  const std::string dead = std::to_string(DeadPid());
  const std::string self = std::to_string(getpid());
  const std::string live = std::to_string(getppid());
  struct Case {
    std::string name;
    bool removed;
  } cases[] = {
      {".下载配置.xml." + dead + ".0.tmp", true},
      {".下载配置.xml." + dead + ".17.tmp", true},
      {".书名(作者).txt." + dead + ".2.tmp", true},
      {".quorvane." + dead + ".3.tmp", true},
      {".下载配置.xml." + self + ".999.tmp", true},   // an earlier run that had our pid
      {".下载配置.xml." + live + ".0.tmp", false},    // a process that still runs
      {".quorvane." + live + ".1.tmp", false},
      {"下载配置.xml", false},
      {"下载配置.xml." + dead + ".0.tmp", false},     // not hidden
      {".下载配置.xml." + dead + ".0.tmp.bak", false},
      {".下载配置.xml." + dead + ".x.tmp", false},
      {".下载配置.xml.x" + dead + ".0.tmp", false},
      {".notes." + dead + ".0.tmp", false},           // not a name the program writes
      {"." + dead + ".0.tmp", false},
  };
  for (const Case& c : cases) WriteBytes(dir.path() / c.name, "x");
  // A save of this process that is under way keeps its temporary.
  AtomicFileWriter open(dir.path() / "1.txt");
  ASSERT_TRUE(open.ok());
  const std::set<std::string> withOpen = Entries(dir.path());

  EXPECT_EQ(RemoveStaleTemporaries(dir.path()), 5);
  std::set<std::string> expected = withOpen;
  for (const Case& c : cases) {
    if (c.removed) expected.erase(c.name);
  }
  EXPECT_EQ(Entries(dir.path()), expected);
  EXPECT_TRUE(open.Write("1") && open.Commit());
}

TEST(StaleTemporaries, StartUpSweepsTheProgramFolder) {
  TempDir dir;
  const std::string dead = std::to_string(DeadPid());
  WriteBytes(dir.path() / (".下载配置.xml." + dead + ".5.tmp"), "partial");
  WriteBytes(dir.path() / "other.tmp", "x");
  RuleStore(dir.path().string()).EnsureFile();
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"other.tmp", "下载配置.xml"}));
}

}  // namespace
}  // namespace qv
