// Loads comctl32.dll by name, as any later load of a library would, after
// restricting the search the way the updater does first thing when given
// --restricted. Run beside the planted library, it shows whether the
// restriction keeps a library from the program's folder out.
#include "app/app.h"

#include <string.h>

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--restricted") == 0)
        HardenProcess();
    return LoadLibraryA("comctl32.dll") ? 0 : 1;
}
