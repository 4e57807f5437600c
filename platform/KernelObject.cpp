#include "platform/KernelObject.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velmo::detail {

Object::Object(unsigned eventFlags) : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC | eventFlags)) {}

Object::~Object()
{
    if (fd_ >= 0)
        close(fd_);
}

void Object::Signal(std::uint64_t n)
{
    while (write(fd_, &n, sizeof n) < 0 && errno == EINTR) {
    }
}

bool Object::Drain()
{
    std::uint64_t v;
    return read(fd_, &v, sizeof v) == static_cast<ssize_t>(sizeof v);
}

bool Object::Readable() const
{
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

Object* FromHandle(HANDLE h)
{
    if (!h || h == INVALID_HANDLE_VALUE)
        return nullptr;
    return static_cast<Object*>(h);
}

}  // namespace velmo::detail
