#pragma once

#include <QList>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A server on the loopback that never answers a connection: its queue of connections not yet
// accepted is full, so the kernel leaves the next one without an answer.
class SilentServer
{
public:
    SilentServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_fd, 0) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // Fill the queue: these connections are taken by the kernel and never accepted.
        for (int i = 0; i < 2; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), length);
            m_fillers.append(filler);
        }
    }
    ~SilentServer()
    {
        for (int fd : m_fillers)
            ::close(fd);
        ::close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QList<int> m_fillers;
};
