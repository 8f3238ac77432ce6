#include "app/panel_texts.h"

#include <cstdio>
#include <vector>

#include "spine/events.h"

namespace {

struct PanelRow {
    int code;
    const char* sentence;  // may hold one %s
    bool withTail;
};

constexpr const char* kTail =
    "\n\nPlease check that the desired server is correctly connected to the network and that the IP "
    "Address is correct";

constexpr PanelRow kPanelTable[] = {
    {ERR_SOCKETS_SETUP,
     "ERROR: An error has occured when trying to setup the Windows Sockets.", true},
    {ERR_TFTP_SOCKET, "ERROR: An error has occured when trying to open the TFTP socket.", true},
    {ERR_BIND, "ERROR: An error has occured when trying to bind to the Socket.", true},
    {ERR_SOCKET_CLOSED,
     "ERROR: The socket that you are trying to receive data from is closed.", true},
    {ERR_READ_REQUEST, "ERROR: The TFTP Read Request has failed.", true},
    {ERR_CONNECT, "ERROR: TFTP Server unable to connect to the requested Server: %s.", true},
    {ERR_SEND,
     "ERROR: An Error has occured when Sending a command to the requested Server: %s.", true},
    {ERR_RECEIVE,
     "ERROR: An Error has occured when attempting to receive Server Type info from the requested "
     "Server: %s.",
     true},
    {ERR_RESOLVE,
     "ERROR: An Error has occured when attempting to resolve the requested DNS Name: %s.", true},
    {ERR_CREDENTIALS,
     "ERROR: Invalid Username ( %s ) or Password Entered\n\nPlease check that both the username "
     "and password are correct",
     false},
    {ERR_FOREIGN_TFTP_REQUEST,
     "ERROR: A TFTP request came from another address than the requested Server: %s, and was "
     "refused.",
     true},
};

}  // namespace

std::string ComposePanelText(int code, const char* host, const char* userName) {
    for (const PanelRow& row : kPanelTable) {
        if (row.code != code) continue;
        const char* fill = code == ERR_CREDENTIALS ? userName : host;
        const int needed = std::snprintf(nullptr, 0, row.sentence, fill);
        std::vector<char> text(static_cast<std::size_t>(needed) + 1);
        std::snprintf(text.data(), text.size(), row.sentence, fill);
        std::string panel(text.data(), static_cast<std::size_t>(needed));
        if (row.withTail) panel += kTail;
        return panel;
    }
    return {};
}
