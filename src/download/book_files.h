// Names and files of a downloaded book: the book folder, the chapter files in it and the book
// file beside it, all relative to the current directory (the program runs in its own folder).
//
// The book title and the author come from a web page, so they are made safe before they name
// anything: every path below is built from SafeFileName of the title, so the folder, the
// chapter files, the merge and the double-click always agree on one name that stays inside the
// current directory. Paths are CP936 text; they reach the file system through FsPath.
#pragma once

#include <cstddef>
#include <string_view>

#include "text/gbk_text.h"

namespace qv {

// The characters of `name` that a file name cannot hold on common systems (\ / : * ? " < > |),
// NUL and the control characters become "_"; so does a byte that is not part of a character
// of code page 936 (a lead byte without a valid trail, an unassigned pair, 0xFF), so that the
// name cannot change when it is converted for the file system. Double-byte characters are kept
// whole, even when their trail byte equals "\" or "|".
Text ReplaceUnsafeNameChars(std::string_view name);

// The longest start of `name` whose UTF-8 form (the form on disk) takes at most `maxDiskBytes`
// bytes, cut between whole characters.
Text ShortenName(std::string_view name, size_t maxDiskBytes);

// ReplaceUnsafeNameChars, shortened on whole characters to the 255 bytes a name may take on
// disk, and never empty, "." or "..": those become "_". A title without such characters and
// within the limit comes back unchanged.
Text SafeFileName(std::string_view title);

// The folder of the book: SafeFileName(title).
Text BookFolderPath(std::string_view title);

// The chapter file of the row at 0-based `row`: folder "/" (row + 1) ".txt".
Text ChapterFilePathFor(std::string_view title, int row);

// The book file beside the folder: SafeFileName(title) "(" author ").txt", the author's
// unsafe characters replaced as above. A name over the 255-byte limit is shortened on whole
// characters: the title down to half of the room, then the author.
Text BookFilePathFor(std::string_view title, std::string_view author);

// The EPUB book beside the text book: SafeFileName(title) "(" author ").epub".
Text EpubFilePathFor(std::string_view title, std::string_view author);

// Replaces the file at the CP936 `path` with `bytes` atomically (temporary file, flush, rename);
// true when every byte was written and the file renamed into place. On failure the previous
// file stays as it was.
bool WriteFileBytes(std::string_view path, std::string_view bytes);

// The whole content of the file at `path`; empty when it is missing or unreadable.
std::string ReadFileBytes(std::string_view path);

// True when a regular file exists at `path`.
bool RegularFileExists(std::string_view path);

// Creates the folder at `path` (no error when it exists already); true when it exists after.
bool MakeFolder(std::string_view path);

}  // namespace qv
