// The program's settings between runs: a plain UTF-8 file of "key=value" lines, "设置.ini"
// beside the rule file. A missing file means every setting has its default. Lines the program
// does not know (other keys, comments) are kept as they are when the file is written again.
// Toolkit-free; not shared between threads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// "设置.ini" (UTF-8), the settings file's name in the program's folder.
std::filesystem::path SettingsFileName();

class Settings {
 public:
  // Settings in memory only, all at their defaults, saved nowhere until a path is given.
  Settings() = default;
  // Reads the file at `path`; a missing file gives defaults. A file that exists but cannot be
  // read also gives defaults, and LoadFailed() says so: Save() then refuses to overwrite it.
  explicit Settings(std::filesystem::path path);

  // Values by key (keys hold no "=" and no line break). A missing key, or a value that does
  // not read as the asked type, gives `fallback`.
  std::string GetString(std::string_view key, std::string_view fallback = {}) const;
  bool GetBool(std::string_view key, bool fallback) const;
  int GetInt(std::string_view key, int fallback) const;

  // Sets a value (kept in memory until Save). Line breaks and "\" in a value are written
  // escaped, so any text round-trips. False when the key is not a valid key.
  bool SetString(std::string_view key, std::string_view value);
  bool SetBool(std::string_view key, bool value);
  bool SetInt(std::string_view key, int value);

  // Writes the file atomically (temporary file, flushed, renamed): the file as it is on disk now
  // with the values set through this object on top, so settings saved meanwhile by another
  // window or program are kept. False when it could not be written or was not readable.
  bool Save() const;

  bool LoadFailed() const { return loadFailed_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  struct Line {
    std::string raw;                 // the line as read (comments, unknown text)
    std::optional<std::string> key;  // set for "key=value" lines
    std::string value;               // unescaped value
    bool changed = false;            // set since read: written anew, else as read
  };
  Line* Find(std::string_view key);
  const Line* Find(std::string_view key) const;

  std::filesystem::path path_;
  std::vector<Line> lines_;
  bool loadFailed_ = false;
  bool bom_ = false;  // the file began with a UTF-8 byte-order mark: it keeps it
};

// The book formats a merge writes: "生成TXT" (on unless set) and "生成EPUB" (off unless set).
struct BookFormats {
  bool txt = true;
  bool epub = false;
};
BookFormats ReadBookFormats(const Settings& settings);
void WriteBookFormats(Settings& settings, const BookFormats& formats);

}  // namespace qv
