// The libraries the service binds by name at run time: the channel library,
// shared by every session, and the 1394 transport library, kept initialised
// while the service runs.
#pragma once

#include "channel_api.h"
#include "tgx/library.h"

namespace tgx::agent {

// The channel library's entry points, bound on first use: "chanlib95.dll" on
// the 9x family, else "chanlibNT.dll". Null while the library or one of its 13
// required entry points is missing; the next call tries again. Safe to call
// from several session threads at once; the table lives until process exit.
const ChannelApi* BindChannelLibrary();

// "ppdtlib.dll" with PPDT_Initialize and PPDT_Terminate.
class PpdtLibrary {
 public:
  PpdtLibrary() = default;
  ~PpdtLibrary() { Unbind(); }
  PpdtLibrary(const PpdtLibrary&) = delete;
  PpdtLibrary& operator=(const PpdtLibrary&) = delete;

  // Loads the library and calls PPDT_Initialize: true when it returned
  // nonzero. A second call while bound succeeds at once.
  bool Bind();
  // Calls PPDT_Terminate and frees the library, if bound.
  void Unbind();

 private:
  using InitializeFn = int (*)();
  using TerminateFn = int (*)();
  Module module_;
  TerminateFn terminate_ = nullptr;
};

}  // namespace tgx::agent
