#include "server.h"

// The command-line text handed in here is not used: the server splits the
// full wide command line itself.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return ServerMain(instance);
}
