#include "platform/Listener.h"

#include <sys/socket.h>

bool velmo::PrepareListeningSocket(int socket)
{
    int yes = 1;
    return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0;
}

bool velmo::WidenListenBacklog(int socket) { return ::listen(socket, SOMAXCONN) == 0; }
