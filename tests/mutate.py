#!/usr/bin/env python3
"""Plants small, plausible faults in the updater's code one at a time and runs
the tests on each, to see which faults the tests catch.

  tests/mutate.py [--rev REV] [--work DIR] [--only ID,...] [--tests REGEX] [--list]

Clones REV (default HEAD, of this repository) into DIR (default
build/mutants), then for each fault: edits one file there, runs scripts/test
(ctest stops at the first failure; with --tests, only the ctest entries the
regular expression names), records whether the tests caught the fault, and
puts the file back. The first run builds everything; later ones build only
what the fault touched. Prints a line a fault as it goes, then the score.
The working tree is never touched.

A fault names its file, a snippet and its replacement. The snippet is
matched token by token, whatever the spacing and line breaks between the
tokens, and must stand exactly once in the file.
"""
import argparse
import os
import re
import subprocess
import sys
import time

# (id, file, what the fault does, snippet, replacement)
FAULTS = [
    ('prompt-yes', 'base/prompts.cpp', 'any answer but No counts as Yes',
     'return ShowText(text, kStyleQuestion) == IDYES;', 'return ShowText(text, kStyleQuestion) != IDNO;'),
    ('prompt-owner', 'base/prompts.cpp', 'boxes have no owner',
     'return MessageBoxCall(DialogWindow, text,', 'return MessageBoxCall(nullptr, text,'),
    ('prompt-failhard', 'base/prompts.cpp', 'ReportOrAskF asks when it should fail hard',
     'if (failHard)\n        return ShowErrorF(format, argument);', 'if (!failHard)\n        return ShowErrorF(format, argument);'),
    ('prompt-suffix', 'base/prompts.cpp', 'the continue suffix is left out of questions',
     'memcpy(text + length, kContinueSuffix, sizeof kContinueSuffix);', 'text[length] = 0;'),
    ('discovery-relative', 'discovery/discovery.cpp', 'a relative directory is taken',
     'return (drive || network) && !device;', 'return true;'),
    ('discovery-device', 'discovery/discovery.cpp', 'a directory in a device namespace is taken',
     '&& !device', ''),
    ('discovery-resolved', 'discovery/discovery.cpp', 'a folder Windows resolves elsewhere is taken',
     '&& HasPlainNames(path) && ResolvesToItself(path)', ''),
    ('names-best-fit', 'base/names.cpp', 'names outside the code page are read as look-alikes',
     'strict ? WC_NO_BEST_FIT_CHARS : 0', '0'),
    ('discovery-length', 'discovery/discovery.cpp', 'a folder of 239 characters is taken',
     'strlen(directory) + LongestTargetTail() >= MAX_PATH', 'strlen(directory) + LongestTargetTail() > MAX_PATH'),
    ('discovery-type', 'discovery/discovery.cpp', 'a REG_EXPAND_SZ value is taken',
     'type != REG_SZ || size == 0', 'size == 0'),
    ('discovery-empty', 'discovery/discovery.cpp', 'an empty directory is taken',
     'if (wideLength == 0)', 'if (false)'),
    ('discovery-mirror', 'discovery/mirror.cpp', 'the copies in the VirtualStore are not found',
     'mirror.copy[entry] = found != INVALID_FILE_ATTRIBUTES', 'mirror.copy[entry] = false && found != INVALID_FILE_ATTRIBUTES'),
    ('mirror-link-name', 'discovery/mirror.cpp', "the mirror is looked for under the game folder's own name only",
     'tails[tails[0] ? 1 : 0] = tail;', 'free(tail);'),
    ('player-session', 'discovery/player.cpp', 'the folders of the player at the screen are never taken',
     'wcscpy(playerSid, answers.sessionSid);\n        wcscpy(playerLocalAppData, local);', ''),
    ('registry-copies', 'patch/registry.cpp', "the copies of the game's key in the player's hive are not written",
     'if (!written || !WriteStoredCopies(entry, size))', 'if (!written)'),
    ('registry-copy-link', 'patch/registry.cpp', "a copy of the game's key is written through a link in the player's hive",
     '!IsNamed(key.Get(), full) ||', ''),
    ('discovery-separator', 'discovery/discovery.cpp', 'no backslash behind the directory',
     'strcat(next, "\\\\");', ''),
    ('payload-padding', 'patch/payload.cpp', '8 bytes of padding in front of the payload are taken',
     'position - imageEnd < 8', 'position - imageEnd <= 8'),
    ('payload-index', 'patch/payload.cpp', 'an index behind the last chunk is walked into',
     '|| index >= chunkCount', ''),
    ('payload-zero', 'patch/payload.cpp', "padding needn't be zero",
     'if (bytes[i] != 0)\n            return false;', ''),
    ('payload-ambiguous', 'patch/payload.cpp', 'a signed file that two paddings fit is taken',
     'return fits == 1;', 'return fits >= 1;'),
    ('payload-flush', 'base/door.cpp', 'the menu-text copy ignores the flush of its last data',
     'return stream_ && fflush(stream_) == 0 && !ferror(stream_) &&', 'return stream_ &&'),
    ('payload-temporary', 'base/door.cpp', 'the temporary file stays after a failure',
     'Dispose(HandleOf(stream_));', ''),
    ('payload-read-only', 'patch/extract.cpp', 'a read-only menu-text file is replaced',
     '!(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))', '!(attributes & FILE_ATTRIBUTE_DIRECTORY)'),
    ('payload-own-name', 'patch/payload.cpp', 'the updater opens itself by its ANSI name',
     'ownFile = CreateFileW(reinterpret_cast<const wchar_t *>(path.Get()),', 'ownFile = CreateFileA(GetOwnExePath(),'),
    ('payload-by-name', 'patch/payload.cpp', "the payload is read from whatever file bears the updater's name",
     'FILE *stream = StreamOnHandle(duplicate, "rb");', 'FILE *stream = _wfopen(GetOwnExePathW(), L"rb");'),
    ('payload-proof', 'patch/payload.cpp', 'any file is taken for the one the running image was mapped from',
     'bool proven = same(const_cast<void *>(imageBase), view) == 0;', 'bool proven = same != nullptr;'),
    ('payload-unc', 'patch/extract.cpp', "the folder walk probes a network path's server",
     'return share ? static_cast<size_t>(share - path) + 1 : length;', 'return 2;'),
    ('payload-cwd', 'patch/extract.cpp', 'EnsureDirectories leaves the working directory moved',
     'if (_chdir(saved) != 0)\n        return ShowErrorF(kCannotWrite, path);', ''),
    ('bytepatch-flush', 'patch/bytepatch.cpp', 'the byte pokes ignore the result of closing',
     'if (file.Close() != 0)', 'if (file.Close() != 0 && false)'),
    ('bytepatch-limit', 'patch/bytepatch.cpp', 'the last reachable offset is refused',
     'record.offset > 0x7FFFFFFFu', 'record.offset >= 0x7FFFFFFFu'),
    ('bytepatch-continue', 'patch/bytepatch.cpp', "a failed record doesn't stop the table",
     'fputc(record.value, file.Get()) == EOF', 'false'),
    ('replace-overlap', 'patch/search.cpp', 'the scan resumes inside a replaced occurrence',
     'p = found + needle.length;', 'p = found + 1;'),
    ('replace-carry', 'patch/rewrite.cpp', 'nothing is carried across a block boundary',
     'carried = filled - position;', 'carried = 0;'),
    ('replace-gap', 'patch/rewrite.cpp', 'a far change is written at the wrong place',
     'writer.windowStart + static_cast<long long>(begin), SEEK_SET)', 'writer.windowStart + static_cast<long long>(begin) + 1, SEEK_SET)'),
    ('replace-size', 'base/door.cpp', 'the size of a saved game goes through 32 bits',
     '*size = length.QuadPart;', '*size = static_cast<long>(length.QuadPart);'),
    ('replace-times', 'patch/rewrite.cpp', 'the time stamps are not put back',
     'Rewrite(fileName, replacement, pattern, length, failHard, keepTimes != 0, nullptr, &done)', 'Rewrite(fileName, replacement, pattern, length, failHard, false, nullptr, &done)'),
    ('replace-sharing', 'patch/rewrite.cpp', 'a saved game another program holds for writing is rewritten',
     'GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NameFrom::Listing', 'GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NameFrom::Listing'),
    ('replace-sse2-lane', 'patch/search.cpp', 'the SSE2 search misplaces its third lane',
     'static_cast<uint64_t>(_mm_movemask_epi8(m2)) << 32', 'static_cast<uint64_t>(_mm_movemask_epi8(m2)) << 31'),
    ('replace-avx2-half', 'patch/search.cpp', 'the AVX2 search misplaces its second half',
     'FindCandidates(buffer, p + 64 * half, mask, needle)', 'FindCandidates(buffer, p + 32 * half, mask, needle)'),
    ('replace-write-gap', 'patch/search.cpp', 'changes far apart in one block are not all written',
     'if (!flush(context, *dirtyBegin, *dirtyEnd))\n                    return false;\n                *dirtyBegin = *dirtyEnd;', '*dirtyBegin = *dirtyEnd;'),
    ('filelist-slot', 'patch/filelist.cpp', 'one slot too few in the saved-game list',
     '(entryCount + 2) * sizeof *entries', '(entryCount + 1) * sizeof *entries'),
    ('filelist-empty', 'patch/filelist.cpp', 'a stopped walk keeps its list',
     'if (enumerated)\n        ReleaseFileList();', ''),
    ('walk-directories', 'patch/walk.cpp', 'matching directories are listed',
     'if (wide.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)\n            continue;', ''),
    ('walk-length', 'patch/walk.cpp', 'a name of 260 characters is taken',
     'prefixLength + strlen(name.Get()) >= MAX_PATH', 'prefixLength + strlen(name.Get()) > MAX_PATH'),
    ('walk-best-fit', 'patch/walk.cpp', "a saved game's name outside the code page is read as a look-alike",
     'if (!exact || prefixLength', 'if (prefixLength'),
    ('registry-size', 'patch/registry.cpp', 'the value is stored without its terminator',
     'strlen(entry.data) + 1', 'strlen(entry.data)'),
    ('registry-open', 'patch/registry.cpp', "a key that can't be opened is skipped",
     'return ShowError(kRegistryCannotModify);', 'continue;'),
    ('dll-search', 'app/hardening.cpp', 'the library search is not restricted',
     'setDefault(kSearchSystem32);', ';'),
    ('prompt-pending', 'base/prompts.cpp', 'a box comes over a log and a bar not brought up to date',
     'if (BeforeBoxCall)\n        BeforeBoxCall();', ''),
    ('dialog-done-pending', 'dialog/progress.cpp', 'the finished state shows a log not brought up to date',
     'ShowPending(window);\n    SetItemText(window, IDC_STATUS, kStatusDone);', 'SetItemText(window, IDC_STATUS, kStatusDone);'),
    ('dialog-status-ansi', 'dialog/progress.cpp', 'the finished status is shown through the ANSI call again',
     'SetItemText(window, IDC_STATUS, kStatusDone);', 'SetDlgItemTextA(window, IDC_STATUS, kStatusDone);'),
    ('dialog-limit', 'dialog/progress.cpp', "the log keeps the edit control's default limit",
     'SendDlgItemMessageW(window, IDC_LOG, EM_SETLIMITTEXT, 0, 0);', ''),
    ('dialog-range', 'dialog/progress.cpp', 'the bar leaves the saved games out of its range',
     '0, kUpdateStepCount + MirrorCopyCount() + entryCount);', '0, kUpdateStepCount + MirrorCopyCount());'),
    ('dialog-answering', 'dialog/progress.cpp', "the dialog answers nothing while a step's file work runs",
     'WhileWorkingCall = KeepAnswering;', 'WhileWorkingCall = nullptr;'),
    ('dialog-cancel', 'dialog/progress.cpp', 'the close box closes without asking',
     'if (!updateFailed && !updateDone && (!AskYesNo(kCancelQuestion) || !IsWindow(window)))', 'if (false)'),
    ('dialog-finish', 'dialog/progress.cpp', 'the finished state leaves the button disabled',
     'EnableWindow(finish, TRUE);', ''),
    ('loop-escape', 'app/loop.cpp', 'Esc reaches the dialog manager',
     'if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE', 'if (false && message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE'),
    ('startup-payload', 'app/main.cpp', 'a damaged payload is found only by the extraction step',
     'VerifyPayloadChunk(0) &&', ''),
    ('chain-skipped', 'dialog/chain.cpp', 'a saved game left as it was is logged " OK"',
     'complete ? kLogOk : kLogSkipped', 'kLogOk'),
    ('chain-copy', 'dialog/chain.cpp', 'a copy in the VirtualStore gets no step of its own',
     'if (step->target && next < kMirrorCount)', 'if (false)'),
    ('door-inside', 'base/door.cpp', 'a file reached through a link is written',
     'if (!IsItself(finalPath, opened, from == NameFrom::Listing))', 'if (false)'),
    ('door-case', 'base/door_tree.cpp', 'a final path is taken for the folder opened whatever its letter case',
     'return wcsncmp(final, opened, folder) == 0 &&', 'return _wcsnicmp(final, opened, folder) == 0 &&'),
    ('door-last-name', 'base/door_tree.cpp', 'a link to another file in the same folder is written',
     '(exactName ? wcscmp(final + folder, name) == 0\n : CompareStringOrdinal(final + folder, -1, name, -1, TRUE) == CSTR_EQUAL)', 'true'),
    ('door-folder-itself', 'base/door_tree.cpp', 'a folder that is a link to another folder inside is written into',
     'if (*refusal == Refusal::None && !IsItself(folder.final, opened, false))', 'if (false)'),
    ('door-one-name', 'base/door.cpp', 'a file with a second name is written',
     'info.NumberOfLinks == 1)', 'true)'),
    ('door-folder', 'base/door.cpp', 'a folder is taken for a file',
     'if (counted && info.Directory)\n        return Refusal::Unsafe;', ''),
    ('door-once', 'base/door.cpp', 'a file written before in the run is written again',
     'if (once && WrittenBefore(finalPath))', 'if (false)'),
    # Wine refuses to rename the held folder itself too, and so this bites
    # there; only the folder above it is held on Windows alone.
    ('door-held', 'base/door_tree.cpp', 'folders are held with delete sharing, so they can be renamed away',
     'FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,', 'FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,'),
    # Wine's SetProcessMitigationPolicy is a stub: only a run on Windows
    # (scripts/windows-check) shows the guard.
    ('door-guard', 'app/hardening.cpp', "Windows' redirection guard is not turned on (bites on Windows only)",
     'setPolicy(kRedirectionTrustPolicy, &flags, sizeof flags);', ';'),
    ('discovery-mirror-link', 'discovery/mirror.cpp', 'a mirror linked elsewhere is taken',
     'if (!root || wcsncmp(root, mirror.place, mirror.storeLength) != 0 ||\n CompareStringOrdinal(root + mirror.storeLength, -1, mirror.place + mirror.storeLength, -1, TRUE) !=\n CSTR_EQUAL) {', 'if (!root) {'),
    ('startup-trees', 'app/main.cpp', 'the update runs with no tree fixed',
     '&& FixUpdateTrees()', ''),
    ('startup-in-use', 'app/main.cpp', 'a file the running game holds is found only at its step',
     'CheckTargetsFree() &&', ''),
    ('extract-in-use', 'patch/extract.cpp', 'a menu-text file another program holds is found only at its step',
     'OpenToChange(targetPath, DELETE,', 'OpenToChange(targetPath, FILE_READ_ATTRIBUTES,'),
    ('filelist-extension', 'patch/filelist.cpp', 'names that only their short name matches are taken for saved games',
     'if (job.extension && (!dot || _stricmp(dot + 1, job.extension) != 0))', 'if (false)'),
    ('folder-junction', 'discovery/discovery.cpp', "a junction Windows won't follow is said as a folder not found",
     'error == kUntrustedMountPoint ? kJunctionUntrusted : kDirectoryNotFound', 'kDirectoryNotFound'),
    ('folder-drive', 'discovery/discovery.cpp', "a drive only the player's session has is said as a folder not found",
     'if (driveType == DRIVE_NO_ROOT_DIR &&', 'if (false &&'),
    ('chain-failed', 'dialog/chain.cpp', "a failing step doesn't mark the update failed",
     'updateFailed = 1;', ''),
    ('banner-scale', 'dialog/progress.cpp', "the banner keeps the template's bitmap at every DPI",
     'if (dpi != USER_DEFAULT_SCREEN_DPI)\n        ScaleBanner(window, dpi);', ''),
]


def pattern(snippet):
    """A regular expression for snippet, whatever the spacing between its tokens."""
    tokens = re.findall(r'\w+|\S', snippet)
    parts = []
    for i, token in enumerate(tokens):
        if i:
            words = re.match(r'\w', tokens[i - 1]) and re.match(r'\w', token)
            parts.append(r'\s+' if words else r'\s*')
        parts.append(re.escape(token))
    return ''.join(parts)


def plant(path, snippet, replacement):
    """The file's text with the fault planted, or None when the snippet doesn't stand once."""
    with open(path, encoding='utf-8') as f:
        text = f.read()
    found = list(re.finditer(pattern(snippet), text))
    if len(found) != 1:
        return None
    return text[:found[0].start()] + replacement + text[found[0].end():]


def run(command, cwd, log):
    with open(log, 'w') as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--rev', default='HEAD')
    parser.add_argument('--work', default='build/mutants')
    parser.add_argument('--only', default='')
    parser.add_argument('--tests', default='')
    parser.add_argument('--list', action='store_true')
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults = [f for f in FAULTS if not args.only or f[0] in args.only.split(',')]
    if args.list:
        for ident, path, what, _, _ in faults:
            print('%-22s %-26s %s' % (ident, path, what))
        return

    work = os.path.abspath(os.path.join(root, args.work))
    tree = os.path.join(work, 'tree')
    revision = subprocess.run(['git', 'rev-parse', args.rev], cwd=root, check=True, stdout=subprocess.PIPE,
                              text=True).stdout.strip()
    if not os.path.isdir(tree):
        subprocess.run(['git', 'clone', '-q', root, tree], check=True)
    subprocess.run(['git', 'fetch', '-q', root], cwd=tree, check=True)
    subprocess.run(['git', 'checkout', '-q', '--force', revision], cwd=tree, check=True)
    subprocess.run(['git', 'clean', '-q', '-fd'], cwd=tree, check=True)
    test = ['scripts/test', '--stop-on-failure'] + (['-R', args.tests] if args.tests else [])
    if run(test, tree, os.path.join(work, 'unchanged.log')) != 0:
        sys.exit('mutate: the tests fail without any fault (%s)' % os.path.join(work, 'unchanged.log'))

    caught, missed, unplanted = [], [], []
    for ident, path, what, snippet, replacement in faults:
        target = os.path.join(tree, path)
        planted = plant(target, snippet, replacement) if os.path.exists(target) else None
        if planted is None:
            unplanted.append(ident)
            print('%-22s not planted: the snippet doesn\'t stand once in %s' % (ident, path), flush=True)
            continue
        with open(target, 'w', encoding='utf-8') as f:
            f.write(planted)
        # Laid out as clang-format would, so that the tests' format check
        # passes and the tests themselves run.
        subprocess.run(['clang-format', '-i', target], check=False)
        start = time.time()
        status = run(test, tree, os.path.join(work, ident + '.log'))
        subprocess.run(['git', 'checkout', '-q', '--', path], cwd=tree, check=True)
        with open(os.path.join(work, ident + '.log'), errors='replace') as f:
            tested = 'Test project' in f.read()
        if status and not tested:
            unplanted.append(ident)
            print('%-22s does not build: see %s' % (ident, os.path.join(work, ident + '.log')), flush=True)
            continue
        (caught if status else missed).append(ident)
        print('%-22s %-6s %4.0f s  %s' % (ident, 'caught' if status else 'MISSED', time.time() - start, what),
              flush=True)
    # Build once more without a fault, so that nothing planted stays built.
    run(['scripts/build', '--tests'], tree, os.path.join(work, 'rebuild.log'))
    planted = len(caught) + len(missed)
    print('score: %d of %d planted faults caught (%.0f%%)%s' %
          (len(caught), planted, 100.0 * len(caught) / max(planted, 1),
           '; not planted or not built: ' + ', '.join(unplanted) if unplanted else ''))
    if missed:
        print('missed: ' + ', '.join(missed))


if __name__ == '__main__':
    main()
