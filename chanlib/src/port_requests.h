// Requests to the worker of a port: one command record at a time, handed over
// through the port's wake-up event and answered through its done event; and
// starting and releasing the worker itself.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "chanlib/shared_layout.h"
#include "shared_set.h"

namespace tgx::chanlib {

inline constexpr DWORD kWorkerAnswerTimeoutMs = 60000;
inline constexpr DWORD kWorkerStartTimeoutMs = 60000;

// Hands the record to the worker of the port and waits for its answer, which
// replaces the record. kWorkerTimeout when no answer came in time (scaled in
// tests), else kOk. The caller holds the port's request lock.
int RunPortCommand(SharedSet& set, int port, PortCommandRecord& record);

// The typed requests. Each takes the port's request lock and a transfer buffer
// of the main pool, and answers kNoPoolSpace when there is none; a worker that
// does not answer gives kWorkerTimeout; a port call that failed sets the last
// error to the worker's error and gives the request's failure code.

// Bytes read (kReadFailed on failure).
int PortRead(SharedSet& set, int port, std::span<std::uint8_t> into);
// Bytes written (kWriteFailed). command: kWriteTransaction or kWriteData.
int PortWrite(SharedSet& set, int port, PortCommand command, std::span<const std::uint8_t> data);
// Bytes written straight from a pool buffer, which must be an allocation in use.
int PortWriteFrom(SharedSet& set, int port, PortCommand command, std::int32_t locator,
                  std::uint32_t offset, std::uint32_t length);
// kOk with *returned set, or kIoControlFailed.
int PortIoControl(SharedSet& set, int port, DWORD code, std::span<const std::uint8_t> input,
                  std::span<std::uint8_t> output, DWORD* returned);
// kOk (writeOnly: only write access could be had), or kPortNotOpen.
int PortOpen(SharedSet& set, int port, std::string_view name, bool* writeOnly);
// kOk or kCloseFailed.
int PortClose(SharedSet& set, int port, std::string_view name);
// Asks the worker to end (command 9) and waits for it to say so.
int PortEndWorker(SharedSet& set, int port);

// Makes sure a worker serves the port: this process takes its keep-alive
// mutex, and when no worker runs, one is started ("chanportNT.exe" or
// "chanport95.exe" with "-LPT_INDEX=n") and waited for. kOk, or
// kNotInitialised when it could not be started or did not get ready in time.
int StartPortWorker(SharedSet& set, int port);
// True while a worker serves the port (its presence mutex exists).
bool PortWorkerRunning(int port);
// Lets go of the keep-alive mutex: the worker ends once it has been idle.
void ReleasePortWorker(SharedSet& set, int port);

}  // namespace tgx::chanlib
