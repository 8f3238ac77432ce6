// The two probes of a command: a device whose first answer names a Tavio goes on even when the
// second names nothing; a first answer that names nothing ends the command.
#include "tests/app/command_fixture.h"

#include <array>
#include <condition_variable>
#include <mutex>

#include "platform/net.h"

namespace testing_support {
namespace {

// Answers each connection, in order, with the next reply text, then closes it; records what each
// connection sent.
class ReplySequenceServer {
public:
    explicit ReplySequenceServer(std::vector<std::string> replies) : replies_(std::move(replies)) {
        plat::NetStartup();
        listener_ = plat::TcpOpen();
        plat::SocketBind(listener_, {plat::kLoopbackAddress, 0});
        plat::SocketListen(listener_, 4);
        plat::Ipv4Endpoint local{};
        plat::SocketLocalAddress(listener_, &local);
        port_ = local.port;
        plat::ThreadStart([](void* self) { static_cast<ReplySequenceServer*>(self)->Run(); }, this);
    }
    ~ReplySequenceServer() {
        std::unique_lock lock(lock_);
        doneSignal_.wait(lock, [&] { return done_; });
        plat::SocketClose(listener_);
        plat::NetCleanup();
    }
    std::uint16_t Port() const { return port_; }
    std::vector<std::string> Requests() {
        std::lock_guard lock(lock_);
        return requests_;
    }

private:
    void Run() {
        for (const std::string& reply : replies_) {
            const plat::SocketHandle c = plat::SocketAccept(listener_, nullptr, 5000);
            if (c == plat::kNoSocket) break;
            std::string request;
            std::array<std::uint8_t, 2048> buffer{};
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int n = plat::SocketRecv(c, buffer, 2000);
                if (n <= 0) break;
                request.append(buffer.begin(), buffer.begin() + n);
            }
            plat::SocketSend(c, {reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()});
            plat::SocketClose(c);
            std::lock_guard lock(lock_);
            requests_.push_back(request.substr(0, request.find(" HTTP/")));
        }
        std::lock_guard lock(lock_);
        done_ = true;
        doneSignal_.notify_all();
    }

    std::vector<std::string> replies_;
    plat::SocketHandle listener_ = plat::kNoSocket;
    std::uint16_t port_ = 0;
    std::mutex lock_;
    std::condition_variable doneSignal_;
    bool done_ = false;
    std::vector<std::string> requests_;
};

constexpr const char* kTavioPage = "HTTP/1.0 200 OK\r\nServer: Tavio 21\r\n\r\n<html></html>";
constexpr const char* kPlainPage = "HTTP/1.0 200 OK\r\nServer: httpd\r\n\r\n";

using ProbeSequence = CommandAgainstSimulator;

TEST_F(ProbeSequence, ASecondProbeThatRecognisesNothingDoesNotStopTheBackup) {
    ReplySequenceServer server({kTavioPage, kPlainPage, "HTTP/1.0 200 OK\r\n\r\n"});
    DeviceSettings.Port = server.Port();
    CommandSettings.TransferGraceMs = 100;
    TftpSettings.FirstRequestTimeoutMs = 300;
    RunBackup(dir + "/x.cfg");
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"GET /", "GET /",
                                        "GET /cli?LIST+CHANGES+>+upload-image+HOST+127.0.0.1"}));
    // That device never sends its text, so the backup itself fails.
    EXPECT_EQ(OnlyBox().caption, "Backup failed");
}

TEST_F(ProbeSequence, AFirstProbeThatRecognisesNothingEndsTheCommand) {
    ReplySequenceServer server({kPlainPage});
    DeviceSettings.Port = server.Port();
    RunBackup(dir + "/x.cfg");
    EXPECT_EQ(server.Requests(), std::vector<std::string>{"GET /"});
    EXPECT_EQ(OnlyBox().caption, "Check for Tavio Failed");
    EXPECT_EQ(dialog.focusChanges, std::vector<int>{IDC_HOST});
    EXPECT_EQ(LastCommandReport.Result, CommandResult::NotTavio);
}

}  // namespace
}  // namespace testing_support
