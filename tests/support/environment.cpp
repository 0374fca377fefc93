#include "environment.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace testsupport {

namespace {

std::optional<std::wstring> Get(const std::wstring& name)
{
    DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (n == 0)
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::wstring>(L"");
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name.c_str(), &value[0], n));
    return value;
}

} // namespace

void ScopedEnvironment::Set(const std::wstring& name, const std::optional<std::wstring>& value)
{
    bool saved = false;
    for (const auto& entry : m_saved)
        saved = saved || entry.first == name;
    if (!saved)
        m_saved.emplace_back(name, Get(name));
    SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
        SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
}

} // namespace testsupport
