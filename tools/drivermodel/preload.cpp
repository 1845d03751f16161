// Makes a pseudo-terminal's transmit queue answer TIOCOUTQ the way a real serial driver's
// would, at the rate the program sets, and logs when each byte would start on the wire. A pty
// answers 0 at once, so without it the program never really waits for the line in a test.
//
//   LD_PRELOAD=build/tools/libkibro-drivermodel.so KIBRO_DRIVER_MODEL_DEVICE=/tmp/pocket/ttyFX
//   KIBRO_DRIVER_MODEL=usb KIBRO_DRIVER_MODEL_LOG=/tmp/starts.txt build/src/kibro
//
// KIBRO_DRIVER_MODEL_DEVICE          the port as the program opens it; a link is fine, the
//                                    character device it leads to is the one modelled.
//                                    Unset, the library changes nothing.
// KIBRO_DRIVER_MODEL                 16550 (the default), usb (usb-serial) or acm (cdc-acm)
// KIBRO_DRIVER_MODEL_USB_LATENCY_US  time from a URB's submission to its completion (500)
// KIBRO_DRIVER_MODEL_USB_CHIP_BUFFER bytes the USB chip or device holds before the line (256)
// KIBRO_DRIVER_MODEL_LOG             each byte's wire start, CLOCK_MONOTONIC nanoseconds, one
//                                    a line; made at the first byte, complete once the port
//                                    is closed or the process has exited normally.
//
// A new rate or frame while bytes are still queued or on the wire (they would reach the other
// end garbled) is said on stderr: "kibro-drivermodel: the frame changed with bytes on the way".
// tcdrain() returns once the modelled line is idle, or with EINTR when a signal comes first.
//
// The bytes themselves reach the pty unchanged and at once; only the counts are modelled.

// The fortified open() is an inline wrapper this file could not define again.
#undef _FORTIFY_SOURCE

#include "drivermodel.h"
#include "lineframe.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace kibro::drivermodel;
using namespace std::chrono;

namespace {

// The kernel's termios2; its c_cflag sits where the older termios keeps it too.
struct KernelTermios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);

constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcsets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr unsigned long kTcsetsw2 = _IOW('T', 0x2C, KernelTermios2);
constexpr unsigned long kTcsetsf2 = _IOW('T', 0x2D, KernelTermios2);

// A pty keeps 8 data bits, no parity and the receiver on whatever it is told; a UART keeps
// what it was set to.
constexpr tcflag_t kPtyForgets = CSIZE | PARENB | CREAD;

template <typename F> F next(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// The calls behind ours; the model's own calls go straight to them so they never come back.
struct Libc
{
    decltype(&::open) open = next<decltype(&::open)>("open");
    decltype(&::open64) open64 = next<decltype(&::open64)>("open64");
    decltype(&::openat) openat = next<decltype(&::openat)>("openat");
    decltype(&::openat64) openat64 = next<decltype(&::openat64)>("openat64");
    int (*open_2)(const char*, int) = next<int (*)(const char*, int)>("__open_2");
    int (*open64_2)(const char*, int) = next<int (*)(const char*, int)>("__open64_2");
    int (*openat_2)(int, const char*, int) = next<int (*)(int, const char*, int)>("__openat_2");
    int (*openat64_2)(int, const char*, int) = next<int (*)(int, const char*, int)>("__openat64_2");
    decltype(&::close) close = next<decltype(&::close)>("close");
    decltype(&::write) write = next<decltype(&::write)>("write");
    decltype(&::ioctl) ioctl = next<decltype(&::ioctl)>("ioctl");
    decltype(&::tcgetattr) tcgetattr = next<decltype(&::tcgetattr)>("tcgetattr");
    decltype(&::tcsetattr) tcsetattr = next<decltype(&::tcsetattr)>("tcsetattr");
    decltype(&::tcflush) tcflush = next<decltype(&::tcflush)>("tcflush");
    decltype(&::tcdrain) tcdrain = next<decltype(&::tcdrain)>("tcdrain");
};

const Libc& libc()
{
    static const Libc calls;
    return calls;
}

Time monotonicNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return seconds(now.tv_sec) + nanoseconds(now.tv_nsec);
}

void sleepUntil(Time when)
{
    const auto secs = duration_cast<seconds>(when);
    const timespec until{time_t(secs.count()), long((when - secs).count())};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// Work done for the model must not disturb the caller's errno.
class ErrnoKeeper
{
public:
    ErrnoKeeper() = default;
    ~ErrnoKeeper() { errno = m_saved; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int m_saved = errno;
};

template <typename T> T fromEnv(const char* name, T fallback)
{
    const char* text = std::getenv(name);
    if (!text)
        return fallback;
    T value{};
    const std::string_view view(text);
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    return error == std::errc() && end == view.data() + view.size() ? value : fallback;
}

[[nodiscard]] tcflag_t cflagAt(const void* termiosArg)
{
    tcflag_t cflag = 0;
    std::memcpy(&cflag, static_cast<const char*>(termiosArg) + offsetof(KernelTermios2, c_cflag),
                sizeof cflag);
    return cflag;
}

void setCflagAt(void* termiosArg, tcflag_t cflag)
{
    std::memcpy(static_cast<char*>(termiosArg) + offsetof(KernelTermios2, c_cflag), &cflag,
                sizeof cflag);
}

// The one modelled port, shared by every descriptor open on it, for the process's whole life
// (the line goes on sending across a close and reopen).
class Line
{
public:
    [[nodiscard]] bool tracks(int fd)
    {
        if (m_openCount.load(std::memory_order_acquire) == 0)
            return false;
        const std::lock_guard lock(m_mutex);
        return m_fds.contains(fd);
    }

    void adopt(int fd)
    {
        if (fd < 0)
            return;
        const ErrnoKeeper keeper;
        const bool ours = isDevice(fd);
        if (!ours && m_openCount.load(std::memory_order_acquire) == 0)
            return;
        const std::lock_guard lock(m_mutex);
        if (!ours) {
            // The number came back for another file through a call not watched here.
            if (m_fds.erase(fd) != 0)
                m_openCount.fetch_sub(1, std::memory_order_release);
            return;
        }
        if (m_fds.insert(fd).second)
            m_openCount.fetch_add(1, std::memory_order_release);
        if (!m_frameKnown) {
            termios tio{};
            if (libc().tcgetattr(fd, &tio) == 0)
                applyFrame(tio.c_cflag, {});
        }
    }

    void release(int fd)
    {
        const ErrnoKeeper keeper;
        Time idle{};
        {
            const std::lock_guard lock(m_mutex);
            if (m_fds.erase(fd) == 0)
                return;
            m_openCount.fetch_sub(1, std::memory_order_release);
            if (!m_fds.empty() || !m_model)
                return;
            idle = m_model->drain();
            writeLog();
            flushLog();
        }
        // The last close waits for the line to fall idle, as the tty layer's closing wait does.
        sleepUntil(idle);
    }

    ssize_t write(int fd, const void* data, size_t size)
    {
        int room = 0;
        for (;;) {
            nanoseconds wait{};
            {
                const ErrnoKeeper keeper;
                const std::lock_guard lock(m_mutex);
                room = model().writeRoom(monotonicNow());
                wait = m_model->byteTime();
            }
            if (room > 0)
                break;
            // A full driver holds the writer until the line makes room: answering EAGAIN
            // while poll() says writable would turn Qt's next write into a write error.
            sleepUntil(monotonicNow() + wait);
        }
        const ssize_t written = libc().write(fd, data, std::min(size, size_t(room)));
        if (written > 0) {
            const ErrnoKeeper keeper;
            const std::lock_guard lock(m_mutex);
            (void)model().write(monotonicNow(), int(written));
            writeLog();
        }
        return written;
    }

    void afterIoctl(unsigned long request, void* arg)
    {
        const ErrnoKeeper keeper;
        const std::lock_guard lock(m_mutex);
        switch (request) {
        case TIOCOUTQ:
            if (m_model && arg) {
                const int queued = m_model->outQueue(monotonicNow());
                std::memcpy(arg, &queued, sizeof queued);
                writeLog();
            }
            break;
        case TCGETS:
        case kTcgets2:
            if (arg)
                setCflagAt(arg, remembered(cflagAt(arg)));
            break;
        case TCSETS:
        case TCSETSW:
        case TCSETSF:
            if (arg)
                applyFrame(cflagAt(arg), {});
            break;
        case kTcsets2:
        case kTcsetsw2:
        case kTcsetsf2:
            if (arg)
                applyFrame(cflagAt(arg), static_cast<const KernelTermios2*>(arg)->c_ospeed);
            break;
        case TCFLSH:
            flushIfOutput(int(reinterpret_cast<std::intptr_t>(arg)));
            break;
        default:
            break;
        }
    }

    void afterTcgetattr(termios* tio)
    {
        const std::lock_guard lock(m_mutex);
        tio->c_cflag = remembered(tio->c_cflag);
    }

    void afterTcsetattr(const termios* tio)
    {
        const ErrnoKeeper keeper;
        const std::lock_guard lock(m_mutex);
        applyFrame(tio->c_cflag, {});
    }

    // As the kernel's wait until sent: a signal ends it early.
    [[nodiscard]] int waitUntilSent()
    {
        Time idle{};
        {
            const ErrnoKeeper keeper;
            const std::lock_guard lock(m_mutex);
            if (!m_model)
                return 0;
            idle = m_model->drain();
            writeLog();
        }
        const auto secs = duration_cast<seconds>(idle);
        const timespec until{time_t(secs.count()), long((idle - secs).count())};
        if (const int error = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr)) {
            errno = error;
            return -1;
        }
        return 0;
    }

    void afterTcflush(int queue)
    {
        const ErrnoKeeper keeper;
        const std::lock_guard lock(m_mutex);
        flushIfOutput(queue);
    }

    // At exit the bytes still queued are logged at the moments they would go out.
    void finish()
    {
        const std::lock_guard lock(m_mutex);
        if (!m_model)
            return;
        (void)m_model->drain();
        writeLog();
        flushLog();
    }

private:
    [[nodiscard]] static bool isDevice(int fd)
    {
        const char* device = std::getenv("KIBRO_DRIVER_MODEL_DEVICE");
        if (!device || !*device)
            return false;
        struct stat opened
        {
        };
        struct stat wanted
        {
        };
        return ::fstat(fd, &opened) == 0 && S_ISCHR(opened.st_mode) &&
               ::stat(device, &wanted) == 0 && S_ISCHR(wanted.st_mode) &&
               opened.st_rdev == wanted.st_rdev;
    }

    // Made at the first byte, so that a process that only holds the device open (the
    // pocket simulator keeps its slave) never touches the log.
    DriverModel& model()
    {
        if (m_model)
            return *m_model;
        const std::string_view kind =
            std::getenv("KIBRO_DRIVER_MODEL") ? std::getenv("KIBRO_DRIVER_MODEL") : "16550";
        const microseconds latency(fromEnv<long long>("KIBRO_DRIVER_MODEL_USB_LATENCY_US", 500));
        const int chipBuffer = fromEnv<int>("KIBRO_DRIVER_MODEL_USB_CHIP_BUFFER", 256);
        if (kind == "usb") {
            m_model = std::make_unique<UsbSerialModel>(UsbOptions{latency, chipBuffer});
        } else if (kind == "acm") {
            AcmOptions options;
            options.latency = latency;
            options.deviceBuffer = chipBuffer;
            m_model = std::make_unique<CdcAcmModel>(options);
        } else {
            m_model = std::make_unique<Uart16550Model>();
        }
        m_model->setFrame(monotonicNow(), m_baud, m_bits);
        if (const char* path = std::getenv("KIBRO_DRIVER_MODEL_LOG"); path && *path)
            m_log = libc().open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        return *m_model;
    }

    void applyFrame(tcflag_t cflag, std::optional<unsigned> ospeed)
    {
        m_frameKnown = true;
        m_remembered = cflag & kPtyForgets;
        const int oldBaud = m_baud;
        const int oldBits = m_bits;
        // B0 hangs up and BOTHER through the old termios keeps the custom rate.
        if (const auto baud = baudOf(cflag, ospeed))
            m_baud = *baud;
        m_bits = bitsPerByteOf(cflag);
        if (m_model && (m_baud != oldBaud || m_bits != oldBits)) {
            const Time now = monotonicNow();
            const bool queued = m_model->outQueue(now) > 0;
            writeLog();
            if (queued || m_lastEnd > now) {
                static constexpr std::string_view kGarbled =
                    "kibro-drivermodel: the frame changed with bytes on the way\n";
                (void)libc().write(STDERR_FILENO, kGarbled.data(), kGarbled.size());
            }
        }
        if (m_model) {
            m_model->setFrame(monotonicNow(), m_baud, m_bits);
            writeLog();
        }
    }

    [[nodiscard]] tcflag_t remembered(tcflag_t cflag) const
    {
        return m_remembered ? (cflag & ~kPtyForgets) | *m_remembered : cflag;
    }

    void flushIfOutput(int queue)
    {
        if (m_model && (queue == TCOFLUSH || queue == TCIOFLUSH)) {
            m_model->flush(monotonicNow());
            writeLog();
        }
    }

    // Kept in memory until the port closes or the process ends: a write to the log for every
    // byte would be billed to the program under test as its own work.
    void writeLog()
    {
        const std::vector<Time> starts = m_model->takeWireStarts();
        if (!starts.empty())
            m_lastEnd = starts.back() + m_model->byteTime();
        if (m_log < 0 || starts.empty())
            return;
        for (const Time start : starts) {
            char number[24];
            const auto end = std::to_chars(number, number + sizeof number, start.count()).ptr;
            m_pendingLog.append(number, end);
            m_pendingLog.push_back('\n');
        }
        if (m_pendingLog.size() >= kLogChunk)
            flushLog();
    }

    void flushLog()
    {
        for (size_t done = 0; m_log >= 0 && done < m_pendingLog.size();) {
            const ssize_t n =
                libc().write(m_log, m_pendingLog.data() + done, m_pendingLog.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        m_pendingLog.clear();
    }

    std::mutex m_mutex;
    std::atomic<int> m_openCount = 0;
    std::set<int> m_fds;
    std::unique_ptr<DriverModel> m_model;
    bool m_frameKnown = false;
    int m_baud = 9600;
    int m_bits = 10;
    std::optional<tcflag_t> m_remembered;
    int m_log = -1;
    // When the last byte started so far leaves the wire.
    Time m_lastEnd = Time::min();
    static constexpr size_t kLogChunk = 1 << 20;
    std::string m_pendingLog;
};

// Never destroyed: the program's own static destructors may still close the port.
Line& line()
{
    static Line* const theLine = new Line;
    return *theLine;
}

[[gnu::destructor]] void finishAtExit()
{
    line().finish();
}

[[nodiscard]] bool needsMode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

[[nodiscard]] bool onlyPtyForgot(int fd, const termios* tio)
{
    KernelTermios2 now{};
    if (libc().ioctl(fd, TCGETS, &now) != 0)
        return false;
    return (now.c_cflag & ~kPtyForgets) == (tio->c_cflag & ~kPtyForgets) &&
           now.c_iflag == tio->c_iflag && now.c_oflag == tio->c_oflag &&
           now.c_lflag == tio->c_lflag;
}

[[nodiscard]] int adopted(int fd)
{
    line().adopt(fd);
    return fd;
}

} // namespace

#define KIBRO_MODE_ARG(flags)                                                                      \
    mode_t mode = 0;                                                                               \
    if (needsMode(flags)) {                                                                        \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode = va_arg(args, mode_t);                                                               \
        va_end(args);                                                                              \
    }

extern "C" {

// Qt opens the port with open64(); the rest are other spellings of the same call.
[[gnu::visibility("default")]] int open(const char* path, int flags, ...)
{
    KIBRO_MODE_ARG(flags)
    return adopted(libc().open(path, flags, mode));
}

[[gnu::visibility("default")]] int open64(const char* path, int flags, ...)
{
    KIBRO_MODE_ARG(flags)
    return adopted(libc().open64(path, flags, mode));
}

[[gnu::visibility("default")]] int openat(int dir, const char* path, int flags, ...)
{
    KIBRO_MODE_ARG(flags)
    return adopted(libc().openat(dir, path, flags, mode));
}

[[gnu::visibility("default")]] int openat64(int dir, const char* path, int flags, ...)
{
    KIBRO_MODE_ARG(flags)
    return adopted(libc().openat64(dir, path, flags, mode));
}

[[gnu::visibility("default")]] int __open_2(const char* path, int flags)
{
    return adopted(libc().open_2(path, flags));
}

[[gnu::visibility("default")]] int __open64_2(const char* path, int flags)
{
    return adopted(libc().open64_2(path, flags));
}

[[gnu::visibility("default")]] int __openat_2(int dir, const char* path, int flags)
{
    return adopted(libc().openat_2(dir, path, flags));
}

[[gnu::visibility("default")]] int __openat64_2(int dir, const char* path, int flags)
{
    return adopted(libc().openat64_2(dir, path, flags));
}

[[gnu::visibility("default")]] int close(int fd)
{
    if (line().tracks(fd))
        line().release(fd);
    return libc().close(fd);
}

// Both Qt's qt_safe_write() and the program's own write to the handle come here.
[[gnu::visibility("default")]] ssize_t write(int fd, const void* data, size_t size)
{
    if (size == 0 || !line().tracks(fd))
        return libc().write(fd, data, size);
    return line().write(fd, data, size);
}

// TIOCOUTQ, and Qt's termios2 requests for custom rates; glibc's tc*() functions reach the
// kernel without passing here, so they have their own entries below.
[[gnu::visibility("default")]] int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int result = libc().ioctl(fd, request, arg);
    if (result == 0 && line().tracks(fd))
        line().afterIoctl(request, arg);
    return result;
}

// Qt reads the settings back before changing one of them, so the pty's forgetting would
// undo an earlier data bits or parity setting.
[[gnu::visibility("default")]] int tcgetattr(int fd, termios* tio) noexcept
{
    const int result = libc().tcgetattr(fd, tio);
    if (result == 0 && line().tracks(fd))
        line().afterTcgetattr(tio);
    return result;
}

// cfsetospeed() only fills in the structure; the rate reaches the driver here.
[[gnu::visibility("default")]] int tcsetattr(int fd, int action, const termios* tio) noexcept
{
    const int saved = errno;
    int result = libc().tcsetattr(fd, action, tio);
    if (!line().tracks(fd))
        return result;
    // glibc reads a TCSANOW setting back and calls the pty's forgetting EINVAL, which would
    // fail QSerialPort's open with parity; the UART modelled here takes it.
    if (result != 0 && errno == EINVAL && action == TCSANOW && onlyPtyForgot(fd, tio)) {
        errno = saved;
        result = 0;
    }
    if (result == 0)
        line().afterTcsetattr(tio);
    return result;
}

[[gnu::visibility("default")]] int tcdrain(int fd)
{
    const int result = libc().tcdrain(fd);
    if (result != 0 || !line().tracks(fd))
        return result;
    return line().waitUntilSent();
}

[[gnu::visibility("default")]] int tcflush(int fd, int queue) noexcept
{
    const int result = libc().tcflush(fd, queue);
    if (result == 0 && line().tracks(fd))
        line().afterTcflush(queue);
    return result;
}

} // extern "C"
