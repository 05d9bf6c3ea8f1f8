// Times the whole update as a player runs it, on a sample installation with
// 200 saved games of 1 MiB each, against a plain copy of the same saved games
// in the same run. The UI driver starts and answers the updater twice, on
// fresh installations without saved games and with all of them; the
// difference of the two chains, divided by the number of saved games, is the
// time per saved game. The chain is timed from the dialog's first appearance
// to its finished state, as the driver sees them (every 2 ms). For
// comparison, the same run also times the file work of a saved game's step
// alone (ReplaceInFileKeepTimes called in this process, no dialog) and a
// plain copy of the same saved games. Each figure is the best of three
// rounds.
//
//   bench_update UPDATER [SAVES [KIB]]    defaults: 200 saved games of 1,024 KiB
//
// It sets the game's "PATH" in the registry for the runs and removes the key
// afterwards when there was none before. Needs a display (scripts/bench).
#include "base/holders.h"
#include "base/prompts.h"
#include "discovery/discovery.h"
#include "patch/patch.h"
#include "bench/bench_support.h"
#include "tests/driver/driver.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char kRecord[] = "Procesor\0Procesor"; // 18 bytes with the final NUL

struct Random {
    unsigned state;
    unsigned char Next()
    {
        state = state * 1103515245u + 12345u;
        return static_cast<unsigned char>(state >> 16);
    }
};

bool WriteBytes(const std::string &path, const std::vector<unsigned char> &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

void MakeDirectories(const std::string &path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + "\\" + name);
            else
                DeleteFileA((path + "\\" + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// Random bytes with the record the update rewrites four times, once across
// a 4,096-byte boundary.
std::vector<unsigned char> SavedGame(unsigned index, size_t size)
{
    Random random = {index * 2654435761u + 1};
    std::vector<unsigned char> bytes(size);
    for (unsigned char &byte : bytes)
        byte = random.Next();
    for (size_t offset : {size_t(100), size_t(4096 - 9), size / 2, size - 18})
        if (offset + 18 <= size)
            memcpy(&bytes[offset], kRecord, 18);
    return bytes;
}

std::string SavePath(const std::string &directory, unsigned index)
{
    char name[32];
    snprintf(name, sizeof name, "\\save\\gra%03u.SAV", index);
    return directory + name;
}

// The game's files (as big as the update needs) and `saves` saved games.
bool MakeInstallation(const std::string &directory, unsigned saves, size_t saveSize)
{
    RemoveTree(directory);
    Random random = {7};
    for (unsigned entry = 1; entry < kEntrySaveWildcard; ++entry) {
        std::string path = directory + "\\" + kRelativeTargetPaths[entry];
        MakeDirectories(path.substr(0, path.rfind('\\')));
        std::vector<unsigned char> bytes(entry == kEntryMenuText ? 100000 : 64 * 1024);
        for (unsigned char &byte : bytes)
            byte = random.Next();
        if (!WriteBytes(path, bytes))
            return false;
    }
    MakeDirectories(directory + "\\save");
    for (unsigned i = 0; i < saves; ++i)
        if (!WriteBytes(SavePath(directory, i), SavedGame(i, saveSize)))
            return false;
    return true;
}

REGSAM UpdaterView(const std::string &updater)
{
    DWORD type = 0;
    if (!GetBinaryTypeA(updater.c_str(), &type))
        return 0;
    return type == SCS_64BIT_BINARY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool SetGamePath(REGSAM view, const std::string &directory)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, "PATH", 0, REG_SZ, reinterpret_cast<const BYTE *>(directory.c_str()),
                                 static_cast<DWORD>(directory.size() + 1));
    RegDeleteValueA(key, "Guid");
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Seconds from the dialog's first appearance to its finished state; negative
// when the run did not go through.
double TimeChain(const std::string &updater)
{
    DriverOptions options;
    options.exe = updater;
    options.answers = {"yes"};
    options.actions = {"dialog", "wait-done", "press-finish", "wait-exit"};
    options.timeoutSeconds = 1800;
    options.pollMilliseconds = 2;
    DriverResult result = RunDriver(options);
    if (!result.error.empty() || result.snapshots.size() < 2 || result.snapshots[1].status != kStatusDone) {
        fprintf(stderr, "bench_update: the update did not finish: %s\n", result.error.c_str());
        for (const std::string &line : result.lines)
            fprintf(stderr, "  %s\n", line.c_str());
        return -1;
    }
    return (result.snapshots[1].milliseconds - result.snapshots[0].milliseconds) / 1000.0;
}

// The smaller of two times, where a negative one stands for none yet.
double Best(double best, double seconds)
{
    return best < 0 || seconds < best ? seconds : best;
}

constexpr unsigned kRounds = 3;

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_update UPDATER [SAVES [KIB]]\n");
        return 2;
    }
    const std::string updater = argv[1];
    const unsigned saves = argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 200;
    const size_t saveSize = (argc > 3 ? static_cast<size_t>(atoi(argv[3])) : 1024) * 1024;
    if (saves == 0 || saveSize < 4096) {
        fprintf(stderr, "bench_update: at least one saved game of at least 4 KiB\n");
        return 2;
    }

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "vp-bench-update";
    const std::string directory = root + "\\Vendrake II PL";
    const REGSAM view = UpdaterView(updater);
    HKEY existing;
    const bool keyExisted =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_READ | view, &existing) == ERROR_SUCCESS;
    if (keyExisted)
        RegCloseKey(existing);
    if (!view || !SetGamePath(view, directory)) {
        fprintf(stderr, "bench_update: cannot set the game's key for %s\n", updater.c_str());
        return 1;
    }

    // Each figure is the best of kRounds, every round on a fresh
    // installation: single runs on a shared machine scatter widely.
    int status = 1;
    double without = -1, with = -1, work = -1, copy = -1;
    bool ok = true;
    for (unsigned round = 0; round < kRounds && ok; ++round) {
        double seconds = -1;
        ok = MakeInstallation(directory, 0, saveSize) && (seconds = TimeChain(updater)) >= 0;
        without = Best(without, seconds);
        ok = ok && MakeInstallation(directory, saves, saveSize) && (seconds = TimeChain(updater)) >= 0;
        with = Best(with, seconds);
        if (ok && (ok = MakeInstallation(directory, saves, saveSize))) {
            // The file work of the saved games' steps alone, on the same
            // saved games as the update found them.
            MessageBoxCall = PrintBox;
            double start = Seconds();
            for (unsigned i = 0; i < saves && ok; ++i)
                ok = ReplaceInFileKeepTimes(SavePath(directory, i).c_str(), kSaveRuleReplacement,
                                            kSavePattern, kSaveRuleLength, 0, 1) != 0;
            work = Best(work, Seconds() - start);
        }
        if (ok && (ok = MakeInstallation(directory, saves, saveSize))) {
            // The same saved games copied whole.
            const std::string copies = root + "\\kopie";
            RemoveTree(copies);
            MakeDirectories(copies);
            double start = Seconds();
            for (unsigned i = 0; i < saves && ok; ++i)
                ok = CopyFileA(SavePath(directory, i).c_str(), (copies + "\\" + std::to_string(i)).c_str(),
                               FALSE) != 0;
            copy = Best(copy, Seconds() - start);
        }
    }
    if (ok) {
        const double perSave = (with - without) / saves, mib = saveSize / 1048576.0;
        printf("saved games: %u of %u KiB, best of %u rounds\n", saves,
               static_cast<unsigned>(saveSize / 1024), kRounds);
        printf("update without saved games:   %7.2f s\n", without);
        printf("update with them:             %7.2f s\n", with);
        printf("per saved game, whole step:   %7.2f ms (%5.0f MiB/s)\n", perSave * 1000, mib / perSave);
        printf("per saved game, file work:    %7.2f ms (%5.0f MiB/s)\n", work / saves * 1000,
               mib / (work / saves));
        printf("per saved game, plain copy:   %7.2f ms (%5.0f MiB/s)\n", copy / saves * 1000,
               mib / (copy / saves));
        printf("ratio whole step/file work %.2f, whole step/copy %.2f, file work/copy %.2f\n",
               perSave / (work / saves), perSave / (copy / saves), work / copy);
        status = 0;
    }

    RemoveTree(root);
    if (!keyExisted)
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, view, 0);
    return status;
}
