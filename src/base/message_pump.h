// Keeps the badge responsive between the steps of a scan.
#pragma once

// Dispatches the window messages that are waiting (no TranslateMessage).
void PumpMessages();
