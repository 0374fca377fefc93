// The request loop: "ready:", one request line from InputHandle, its
// answer, until the host closes the pipe.
#pragma once

void RunRequestLoop();
