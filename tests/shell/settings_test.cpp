// The settings file: defaults, round trip of every kind of value, lines it does not know, and
// replacement that never leaves a half-written file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "shell/settings.h"
#include "file_size_limit.h"

namespace {

namespace fs = std::filesystem;

std::string FileText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& p, const std::string& s) {
  std::ofstream(p, std::ios::binary) << s;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_settings_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ / qv::SettingsFileName();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  size_t FilesInDir() {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  fs::path dir_, path_;
};

TEST_F(SettingsTest, AMissingFileGivesTheDefaults) {
  EXPECT_EQ(qv::SettingsFileName(), fs::u8path("设置.ini"));
  const qv::Settings s(path_);
  EXPECT_FALSE(s.LoadFailed());
  EXPECT_EQ(s.GetString("最后网址", "x"), "x");
  EXPECT_TRUE(s.GetBool("b", true));
  EXPECT_EQ(s.GetInt("i", 7), 7);
  const qv::BookFormats f = qv::ReadBookFormats(s);
  EXPECT_TRUE(f.txt);
  EXPECT_FALSE(f.epub);
  EXPECT_FALSE(fs::exists(path_)) << "reading never creates the file";
}

TEST_F(SettingsTest, ValuesRoundTripAndUnknownLinesStayAsTheyWere) {
  const std::string foreign =
      "# 注释 kept\r\n"
      "[section]\n"
      "其他 = 保留  \n"
      "no equals sign here\n"
      "生成EPUB=1\n";
  WriteText(path_, "\xEF\xBB\xBF" + foreign);
  {
    qv::Settings s(path_);
    EXPECT_TRUE(qv::ReadBookFormats(s).epub);
    EXPECT_EQ(s.GetString("其他"), " 保留  ") << "the value as written after \"=\"";
    qv::WriteBookFormats(s, {.txt = false, .epub = true});
    EXPECT_TRUE(s.SetString("最后网址", "http://a/b?c=d&e"));
    EXPECT_TRUE(s.SetString("多行", "一\n二\r\n三\\n"));
    EXPECT_TRUE(s.SetInt("窗口宽", -920));
    EXPECT_TRUE(s.SetBool("自动合并", false));
    // Keys that a line could not hold are refused.
    for (const char* bad : {"", "a=b", "a\nb", " a", "#a"}) EXPECT_FALSE(s.SetString(bad, "v")) << bad;
    ASSERT_TRUE(s.Save());
  }
  const std::string written = FileText(path_);
  // The lines it did not change come back byte for byte, in their place.
  EXPECT_EQ(written.rfind("\xEF\xBB\xBF# 注释 kept\r\n[section]\n其他 = 保留  \nno equals sign here\n", 0), 0u)
      << written;
  const qv::Settings back(path_);
  EXPECT_FALSE(qv::ReadBookFormats(back).txt);
  EXPECT_TRUE(qv::ReadBookFormats(back).epub);
  EXPECT_EQ(back.GetString("最后网址"), "http://a/b?c=d&e");
  EXPECT_EQ(back.GetString("多行"), "一\n二\r\n三\\n");
  EXPECT_EQ(back.GetInt("窗口宽", 0), -920);
  EXPECT_FALSE(back.GetBool("自动合并", true));
  EXPECT_EQ(back.GetString("其他"), " 保留  ");

  // Values that do not read as the asked type give the fallback.
  WriteText(path_, "i=12x\nj=\nb=yes\nc=true\n");
  const qv::Settings odd(path_);
  EXPECT_EQ(odd.GetInt("i", 5), 5);
  EXPECT_EQ(odd.GetInt("j", 5), 5);
  EXPECT_TRUE(odd.GetBool("b", true));
  EXPECT_FALSE(odd.GetBool("b", false));
  EXPECT_TRUE(odd.GetBool("c", false));
}

using qvtest::FileSizeLimit;

TEST_F(SettingsTest, AFailedSaveKeepsTheOldFileWhole) {
  qv::Settings s(path_);
  s.SetString("a", "1");
  ASSERT_TRUE(s.Save());
  const std::string old = FileText(path_);
  s.SetString("big", std::string(10000, 'x'));
  {
    FileSizeLimit limit(1000);
    EXPECT_FALSE(s.Save());
  }
  EXPECT_EQ(FileText(path_), old);
  EXPECT_EQ(FilesInDir(), 1u) << "no temporary file stays";
  EXPECT_TRUE(s.Save());
  EXPECT_EQ(qv::Settings(path_).GetString("big").size(), 10000u);

  // A file that is there but cannot be read is never overwritten with defaults.
  const fs::path folder = dir_ / "folder.ini";
  fs::create_directory(folder);
  qv::Settings unreadable(folder);
  EXPECT_TRUE(unreadable.LoadFailed());
  unreadable.SetBool("生成EPUB", true);
  EXPECT_FALSE(unreadable.Save());
  EXPECT_TRUE(fs::is_directory(folder));
  // Settings that were never given a file are saved nowhere.
  EXPECT_FALSE(qv::Settings().Save());
}

}  // namespace

namespace {

// Two holders of the file (the window and another program, say): each save keeps what the
// other saved meanwhile, and a key both set ends with the last save's value.
TEST_F(SettingsTest, ASaveKeepsWhatAnotherHolderSavedMeanwhile) {
  qv::Settings window(path_);
  qv::Settings other(path_);
  ASSERT_TRUE(other.SetString("最后网址", "http://127.0.0.1/"));
  ASSERT_TRUE(other.SetInt("共用", 1));
  ASSERT_TRUE(other.Save());
  ASSERT_TRUE(window.SetBool("生成EPUB", true));
  ASSERT_TRUE(window.SetInt("共用", 2));
  ASSERT_TRUE(window.Save());

  const qv::Settings after(path_);
  EXPECT_EQ(after.GetString("最后网址"), "http://127.0.0.1/");
  EXPECT_TRUE(after.GetBool("生成EPUB", false));
  EXPECT_EQ(after.GetInt("共用", 0), 2);
}

}  // namespace
