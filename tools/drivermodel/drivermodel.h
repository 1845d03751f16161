#pragma once

#include <chrono>
#include <deque>
#include <utility>
#include <vector>

namespace kibro::drivermodel {

using namespace std::chrono_literals;

// A moment on one clock (CLOCK_MONOTONIC in the preload library), counted from its epoch.
using Time = std::chrono::nanoseconds;

// Bytes the kernel takes from write() before the line: both drivers keep one page.
inline constexpr int kDriverBuffer = 4096;

[[nodiscard]] std::chrono::nanoseconds byteTimeOf(int baud, int bitsPerByte);

// What a serial driver's transmit queue holds, and when each byte starts on the wire, given
// what was written when. Every call takes the time it happens at; times never go back (an
// earlier one counts as the latest seen), so a timeline gives the same answers every run.
class DriverModel
{
public:
    virtual ~DriverModel() = default;
    DriverModel(const DriverModel&) = delete;
    DriverModel& operator=(const DriverModel&) = delete;

    // How many of the bytes the driver took; the rest would have to wait for room.
    [[nodiscard]] int write(Time now, int bytes);
    // The driver's answer to TIOCOUTQ.
    [[nodiscard]] int outQueue(Time now);
    [[nodiscard]] int writeRoom(Time now);
    // TCOFLUSH: what the driver still holds is dropped; what reached the hardware goes out.
    void flush(Time now);
    // Bytes already started keep the rate they started with.
    void setFrame(Time now, int baud, int bitsPerByte);
    // Lets everything written go out; returns when the line falls idle.
    [[nodiscard]] Time drain();

    [[nodiscard]] std::chrono::nanoseconds byteTime() const { return m_byteTime; }
    [[nodiscard]] const std::vector<Time>& wireStarts() const { return m_starts; }
    // Hands over the starts recorded so far, so that a log can be written as it grows.
    [[nodiscard]] std::vector<Time> takeWireStarts() { return std::exchange(m_starts, {}); }

protected:
    DriverModel() = default;

    // Plays every event up to and including until.
    virtual void run(Time until) = 0;
    [[nodiscard]] virtual int queued() const = 0;
    [[nodiscard]] virtual int room() const = 0;
    virtual void accept(Time now, int bytes) = 0;
    virtual void discard() = 0;
    virtual void frameChanged(Time /*now*/) {}

    void startByte(Time at)
    {
        m_starts.push_back(at);
        m_lineFreeAt = at + m_byteTime;
    }
    [[nodiscard]] Time lineFreeAt() const { return m_lineFreeAt; }

private:
    Time advance(Time now);

    Time m_now = Time::min();
    Time m_lineFreeAt = Time::min();
    std::chrono::nanoseconds m_byteTime = byteTimeOf(9600, 10);
    std::vector<Time> m_starts;
};

// 8250/16550 under serial_core: TIOCOUTQ counts the circular buffer, never the 16-byte FIFO
// nor the shift register, which take new bytes only while the FIFO is empty.
class Uart16550Model final : public DriverModel
{
public:
    static constexpr int kFifoSize = 16;

    Uart16550Model() = default;

protected:
    void run(Time until) override;
    [[nodiscard]] int queued() const override { return m_circ; }
    [[nodiscard]] int room() const override { return kDriverBuffer - m_circ; }
    void accept(Time now, int bytes) override;
    void discard() override { m_circ = 0; }

private:
    // The transmitter-empty moments: refill an empty FIFO, keep the shift register busy.
    void pump(Time at);

    int m_circ = 0;
    int m_fifo = 0;
    bool m_shifting = false;
};

struct UsbOptions
{
    std::chrono::nanoseconds latency = 500us;
    int chipBuffer = 256;
};

// usb-serial generic (FTDI, CH340, PL2303, CP210x): TIOCOUTQ counts the kfifo and the URB in
// flight. One URB at a time; it completes a latency after submission, or later when the
// chip's buffer needs the line to make room for it.
class UsbSerialModel final : public DriverModel
{
public:
    static constexpr int kUrbSize = 64;

    explicit UsbSerialModel(UsbOptions options = {});

protected:
    void run(Time until) override;
    [[nodiscard]] int queued() const override { return m_kfifo + m_urb; }
    [[nodiscard]] int room() const override { return kDriverBuffer - m_kfifo; }
    void accept(Time now, int bytes) override;
    void discard() override { m_kfifo = 0; }
    void frameChanged(Time now) override;

private:
    void submit(Time at);
    [[nodiscard]] Time completion() const;

    UsbOptions m_options;
    int m_urbSize = kUrbSize;
    int m_kfifo = 0;
    int m_urb = 0;
    Time m_urbSubmitted{};
    Time m_urbDone{};
    // Bytes in the chip that have not started on the wire.
    int m_chip = 0;
};

struct AcmOptions
{
    std::chrono::nanoseconds latency = 500us;
    int deviceBuffer = 256;
    // acm->writesize: 20 bulk packets of 64 bytes at full speed.
    int writeSize = 1280;
};

// cdc-acm (USB modem class): acm_tty_write() puts each write into a write buffer of its own
// and submits it as a URB, up to kUrbs in flight, however few bytes it holds; the tty layer
// blocks while none is free. TIOCOUTQ is acm_tty_chars_in_buffer(): the URBs in flight times
// the write size, so one byte counts 1280 until acm_write_done() frees its buffer. The URBs
// go in order, 64-byte packets the device takes only while its buffer has room; the first
// no sooner than the bus latency after its submission.
class CdcAcmModel final : public DriverModel
{
public:
    static constexpr int kUrbs = 16;
    static constexpr int kPacket = 64;

    explicit CdcAcmModel(AcmOptions options = {});

protected:
    void run(Time until) override;
    [[nodiscard]] int queued() const override;
    [[nodiscard]] int room() const override;
    void accept(Time now, int bytes) override;
    // Submitted URBs are the host controller's: nothing the driver could take back.
    void discard() override {}

private:
    struct Urb
    {
        Time submitted{};
        int left = 0; // bytes the device has not taken yet
    };

    AcmOptions m_options;
    std::deque<Urb> m_urbs;
    // The first URB's next packet may go from here: the latency after its submission, behind
    // the URB before it, or right behind its own last packet.
    Time m_headReady{};
    // The latest moment played: a packet that waited for room goes when the room came.
    Time m_played{};
    // Bytes in the device that have not started on the wire.
    int m_device = 0;
};

} // namespace kibro::drivermodel
