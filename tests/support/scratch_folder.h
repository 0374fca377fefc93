// A fresh, empty folder under the temporary folder for one test, removed
// with everything in it when the object goes.
#pragma once
#include <string>

namespace testsupport {

class ScratchFolder
{
public:
    // The folder is %TEMP%\PREFIX-<process id>-<n>, n the first number not
    // taken (a leftover of an earlier process with the same id is passed
    // over). The prefix may hold any characters. Throws std::runtime_error
    // when no folder can be made.
    explicit ScratchFolder(const std::wstring& prefix = L"test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return m_path; } // no trailing backslash
    // Path + "\" + name.
    std::wstring operator/(const std::wstring& name) const;
    // Copies a file in under a new name (keeping its last-write time); the
    // new path.
    std::wstring Copy(const std::wstring& from, const std::wstring& name) const;
    // Writes a file in the folder (the bytes as given); its path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const;
    // A file's bytes, "" when it is not there.
    std::string Read(const std::wstring& name) const;

private:
    std::wstring m_path;
};

} // namespace testsupport
