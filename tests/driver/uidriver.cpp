// uidriver: runs a GUI program under the UI driver from the command line and
// prints the transcript, for trying a scenario by hand or from a script.
//
//   uidriver.exe [--timeout S] [--cwd DIR] [--answers yes,no,...] [--args "..."] EXE [ACTION ...]
//
// Exit status 0 when the run went as scripted (no problem, no time-out), else 1;
// the problems go to stderr.
#include "tests/driver/driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

std::vector<std::string> SplitAtCommas(const std::string &list)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (comma > start)
            parts.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return parts;
}

int Usage()
{
    fprintf(stderr,
            "usage: uidriver [--timeout S] [--cwd DIR] [--answers yes,no,...] [--args \"...\"] "
            "EXE [ACTION ...]\n"
            "actions: dialog snapshot wait-done watch-done wait-gone press-finish close-box send-close "
            "wait-log:TEXT escape sleep:MS signal:PATH wait-exit\n");
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    DriverOptions options;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (i + 1 >= argc)
            return Usage();
        std::string option = argv[i];
        const char *value = argv[++i];
        if (option == "--timeout")
            options.timeoutSeconds = static_cast<unsigned>(strtoul(value, nullptr, 10));
        else if (option == "--cwd")
            options.workingDirectory = value;
        else if (option == "--answers")
            options.answers = SplitAtCommas(value);
        else if (option == "--args")
            options.arguments = value;
        else
            return Usage();
    }
    if (i >= argc)
        return Usage();
    options.exe = argv[i++];
    for (; i < argc; ++i)
        options.actions.push_back(argv[i]);

    DriverResult result = RunDriver(options);
    for (const std::string &line : result.lines)
        printf("%s\n", line.c_str());
    fflush(stdout);
    if (!result.error.empty())
        fprintf(stderr, "uidriver: %s\n", result.error.c_str());
    return result.error.empty() && !result.timedOut ? 0 : 1;
}
