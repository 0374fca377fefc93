// What the formats' install folders are made of: folders named by
// environment variables, alone or in lists.
#pragma once
#include <string>
#include <vector>

namespace orvanta {

// The variable's value; "" when it is unset.
std::wstring EnvironmentText(const wchar_t* name);
// The folder below an environment variable's folder; "" when it is unset.
std::wstring FolderBelow(const wchar_t* variable, const wchar_t* sub);
// The folders of a list such as VST_PATH or CLAP_PATH, separated by ";" as
// PATH's are, each trimmed; empty parts skipped.
std::vector<std::wstring> FolderList(const wchar_t* variable);
// A folder as a user may have written it, without the blanks and quotes
// around it.
std::wstring TrimmedFolder(const std::wstring& text);

} // namespace orvanta
