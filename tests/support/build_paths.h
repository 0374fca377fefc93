// Where the build put what the tests run: every program in one bin folder
// (the test programs too), the fixture plugins in bin\plugins and the
// bundled samples in bin\samples. The 32-bit build's fixtures are in
// bin\x86\ with the same layout (machines.h): the fixture paths below are
// those of the machine under test.
#pragma once
#include <string>

namespace testsupport {

// A file in the folder of the running program: bin\NAME.
std::wstring BinPath(const std::wstring& name);
// A file of the fixture build of the machine under test: bin\NAME, or
// bin\x86\NAME when a 64-bit program tests the 32-bit server.
std::wstring FixtureBinPath(const std::wstring& name);
// bin\plugins\NAME.dll (of the machine under test)
std::wstring FixturePath(const std::wstring& name);
// bin\samples\NAME.dll (of the machine under test)
std::wstring SamplePath(const std::wstring& name);

} // namespace testsupport
