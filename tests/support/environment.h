// Environment variables a test sets for itself and the programs it starts
// (each test runs in a process of its own), put back as they were when the
// object goes.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // Sets the variable, or removes it for nullopt.
    void Set(const std::wstring& name, const std::optional<std::wstring>& value);

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> m_saved; // first values, in order
};

} // namespace testsupport
