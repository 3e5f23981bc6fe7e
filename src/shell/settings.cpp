#include "shell/settings.h"

#include <charconv>
#include <system_error>

#include "rules/safe_file.h"

namespace qv {
namespace {

constexpr std::string_view kTxtKey = "生成TXT";
constexpr std::string_view kEpubKey = "生成EPUB";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ValidKey(std::string_view key) {
  return !Trim(key).empty() && Trim(key) == key &&
         key.find_first_of("=\r\n") == std::string_view::npos && key.front() != '#' &&
         key.front() != ';' && key.front() != '[';
}

std::string Escape(std::string_view v) {
  std::string out;
  for (char c : v) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string Unescape(std::string_view v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      const char n = v[++i];
      out.push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n);
    } else {
      out.push_back(v[i]);
    }
  }
  return out;
}

}  // namespace

std::filesystem::path SettingsFileName() { return std::filesystem::u8path("设置.ini"); }

Settings::Settings(std::filesystem::path path) : path_(std::move(path)) {
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec) && !ec) return;  // no file yet: defaults
  const std::optional<std::string> bytes = ReadFileBytes(path_);
  if (!bytes) {
    loadFailed_ = true;
    return;
  }
  std::string_view rest = *bytes;
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") {
    rest.remove_prefix(3);
    bom_ = true;
  }
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    Line l;
    l.raw = std::string(line);  // with its carriage return, if it had one
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && ValidKey(Trim(line.substr(0, eq)))) {
      l.key = std::string(Trim(line.substr(0, eq)));
      l.value = Unescape(line.substr(eq + 1));
    }
    lines_.push_back(std::move(l));
  }
}

Settings::Line* Settings::Find(std::string_view key) {
  for (Line& l : lines_) {
    if (l.key && *l.key == key) return &l;
  }
  return nullptr;
}

const Settings::Line* Settings::Find(std::string_view key) const {
  return const_cast<Settings*>(this)->Find(key);
}

std::string Settings::GetString(std::string_view key, std::string_view fallback) const {
  const Line* l = Find(key);
  return l ? l->value : std::string(fallback);
}

bool Settings::GetBool(std::string_view key, bool fallback) const {
  const Line* l = Find(key);
  if (!l) return fallback;
  const std::string_view v = Trim(l->value);
  if (v == "1" || v == "true") return true;
  if (v == "0" || v == "false") return false;
  return fallback;
}

int Settings::GetInt(std::string_view key, int fallback) const {
  const Line* l = Find(key);
  if (!l) return fallback;
  const std::string_view v = Trim(l->value);
  int value = 0;
  const auto [end, err] = std::from_chars(v.data(), v.data() + v.size(), value);
  return err == std::errc() && end == v.data() + v.size() && !v.empty() ? value : fallback;
}

bool Settings::SetString(std::string_view key, std::string_view value) {
  if (!ValidKey(key)) return false;
  if (Line* l = Find(key)) {
    l->value = std::string(value);
    l->changed = true;
  } else {
    Line n;
    n.key = std::string(key);
    n.value = std::string(value);
    n.changed = true;
    lines_.push_back(std::move(n));
  }
  return true;
}

bool Settings::SetBool(std::string_view key, bool value) { return SetString(key, value ? "1" : "0"); }

bool Settings::SetInt(std::string_view key, int value) {
  return SetString(key, std::to_string(value));
}

bool Settings::Save() const {
  if (loadFailed_ || path_.empty()) return false;
  // The file as it is now, with this object's own changes on top: settings another window or
  // program wrote since this one was read are kept.
  Settings current(path_);
  if (current.loadFailed_) return false;
  for (const Line& l : lines_) {
    if (l.key && l.changed) current.SetString(*l.key, l.value);
  }
  std::string bytes = current.bom_ ? "\xEF\xBB\xBF" : "";
  for (const Line& l : current.lines_) {
    bytes += l.key && l.changed ? *l.key + "=" + Escape(l.value) : l.raw;
    bytes += "\n";
  }
  return ReplaceFileAtomically(path_, bytes);
}

BookFormats ReadBookFormats(const Settings& settings) {
  BookFormats f;
  f.txt = settings.GetBool(kTxtKey, f.txt);
  f.epub = settings.GetBool(kEpubKey, f.epub);
  return f;
}

void WriteBookFormats(Settings& settings, const BookFormats& formats) {
  settings.SetBool(kTxtKey, formats.txt);
  settings.SetBool(kEpubKey, formats.epub);
}

}  // namespace qv
