// The least a sender under the one-byte rule can do: write one byte, sleep until the moment
// the line should have sent it, look at the driver's count, and sleep a byte more while it is
// not 0. No event loop, no window, no library: the CPU it spends is the floor the program's
// CPU is compared with.
//
//   reference_sender DEVICE BAUD FILE     prints "RESULT <cpu seconds> <wall seconds>"
#include "linespeed.h"

#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void sleepUntil(Clock::time_point when)
{
    // The steady clock is CLOCK_MONOTONIC, as the absolute sleep's.
    const auto since = when.time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
    const timespec until{static_cast<time_t>(secs.count()),
                         static_cast<long>((since - secs).count())};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<char> readFile(const char* path)
{
    std::vector<char> bytes;
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return bytes;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return bytes;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4)
        return 1;
    const long baud = std::strtol(argv[2], nullptr, 10);
    const std::vector<char> bytes = readFile(argv[3]);
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0 || bytes.empty() || baud <= 0)
        return 2;
    setRawLine(fd, baud);
    const std::chrono::nanoseconds byteTime(10'000'000'000LL / baud);

    const double cpuBefore = cpuSeconds();
    const Clock::time_point start = Clock::now();
    Clock::time_point drained = start;
    for (const char byte : bytes) {
        while (::write(fd, &byte, 1) != 1) {
        }
        drained = std::max(drained, Clock::now()) + byteTime;
        for (;;) {
            sleepUntil(drained);
            int queued = 0;
            if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
                return 3;
            if (queued == 0)
                break;
            drained += byteTime;
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    ::close(fd);
    std::printf("RESULT %.6f %.6f\n", cpu, wall);
    return 0;
}
