#!/usr/bin/env python3
"""The 32-bit test groups packed for a Windows machine, and their results
compared with ctest's list (scripts/windows-check runs both).

  windows_check.py pack ARCHIVE
        Runs the host entries of ctest's list for the tests32 preset (the
        signing fixture: a bash script) and writes ARCHIVE, a zip file:
          run.cmd        runs every Wine entry of the list as ctest does:
                         the same program, arguments and environment, in
                         the list's order; prints each group's result and a
                         summary, and exits non-zero on any failure
          groups.txt     the groups run.cmd runs, one a line
          tests\\         the test programs the entries run
          driver\\        the UI driver, for trying a scenario by hand
          dist\\, data\\, linked\\, signed\\, planted\\
                         the files and folders the test programs read (the
                         build's test-paths.txt), the host entries' output
                         among them; run.cmd names each one's place to the
                         programs in its VP_<name> variable
  windows_check.py compare SUMMARY
        Each entry of ctest's list for the tests32 preset with its result in
        SUMMARY (results\\summary.txt, which run.cmd writes); non-zero unless
        every Wine entry is there and passed.

Run from the source tree, after the tests32 build.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EMULATOR = os.path.realpath(os.path.join(ROOT, 'scripts', 'wine32'))
# Properties of a ctest entry that run.cmd carries out or that don't apply to
# a run one group after another. Any other property stops the packing, so
# that nothing ctest does is silently left out.
HANDLED = {'ENVIRONMENT', 'FAIL_REGULAR_EXPRESSION', 'WORKING_DIRECTORY', 'FIXTURES_REQUIRED',
           'FIXTURES_SETUP', 'FIXTURES_CLEANUP', 'DEPENDS', 'RESOURCE_LOCK', 'LABELS', 'TIMEOUT'}
# The heap checks run.cmd switches on for each test program: the tail and
# free checks, 0x10 and 0x20 in its GlobalFlag (what "gflags /i NAME +htc
# +hfc" sets), which do on Windows what WINEDEBUG=warn+heap does under Wine.
# Wine honours the same switch.
HEAP_CHECKS = 0x30


def refuse(message):
    sys.exit('windows-check: ' + message)


def ctest_entries():
    listing = subprocess.run(['ctest', '--preset', 'tests32', '--show-only=json-v1'], cwd=ROOT,
                             stdout=subprocess.PIPE, check=True).stdout
    entries = []
    for test in json.loads(listing)['tests']:
        properties = {p['name']: p['value'] for p in test.get('properties', [])}
        unknown = set(properties) - HANDLED
        if unknown:
            refuse('%s has properties run.cmd does not carry out: %s'
                   % (test['name'], ', '.join(sorted(unknown))))
        command = test['command']
        wine = os.path.realpath(command[0]) == EMULATOR
        entries.append({'name': test['name'], 'wine': wine, 'program': command[1] if wine else None,
                        'arguments': command[2:], 'properties': properties})
    if not entries:
        refuse('ctest lists no tests for the tests32 preset; build it first')
    return entries


def literal(text, what):
    """text for a batch file, inside double quotes."""
    if any(c in text for c in '"\r\n'):
        refuse('%s: %r cannot be passed through run.cmd' % (what, text))
    return text.replace('%', '%%')


def test_paths(directory):
    """[(name, path here, place in the archive)] from the build's test-paths.txt."""
    with open(os.path.join(directory, 'test-paths.txt')) as f:
        return [tuple(line.rstrip('\n').split('\t')) for line in f if line.strip()]


def run_cmd(groups, paths, programs, host_note, digest):
    lines = r'''@echo off
rem Runs the 32-bit test groups of PATCH 1.00B against dist\patch.exe beside
rem this file, prints each group's result and a summary, and exits non-zero
rem on any failure. scripts/windows-check wrote it from ctest's list of the
rem tests32 build; each group is one entry of that list.
rem
rem It needs administrator rights and the Polish system locale (ANSI code
rem page 1250). It changes the machine: it writes the game's key under HKLM,
rem switches on heap checks for the test programs under HKLM, and makes and
rem removes files on C:\. Run it only on a machine you can throw away.
setlocal enableextensions
set "HERE=%~dp0"
set "RESULTS=%~dp0results"
set PASSED=0
set FAILED=0
set FAILED_NAMES=

rem The updater's texts and the tests' folder names, with Polish letters,
rem are in Windows-1250; under another ANSI code page the names differ.
set ACP=
for /f "tokens=3" %%a in ('reg query HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage /v ACP 2^>nul') do set ACP=%%a
if not "%ACP%"=="1250" goto wrong_code_page

rem The tests write the game's key under HKLM. A write there is the check:
rem "net session" fails also for an administrator where the Server service
rem is off.
reg add HKLM\SOFTWARE\VendrakePatchCheck /f >nul 2>&1
if errorlevel 1 goto not_administrator
reg delete HKLM\SOFTWARE\VendrakePatchCheck /f >nul 2>&1

rem Where the test programs find what they read.
'''.splitlines()
    for name, _, place in paths:
        lines.append('set "VP_%s=%%HERE%%%s"' % (name, literal(place.replace('/', '\\'), name)))
    lines += r'''
rem Heap checks: Windows checks the tail and the free blocks of every heap
rem block of these programs, so that the check after each test (HeapValidate)
rem finds a write past an allocation, as WINEDEBUG=warn+heap makes Wine do.
rem Both registry views, for a 64-bit Windows.
set "IFEO=HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Image File Execution Options"
'''.splitlines()
    for program in programs:
        lines.append('reg add "%%IFEO%%\\%s" /v GlobalFlag /t REG_DWORD /d 0x%X /f >nul'
                     % (program, HEAP_CHECKS))
        lines.append('if errorlevel 1 goto not_administrator')
        for view in ('32', '64'):
            lines.append('reg add "%%IFEO%%\\%s" /v GlobalFlag /t REG_DWORD /d 0x%X /f /reg:%s >nul 2>&1'
                         % (program, HEAP_CHECKS, view))
    lines += r'''
rem A test program that crashes ends with a failing exit code instead of
rem waiting at Windows' crash dialog.
reg add "HKCU\Software\Microsoft\Windows\Windows Error Reporting" /v DontShowUI /t REG_DWORD /d 1 /f >nul 2>&1

if "%VP_SMALL_DISK%"=="" echo run.cmd: VP_SMALL_DISK names no small disk: the disk-full tests are skipped
if exist "%RESULTS%" rd /s /q "%RESULTS%"
md "%RESULTS%"
pushd "%HERE%tests"
echo run.cmd: {count} groups against {digest}
'''.replace('{count}', str(len(groups))).replace('{digest}', digest).splitlines()
    for group in groups:
        name = group['name']
        lines += ['', 'rem %s' % name, 'set "NAME=%s"' % literal(name, name), 'setlocal']
        for setting in group['properties'].get('ENVIRONMENT', []):
            lines.append('set "%s"' % literal(setting, name))
        arguments = ''.join(' "%s"' % literal(a, name) for a in group['arguments'])
        lines.append('"%%HERE%%tests\\%s"%s >"%%RESULTS%%\\%s.txt" 2>&1'
                     % (os.path.basename(group['program']), arguments, name))
        failing = group['properties'].get('FAIL_REGULAR_EXPRESSION', [])
        lines.append('endlocal & call :finish %%errorlevel%% %s'
                     % ' '.join('"%s"' % literal(text, name) for text in failing))
    lines += r'''
popd
for %%p in ({programs}) do reg delete "%IFEO%\%%p" /f >nul 2>&1
for %%p in ({programs}) do reg delete "%IFEO%\%%p" /f /reg:32 >nul 2>&1
for %%p in ({programs}) do reg delete "%IFEO%\%%p" /f /reg:64 >nul 2>&1
echo.
echo run.cmd: %PASSED% of {count} groups passed, %FAILED% failed
if not "%FAILED%"=="0" echo run.cmd: failed:%FAILED_NAMES%
echo run.cmd: {hosts}
echo run.cmd: each group's output is in results\
if not "%FAILED%"=="0" exit /b 1
exit /b 0

rem The result of the group NAME from its exit code (%1) and the texts that
rem fail it wherever they stand in its output (%2...).
:finish
set RESULT=passed
if not "%1"=="0" set RESULT=failed
:texts
shift
if "%~1"=="" goto judged
find "%~1" "%RESULTS%\%NAME%.txt" >nul
if not errorlevel 1 set RESULT=failed
goto texts
:judged
set NOTE=
find "[  SKIPPED ]" "%RESULTS%\%NAME%.txt" >nul
if not errorlevel 1 set "NOTE= (some cases skipped)"
set "LINE=%NAME% .................................."
echo %LINE:~0,34% %RESULT%%NOTE%
echo %NAME% %RESULT%>>"%RESULTS%\summary.txt"
if "%RESULT%"=="passed" set /a PASSED+=1
if "%RESULT%"=="passed" exit /b 0
set /a FAILED+=1
set "FAILED_NAMES=%FAILED_NAMES% %NAME%"
type "%RESULTS%\%NAME%.txt"
exit /b 0

:wrong_code_page
echo run.cmd: the system's ANSI code page is %ACP%, not 1250 (Polish).
echo The tests use Polish folder names and texts in Windows-1250. Set the Polish
echo system locale and restart Windows: Settings, Time and language, Language
echo and region, Administrative language settings, Change system locale, Polish
echo (Poland); or, in PowerShell as administrator: Set-WinSystemLocale pl-PL
exit /b 2

:not_administrator
echo run.cmd: this needs administrator rights: the tests write under HKLM.
echo Open a Command Prompt with "Run as administrator" and start run.cmd again.
exit /b 2
'''.replace('{programs}', ' '.join(programs)).replace('{count}', str(len(groups))).replace(
        '{hosts}', literal(host_note, 'host entries')).splitlines()
    return lines


def pack(archive):
    entries = ctest_entries()
    groups = [e for e in entries if e['wine']]
    hosts = [e for e in entries if not e['wine']]
    # The host entries run here; what they set up for the Wine entries is
    # carried in the archive.
    provided = set()
    for host in hosts:
        provided.update(host['properties'].get('FIXTURES_SETUP', []))
    for group in groups:
        missing = set(group['properties'].get('FIXTURES_REQUIRED', [])) - provided
        if missing:
            refuse('%s needs %s, which no host entry sets up' % (group['name'], ', '.join(sorted(missing))))
    if hosts:
        names = '|'.join(re.escape(host['name']) for host in hosts)
        print('windows-check: running here: %s' % ', '.join(host['name'] for host in hosts))
        if subprocess.run(['ctest', '--preset', 'tests32', '-R', '^(%s)$' % names], cwd=ROOT,
                          stdout=subprocess.DEVNULL).returncode:
            refuse('a host entry failed: ctest --preset tests32 -R "^(%s)$" shows it' % names)

    directories = {os.path.dirname(group['program']) for group in groups}
    if len(directories) != 1:
        refuse('the test programs lie in more than one folder: %s' % ', '.join(sorted(directories)))
    directory = directories.pop()
    for group in groups:
        if group['properties'].get('WORKING_DIRECTORY', directory) != directory:
            refuse('%s runs in another folder than its program' % group['name'])
    programs = sorted({os.path.basename(group['program']) for group in groups})
    paths = test_paths(directory)

    members = {}

    def add(place, path):
        if members.setdefault(place, path) != path:
            refuse('%s and %s would both be %s in the archive' % (members[place], path, place))

    for program in programs:
        add('tests/' + program, os.path.join(directory, program))
    add('driver/uidriver.exe', os.path.join(directory, 'driver', 'uidriver.exe'))
    for name, path, place in paths:
        if os.path.isdir(path):
            for base, _, files in os.walk(path):
                for file in files:
                    full = os.path.join(base, file)
                    add(place + '/' + os.path.relpath(full, path).replace(os.sep, '/'), full)
        elif os.path.isfile(path):
            add(place, path)
        else:
            refuse('%s (%s) is missing; build the tests32 preset first' % (path, name))

    host_note = ('%s ran when the archive was packed; its output is in the archive'
                 % ', '.join(host['name'] for host in hosts)) if hosts else 'no host entries'
    tested = {name: (path, place) for name, path, place in paths}['DIST_EXE']
    with open(tested[0], 'rb') as f:
        digest = '%s, SHA-256 %s' % (tested[1].replace('/', '\\'), hashlib.sha256(f.read()).hexdigest())
    script = '\r\n'.join(run_cmd(groups, paths, programs, host_note, digest)) + '\r\n'
    os.makedirs(os.path.dirname(os.path.abspath(archive)), exist_ok=True)
    temporary = archive + '.tmp'
    with zipfile.ZipFile(temporary, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('run.cmd', script.encode('ascii'))
        z.writestr('groups.txt', ''.join(group['name'] + '\r\n' for group in groups))
        for place in sorted(members):
            z.write(members[place], place)
    os.replace(temporary, archive)
    print('windows-check: %s: run.cmd with %d groups against %s; %d files'
          % (archive, len(groups), digest, len(members)))


def compare(summary):
    results = {}
    with open(summary) as f:
        for line in f:
            if line.strip():
                name, result = line.split()
                results[name] = result
    failures = 0
    print('%-28s %s' % ('ctest entry (tests32)', 'run.cmd'))
    for entry in ctest_entries():
        if entry['wine']:
            result = results.pop(entry['name'], 'missing')
            failures += result != 'passed'
        else:
            result = 'run while packing'
        print('%-28s %s' % (entry['name'], result))
    for name, result in sorted(results.items()):
        print('%-28s %s (not in ctest\'s list)' % (name, result))
        failures += 1
    if failures:
        refuse('%d groups did not pass as in scripts/test' % failures)
    print('windows-check: every 32-bit group of scripts/test passed through run.cmd')


def main():
    if len(sys.argv) == 3 and sys.argv[1] == 'pack':
        pack(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == 'compare':
        compare(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
