// Module paths, compared the way the file system compares names: ordinal,
// ignoring letter case. Every part of the library (the database, the plan,
// the blame of a crash) uses these rules, so two spellings are one module
// everywhere or nowhere.
#pragma once
#include <string>

namespace orvanta {

// The full path, separators as backslashes, without trailing backslashes
// (but "C:\" stays). A path that cannot be made full is returned as given.
std::wstring FullPath(const std::wstring& path);
// A name or path in upper case, letter by letter, as the file system folds
// names when it compares them (not made full).
std::wstring FoldCase(const std::wstring& text);
// The key under which a path is kept and sorted: FoldCase(FullPath(path)).
std::wstring PathKey(const std::wstring& path);
// True when both name the same file once made full.
bool SamePath(const std::wstring& a, const std::wstring& b);
// True when path is root itself or lies somewhere below it.
bool IsUnder(const std::wstring& path, const std::wstring& root);
// The folder part ("." for a bare name) and the name part of a path.
std::wstring FolderOf(const std::wstring& path);
std::wstring FileNameOf(const std::wstring& path);

} // namespace orvanta
