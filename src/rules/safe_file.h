// Whole-file reading and replacement for the rule file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// The bytes of a regular file; nullopt when it is missing, not a regular file or cannot be read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);

// Replaces the file's content with `bytes` atomically: the bytes go to a new temporary file in
// the same folder, which is flushed to disk and then renamed over the target. On any failure
// the temporary file is removed and the target keeps its previous content. A replaced file
// keeps its permission bits; a symbolic link is followed, not replaced.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace qv
