// The dally of a write: after the device's text is stored, the server keeps its socket for a
// short while and acknowledges the last DATA block again whenever the device repeats it (our
// last ACK was lost), so that the device's own transfer, and with it its command, ends cleanly.
//
// Contract (all on the thread that served the write, except EndTftpDally):
// - TftpDallyWanted(context): after the transfer's outcome is final. True when it ends a stored
//   write (context.DallyBlock != 0): the transfer's port slot now dallies (the port's reader
//   hands it only its peer's datagrams and drops strangers' in silence when nothing else waits).
// - RunTftpDally(context): after the outcome is recorded, so a command's report never waits for
//   it. Answers repeats of the last block from the peer, re-sends the last ACK on the write's own
//   schedule, ignores everything else, and ends after kTftpDallyMs or at EndTftpDally; then, when
//   context.ClosesSocket (the run ended before it), closes the port and releases its NetStartup.
// - EndTftpDally(): any thread, before the server port is bound again (a new server, a port
//   test). Ends every dally decided before the call and returns when they are over (bounded; one
//   receive slice in practice); returns at once when there is none.
#pragma once

#include "tftp/tftp_server.h"

// How long a dally lasts: a client whose last ACK was lost repeats its last block after its own
// time-out (5 s for the common clients), perhaps more than once.
inline constexpr int kTftpDallyMs = 12000;

bool TftpDallyWanted(TftpContext& context);
void RunTftpDally(TftpContext& context);
void EndTftpDally();
