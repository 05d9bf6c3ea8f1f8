// Registers the common control classes (the progress bar among them) with
// comctl32 loaded from the system directory only. The updater is often started
// from a downloads folder; importing comctl32 statically would let a planted
// comctl32.dll beside it be loaded instead.
//
// The manifest asks for the common controls of version 6. Windows then takes
// comctl32.dll by that name from its side-by-side store, not from the system
// directory, and so do the controls the dialog makes; the libraries comctl32
// needs itself (uxtheme.dll) are found in the system directory only, as
// HardenProcess leaves the search.
#include "app/app.h"

#include "base/library.h"

#include <commctrl.h>

namespace {

typedef void(WINAPI *InitCommonControlsFunction)();
typedef BOOL(WINAPI *InitCommonControlsExFunction)(const INITCOMMONCONTROLSEX *);

constexpr WORD kInitCommonControlsOrdinal = 17;

} // namespace

int InitCommonControlsFromSystem()
{
    HMODULE comctl = LoadSystemLibrary("comctl32.dll");
    if (!comctl)
        return 0;
    auto init = reinterpret_cast<InitCommonControlsFunction>(
        reinterpret_cast<void *>(GetProcAddress(comctl, MAKEINTRESOURCEA(kInitCommonControlsOrdinal))));
    if (!init)
        return 0;
    init();
    // Version 6 registers nothing in InitCommonControls; the bar's class is
    // asked for by name.
    auto initEx = reinterpret_cast<InitCommonControlsExFunction>(
        reinterpret_cast<void *>(GetProcAddress(comctl, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    return initEx && initEx(&classes);
}
