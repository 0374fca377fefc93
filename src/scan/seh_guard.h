// Calls a function under a structured-exception guard that accepts every
// exception, so a crash inside it is swallowed. Returns 0 when the function
// returned normally, else the code of the exception that ended it.
#pragma once
#include <stdint.h>

typedef void (*GuardedProc)(void* argument);
uint32_t CallGuarded(GuardedProc proc, void* argument);
