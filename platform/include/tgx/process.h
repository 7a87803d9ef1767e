// Starting, waiting for and ending processes (CreateProcessA, GetExitCodeProcess,
// TerminateProcess).
//
// The command line is split into arguments by the Windows rules (white space
// separates, double quotes group, backslashes escape only before a quote). Its
// first word names the program; with no application name it is looked for in
// the starter's own directory (of the program or shared library whose code
// makes the call) first, then along PATH; a name that holds a "/" is
// taken as it stands. A ".exe" ending names the same program without it
// ("chanportNT.exe" starts build/bin/chanportNT).
//
// A started process is a kernel object: WaitForSingleObject on its handle waits
// for it to end. Processes are never left as zombies: the handle reaps its
// process when it sees it end, and a handle closed before then hands the process
// to a reaper thread of the platform. A started process outlives its starter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tgx/handle.h"
#include "tgx/library.h"
#include "tgx/security.h"
#include "tgx/win32.h"

namespace tgx {

// Creation flags.
inline constexpr DWORD DETACHED_PROCESS = 0x00000008;  // new session, std streams on /dev/null
inline constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x00000200;  // own process group
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;     // accepted, no effect
inline constexpr DWORD CREATE_NO_WINDOW = 0x08000000;          // accepted, no effect

// Exit code of a process that is still running.
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD PROCESS_ALL_ACCESS = 0x001F0FFF;

// Start-up information: kept in shape for the callers; nothing in it changes how
// a process starts on Linux.
inline constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
inline constexpr DWORD STARTF_USECOUNTCHARS = 0x00000008;
inline constexpr WORD SW_HIDE = 0;

struct STARTUPINFOA {
  DWORD cb = sizeof(STARTUPINFOA);
  DWORD dwX = 0;
  DWORD dwY = 0;
  DWORD dwXSize = 0;
  DWORD dwYSize = 0;
  DWORD dwXCountChars = 0;
  DWORD dwYCountChars = 0;
  DWORD dwFlags = 0;
  WORD wShowWindow = 0;
};

// The start-up information of the calling process (all defaults).
void GetStartupInfoA(STARTUPINFOA* startupInfo);

// What CreateProcessA gives back. There are no separate thread objects: the
// thread identifier is that of the new process's main thread.
struct PROCESS_INFORMATION {
  Handle hProcess;
  DWORD dwProcessId = 0;
  DWORD dwThreadId = 0;
};

// Starts a program. applicationName, when given, is the program file (used as
// it stands, no search) and commandLine then gives all arguments including the
// first; otherwise the first word of commandLine is searched as described above.
// inheritHandles FALSE closes every descriptor above 2 in the new process.
// environment, when given, is a Windows environment block ("A=1\0B=2\0\0"), else
// the caller's environment is used; currentDirectory, when given, is the new
// process's working directory. creationFlags: DETACHED_PROCESS puts the process
// in a session of its own with standard streams on /dev/null;
// CREATE_NEW_PROCESS_GROUP puts it in a process group of its own. Security
// attributes are accepted for shape only.
//
// Fails with ERROR_FILE_NOT_FOUND (no such program), ERROR_ACCESS_DENIED (not
// executable), ERROR_INVALID_PARAMETER (no program name, bad arguments) or the
// nearest code of the system error; the information is then left empty.
BOOL CreateProcessA(const char* applicationName, const char* commandLine,
                    const SECURITY_ATTRIBUTES* processAttributes,
                    const SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles,
                    DWORD creationFlags, const char* environment, const char* currentDirectory,
                    const STARTUPINFOA* startupInfo, PROCESS_INFORMATION* processInformation,
                    const void* starter = detail::CallingModule());

// The process's exit code, or STILL_ACTIVE while it runs. A process ended by
// TerminateProcess through this handle reports the code given there; one ended
// by another signal reports 128 + the signal number. Fails with
// ERROR_INVALID_HANDLE when the handle is not a process.
BOOL GetExitCodeProcess(const Handle& process, DWORD* exitCode);

// Kills the process (SIGKILL); its exit code becomes exitCode. Fails with
// ERROR_ACCESS_DENIED when the process has already ended.
BOOL TerminateProcess(const Handle& process, UINT exitCode);

// The process identifier behind a process handle; 0 if it is not one.
DWORD GetProcessId(const Handle& process);

// Splits a command line into arguments by the Windows rules (see above).
// Exposed for the programs that read their own command line the Windows way.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace tgx
