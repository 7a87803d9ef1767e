// What the socket calls tell the message loops about selected sockets.
#pragma once

#include "tgx/msgthread.h"

namespace tgx::detail {

// The socket was read (FD_READ) or accepted on (FD_ACCEPT): that notification
// may come again.
void ReenableSocketEvent(SOCKET socket, long event);
// The socket is about to be closed: forget its selection.
void CancelSocketSelection(SOCKET socket);

}  // namespace tgx::detail
