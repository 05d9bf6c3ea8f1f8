// A program that imports comctl32 statically, as the updater must not: run
// beside the planted library it loads it, which shows that the planted
// library and the loader settings of the test do what the test assumes.
#include <windows.h>

#include <commctrl.h>

int main()
{
    InitCommonControls();
    return 0;
}
