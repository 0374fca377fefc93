// A trivial program of the 32-bit build: whether 32-bit programs run here
// at all (machines.h), asked of something that is not the server, so that a
// broken server fails its tests instead of skipping them. Its exit code is
// the size of its pointers.
int main()
{
    return (int)sizeof(void*);
}
