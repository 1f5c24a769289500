#pragma once

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <utility>

namespace cueprune {

// Owns a file descriptor and closes it.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : fd(fd)
    {
    }
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept
        : fd(std::exchange(other.fd, -1))
    {
    }
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return fd; }
    bool isOpen() const { return fd >= 0; }
    void reset()
    {
#ifdef _WIN32
        if (fd >= 0)
            ::_close(std::exchange(fd, -1));
#else
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
#endif
    }

private:
    int fd = -1;
};

} // namespace cueprune
