// The two answers to a request line that is never scanned: the line could
// not be made for lack of memory, or it was longer than the server
// assembles. Each is one error line and one full report block carrying the
// same text, exactly as the README documents them.
#include "machines.h"
#include "output_capture.h"
#include "scan/scan_request.h"
#include <gtest/gtest.h>

using testsupport::PlatformLine;

namespace {

TEST(RequestFailure, RequestThatCouldNotBeMadeGetsTheOutOfMemoryAnswer)
{
    OutputCapture out;
    HandleScanRequest(nullptr);
    EXPECT_EQ(out.Take(), "error:Out of memory while reading the request\n"
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"Out of memory while reading the request\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  -1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n");
}

TEST(RequestFailure, OversizedRequestGetsTheLongLineAnswer)
{
    OutputCapture out;
    HandleOversizedRequest();
    EXPECT_EQ(out.Take(), "error:Request line longer than 131072 bytes, not scanned\n"
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"Request line longer than 131072 bytes, not scanned\",\n"
                          ">:  \"numInputs\": 0,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  -1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n");
}

} // namespace
