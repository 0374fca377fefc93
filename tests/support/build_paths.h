// Where the build put what the tests run: every program in one bin folder
// (the test programs too), the fixture plugins in bin\plugins and the
// bundled samples in bin\samples.
#pragma once
#include <string>

namespace testsupport {

// A file in the folder of the running program: bin\NAME.
std::wstring BinPath(const std::wstring& name);
// bin\plugins\NAME.dll
std::wstring FixturePath(const std::wstring& name);
// bin\samples\NAME.dll
std::wstring SamplePath(const std::wstring& name);

} // namespace testsupport
