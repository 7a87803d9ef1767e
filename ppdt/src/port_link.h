// This process's link to the shared objects of the 1394 transport: the port
// table, and per port the request block, its two events and its access mutex.
// Through it a request reaches a port's worker, and a worker is started.
#pragma once

#include <cstdint>
#include <memory>

#include "ppdt_shared.h"
#include "tgx/handle.h"
#include "tgx/kobj.h"
#include "tgx/named_objects.h"

namespace tgx::ppdt {

// Results of the port functions.
inline constexpr int kOk = 0;
inline constexpr int kErrDevice = -1;
inline constexpr int kErrNotInitialized = -2;
inline constexpr int kErrInitFailed = -3;
inline constexpr int kErrArgument = -4;
inline constexpr int kErrHandle = -5;
inline constexpr int kErrNoMemory = -6;
inline constexpr int kErrDevNotExist = -8;
inline constexpr int kErrNoSession = -9;
inline constexpr int kErrSession = -10;
inline constexpr int kErrNoPort = -13;
inline constexpr int kErrWorkerStart = -14;
inline constexpr int kErrTimeout = -16;
inline constexpr int kErrBusy = -17;

// How long a request may wait for its answer, and a new worker for its ready
// signal, before the worker counts as failed.
inline constexpr DWORD kRequestTimeoutMs = 300000;
inline constexpr DWORD kWorkerStartTimeoutMs = 30000;

class PortLink {
 public:
  // Opens the set of shared objects, creating them when this process is the
  // first. Null when any of them fails; whatever was obtained is then closed
  // again in reverse order.
  static std::unique_ptr<PortLink> Connect(const ObjectNameForm& names);

  // The table mutex: held for an open or release of a port, worker start included.
  const Handle& tableMutex() const { return tableMutex_; }
  PortTable table() const { return PortTable(tableView_.data()); }

  // Posts one request to the port's worker and waits for the answer (the
  // request-block protocol): 0, or -4, -8, -16, -17, -1. Lengths above
  // 0x4000 are cut. `output` carries the data of a job write and receives the
  // answer of the read-back controls.
  int SendPortRequest(int port, std::uint32_t request, std::uint32_t controlCode,
                      std::uint32_t inputLength, const void* input, std::uint32_t outputLength,
                      void* output, std::uint32_t* transferred);

  // Makes sure a worker serves the port: true when one runs or a new one
  // signalled ready in time. A new one that does not is terminated. The
  // process handle of a new worker goes to *started.
  bool StartWorker(int port, const ObjectNameForm& names, Handle* started);

 private:
  PortLink() = default;

  struct Block {
    Handle mapping;
    MappedView view;
  };
  struct Events {
    Handle request;
    Handle done;
  };

  // Declared in the order of acquisition, so that destruction releases them
  // in reverse.
  Handle tableMapping_;
  MappedView tableView_;
  Block blocks_[kPortCount];
  Events events_[kPortCount];
  Handle tableMutex_;
  Handle accessMutexes_[kPortCount];
};

}  // namespace tgx::ppdt
