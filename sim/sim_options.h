// Everything that shapes one run of the device simulator: where it listens, what it answers,
// where it keeps its configuration, and the faults it plays for tests.
//
// Contract: filled by the caller (the tavio-sim command line or a test) before the simulator
// starts; the simulator keeps its own copy and never changes it.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/net.h"

// The factory configuration used when none is given.
extern const char* const kDefaultFactoryText;

// The simulator's TFTP client. Packets are numbered per transfer from 0 (the request) in the
// order the client sends them (retransmissions get numbers of their own); received packets are
// numbered the same way from 0.
struct SimTftpOptions {
    std::uint16_t ServerPort = 69;  // the utility's TFTP port
    int RetransmitMs = 1000;        // wait for an answer before sending the last packet again
    int MaxRetransmits = 5;         // then the transfer fails
    int DallyMs = 1000;             // after the last ACK of a read: answer a repeated last block
    std::set<int> DropSent;         // packets not sent (as if lost on the way)
    std::set<int> DuplicateSent;    // packets sent twice
    std::set<int> DropReceived;     // packets ignored on arrival
    int SilentAfterSent = -1;       // >= 0: after this many packets, send nothing more; give up
    bool FaultsOnFirstTransfer = false;  // the four faults above play in the device's first
                                         // transfer only (a restore's, not its read-back)
    bool RequestOnce = false;       // the request goes once only, never again (the wait stays)
    int PacketDelayMs = 0;          // > 0: pause before each packet sent (the network's delay)
    // The address the packets are sent from; kAnyAddress: the device's own (SimOptions::Listen).
    std::uint32_t LocalAddress = plat::kAnyAddress;
    // Non-empty: each transfer is made by tftp-hpa's `tftp` program instead (at its own timers;
    // the packet faults above do not apply), through this scratch file, which the simulator
    // overwrites. For benchmarks against a client nobody here wrote.
    std::string ExternalClientScratch;
};

struct SimFaults {
    bool RefuseCredentials = false;  // every /cli? request gets the 401 reply
    bool NeverAnswerProbe = false;   // GET / is read and never answered
    bool CloseWithoutReply = false;  // a command is carried out and the connection closed silently
    int HoldConnectionMs = 0;        // after a command's reply, keep the connection open this long
    bool SplitServerHeader = false;  // the Server: header leaves in two TCP segments
    bool SplitUnauthorized = false;  // the 401 reply leaves in two segments, within "Unauthorized"
    int SplitPauseMs = 150;          // pause between the two segments
    bool SkipTftp = false;           // LIST CHANGES / EXECUTE answer without transferring
    std::string RejectLinesWith;     // non-empty: EXECUTE keeps no line holding this text
};

struct SimOptions {
    // Port 0: any free port. On an address other than 127.0.0.1 and all addresses, the device's
    // TFTP client sends from that address too, as a device with that address would, unless
    // Tftp.LocalAddress names another.
    plat::Ipv4Endpoint Listen{plat::kLoopbackAddress, 0};
    std::string StatePath;  // the configuration text; empty keeps it in memory only
    std::string FactoryText = kDefaultFactoryText;  // LF line ends
    std::string ServerHeader = "Tavio";  // the Server: value; empty sends no Server: header
    std::string UserName = "root";
    std::string Password = "tundra";
    std::string LogPath;              // request lines and transfer results, one a line; empty: none
    int MaxRequests = 0;              // > 0: stop after this many requests
    int DurationMs = 0;               // > 0: stop after this long
    int RequestReadTimeoutMs = 5000;  // bound on receiving one request
    int PeerGiveUpWaitMs = 30000;     // bound on holding a connection the peer should close
    int IdleCheckMs = 100;            // how often an idle device looks whether its run is over
    int CommandDelayMs = 0;           // pause between reading a command and carrying it out
    int PacketDelayMs = 0;            // > 0: pause before each web reply and each TFTP packet sent
    SimTftpOptions Tftp;
    SimFaults Faults;
};
