// Whole files and folders by path. What a test sets up (writing, copying,
// making a folder, setting a time) throws std::runtime_error naming the path
// when it fails, so the test stops with the reason; what a test looks at
// returns what it finds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The file's bytes, or "" when it cannot be opened.
std::string ReadWholeFile(const std::wstring& path);
// Creates or replaces the file with exactly these bytes.
void WriteWholeFile(const std::wstring& path, const std::string& bytes);
// The lines of a text file, as SplitLines gives them.
std::vector<std::string> ReadLines(const std::wstring& path);
bool Exists(const std::wstring& path);
void MakeFolder(const std::wstring& path);
// Copies a file to folder\as (keeping its last-write time); the new path.
std::wstring CopyTo(const std::wstring& from, const std::wstring& folder, const std::wstring& as);
// Sets the last-write time (100 ns units since 1601, UTC).
void SetLastWrite(const std::wstring& path, uint64_t fileTime);

// The names in a folder (given with or without a trailing backslash),
// files and folders, sorted, without "." and "..".
std::vector<std::wstring> ListFolder(const std::wstring& folder);
// The names of the folders directly in a folder, sorted.
std::vector<std::wstring> SubFolders(const std::wstring& folder);
// Every file under a folder, as paths relative to it ("server-1\a.mdmp"),
// sorted; folders themselves are not listed.
std::vector<std::wstring> FilesUnder(const std::wstring& folder);
// Deletes a folder with everything in it, read-only files too; whatever
// cannot be deleted stays.
void RemoveTree(const std::wstring& folder);

} // namespace testsupport
