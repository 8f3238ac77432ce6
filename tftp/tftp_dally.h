// The dally of a write: after the device's text is stored, the server keeps its socket for a
// short while and acknowledges the last DATA block again whenever the device repeats it (our
// last ACK was lost), so that the device's own transfer, and with it its command, ends cleanly.
//
// Contract (all on the server thread except EndTftpDally):
// - TftpDallyWanted(context): after the run's outcome is final and before TftpServerRunning
//   falls. True when the run ends a stored write (context.DallyBlock != 0): the socket and its
//   NetStartup now belong to the dally, and the thread must not close them itself.
// - RunTftpDally(context): after the run's outcome is recorded, so a command's report never
//   waits for it. Answers repeats of the last block from the run's peer, re-sends the last ACK
//   on the write's own schedule, ignores everything else, and ends after kTftpDallyMs or at
//   EndTftpDally; then closes the socket and releases its NetStartup.
// - EndTftpDally(): any thread, before the server port is bound again (a new server, a port
//   test). Ends a dally at once and returns when its socket is closed (bounded; one receive
//   slice in practice); returns at once when there is none.
#pragma once

#include "tftp/tftp_server.h"

// How long a dally lasts: a client whose last ACK was lost repeats its last block after its own
// time-out (5 s for the common clients), perhaps more than once.
inline constexpr int kTftpDallyMs = 12000;

bool TftpDallyWanted(const TftpContext& context);
void RunTftpDally(TftpContext& context);
void EndTftpDally();
