// The dally of a write: after the device's text is stored, the transfer keeps its place on the
// port for a short while and acknowledges the last DATA block again whenever the device repeats
// it (our last ACK was lost), so that the device's own transfer, and with it its command, ends
// cleanly.
//
// Contract (all on the thread that served the write, except EndTftpDally):
// - TftpDallyWanted(context): after the transfer's outcome is final. True when it ends a stored
//   write (context.DallyBlock != 0) on an open socket.
// - RunTftpDally(context): after the outcome is recorded (OwnerTransferFinished), so a command's
//   report never waits for it. Answers repeats of the last block from the peer, re-sends the
//   last ACK on the write's own schedule, ignores everything else, and ends after kTftpDallyMs
//   or as soon as EndTftpDally ends it (it is woken, not polled).
// - EndTftpDally(): any thread, before the server port is bound again (a new server, a port
//   test). Ends every dally and returns when they have let go of the port (bounded); returns at
//   once when there is none.
#pragma once

#include "tftp/tftp_server.h"

// How long a dally lasts: a client whose last ACK was lost repeats its last block after its own
// time-out (5 s for the common clients), perhaps more than once.
inline constexpr int kTftpDallyMs = 12000;

bool TftpDallyWanted(const TftpContext& context);
void RunTftpDally(TftpContext& context);
void EndTftpDally();
