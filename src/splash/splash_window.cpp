#include "splash_window.h"
// Placeholder until the badge lands.
void CreateSplashWindow(HINSTANCE, HWND) {}
