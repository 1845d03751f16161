// Run by tst_drivermodel with the driver model preloaded: drives a pty slave the way the
// program drives its port and prints what the driver counts told it, one "key value" a line.
//
//   drivermodel_probe LINK 7e2|8n1 BURST PACED close|exit

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

int outQueue(int fd)
{
    int queued = -1;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

// Polls the way the program waits for the line; false if the count never falls to 0.
bool waitForEmpty(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (outQueue(fd) != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (n > 0) {
            data += n;
            size -= size_t(n);
        }
    }
    return true;
}

// As QSerialPort sets a frame: one setting at a time, each read back before the next.
bool setFrame(int fd, tcflag_t size, tcflag_t parity, tcflag_t stop)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | size;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_cflag = (tio.c_cflag & ~(PARENB | PARODD)) | parity;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_cflag = (tio.c_cflag & ~CSTOPB) | stop;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

int fail(int code, const char* what)
{
    std::perror(what);
    return code;
}

long countLines(const char* path)
{
    std::ifstream in(path);
    long lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const bool sevenEvenTwo = std::string(argv[2]) == "7e2";
    const tcflag_t size = sevenEvenTwo ? CS7 : CS8;
    const tcflag_t parity = sevenEvenTwo ? PARENB : 0;
    const tcflag_t stop = sevenEvenTwo ? CSTOPB : 0;
    const int burst = std::atoi(argv[3]);
    const int paced = std::atoi(argv[4]);
    const bool closePort = std::string(argv[5]) == "close";

    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fail(3, "open");
    termios tio{};
    if (!setFrame(fd, size, parity, stop) || ::tcgetattr(fd, &tio) != 0)
        return fail(3, "termios");
    std::printf("frame-kept %d\n",
                (tio.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB)) == (size | parity | stop));

    const std::string bytes(size_t(burst), 'B');
    if (!writeAll(fd, bytes.data(), bytes.size()))
        return fail(4, "write");
    std::printf("queue-after-burst %d\n", outQueue(fd));
    std::printf("burst-drained %d\n", waitForEmpty(fd));

    for (int i = 0; i < paced; ++i) {
        const char byte = char('a' + i % 26);
        if (!writeAll(fd, &byte, 1) || !waitForEmpty(fd))
            return fail(5, "paced write");
    }

    if (closePort) {
        if (::close(fd) != 0)
            return fail(6, "close");
        if (const char* log = std::getenv("KIBRO_DRIVER_MODEL_LOG"))
            std::printf("lines-after-close %ld\n", countLines(log));
    }
    std::fflush(stdout);
    return 0;
}
