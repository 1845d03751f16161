#include "drivermodel.h"

#include <algorithm>
#include <optional>

namespace kibro::drivermodel {

std::chrono::nanoseconds byteTimeOf(int baud, int bitsPerByte)
{
    const long long rate = std::max(baud, 1);
    const long long bits = std::max(bitsPerByte, 1);
    return std::chrono::nanoseconds((bits * 1'000'000'000LL + rate / 2) / rate);
}

Time DriverModel::advance(Time now)
{
    m_now = std::max(m_now, now);
    run(m_now);
    return m_now;
}

int DriverModel::write(Time now, int bytes)
{
    const Time at = advance(now);
    const int taken = std::clamp(bytes, 0, room());
    if (taken > 0)
        accept(at, taken);
    return taken;
}

int DriverModel::outQueue(Time now)
{
    advance(now);
    return queued();
}

int DriverModel::writeRoom(Time now)
{
    advance(now);
    return room();
}

void DriverModel::flush(Time now)
{
    advance(now);
    discard();
}

void DriverModel::setFrame(Time now, int baud, int bitsPerByte)
{
    const Time at = advance(now);
    m_byteTime = byteTimeOf(baud, bitsPerByte);
    frameChanged(at);
}

Time DriverModel::drain()
{
    run(Time::max());
    m_now = std::max(m_now, m_lineFreeAt);
    return m_now;
}

void Uart16550Model::run(Time until)
{
    while (m_shifting && lineFreeAt() <= until) {
        m_shifting = false;
        pump(lineFreeAt());
    }
}

void Uart16550Model::accept(Time now, int bytes)
{
    m_circ += bytes;
    pump(now);
}

void Uart16550Model::pump(Time at)
{
    for (;;) {
        // THRE: the FIFO took its last byte's place in the shift register, so the interrupt
        // (or a write that finds it so) loads a whole FIFO at once.
        if (m_fifo == 0 && m_circ > 0) {
            const int moved = std::min(kFifoSize, m_circ);
            m_circ -= moved;
            m_fifo += moved;
        }
        if (m_shifting || m_fifo == 0)
            return;
        --m_fifo;
        m_shifting = true;
        startByte(at);
    }
}

UsbSerialModel::UsbSerialModel(UsbOptions options)
    : m_options(options), m_urbSize(std::clamp(options.chipBuffer, 1, kUrbSize))
{
    // A URB larger than the chip could never complete.
    m_options.chipBuffer = std::max(m_options.chipBuffer, m_urbSize);
}

void UsbSerialModel::run(Time until)
{
    for (;;) {
        // The chip holds bytes only while the line is busy, so the next starts when it frees.
        const bool starting = m_chip > 0 && lineFreeAt() <= until;
        const bool completing = m_urb > 0 && m_urbDone <= until;
        // A byte leaving the chip at the completion's moment made the room it waited for.
        if (starting && (!completing || lineFreeAt() <= m_urbDone)) {
            --m_chip;
            startByte(lineFreeAt());
        } else if (completing) {
            const Time at = m_urbDone;
            m_chip += std::exchange(m_urb, 0);
            if (lineFreeAt() <= at) {
                --m_chip;
                startByte(at);
            }
            submit(at);
        } else {
            return;
        }
    }
}

void UsbSerialModel::accept(Time now, int bytes)
{
    m_kfifo += bytes;
    submit(now);
}

void UsbSerialModel::frameChanged(Time /*now*/)
{
    // The room a waiting URB needs comes at the new rate.
    if (m_urb > 0)
        m_urbDone = completion();
}

void UsbSerialModel::submit(Time at)
{
    if (m_urb > 0 || m_kfifo == 0)
        return;
    m_urb = std::min(m_kfifo, m_urbSize);
    m_kfifo -= m_urb;
    m_urbSubmitted = at;
    m_urbDone = completion();
}

Time UsbSerialModel::completion() const
{
    Time done = m_urbSubmitted + m_options.latency;
    // The chip's waiting bytes start one byte time apart from the moment the line frees.
    if (const int need = m_chip + m_urb - m_options.chipBuffer; need > 0)
        done = std::max(done, lineFreeAt() + (need - 1) * byteTime());
    return done;
}

CdcAcmModel::CdcAcmModel(AcmOptions options) : m_options(options)
{
    // A packet larger than the device could never be taken.
    m_options.deviceBuffer = std::max(m_options.deviceBuffer, kPacket);
    m_options.writeSize = std::max(m_options.writeSize, 1);
}

int CdcAcmModel::queued() const
{
    return static_cast<int>(m_urbs.size()) * m_options.writeSize;
}

int CdcAcmModel::room() const
{
    return (kUrbs - static_cast<int>(m_urbs.size())) * m_options.writeSize;
}

void CdcAcmModel::run(Time until)
{
    for (;;) {
        const bool starting = m_device > 0 && lineFreeAt() <= until;
        std::optional<Time> packetAt;
        if (!m_urbs.empty() &&
            m_device + std::min(kPacket, m_urbs.front().left) <= m_options.deviceBuffer)
            packetAt = std::max(m_headReady, m_played);
        const bool taking = packetAt && *packetAt <= until;
        // A byte leaving the device at the packet's moment made the room it waited for.
        if (starting && (!taking || lineFreeAt() <= *packetAt)) {
            m_played = std::max(m_played, lineFreeAt());
            --m_device;
            startByte(lineFreeAt());
        } else if (taking) {
            const Time at = *packetAt;
            m_played = at;
            Urb& head = m_urbs.front();
            const int moved = std::min(kPacket, head.left);
            head.left -= moved;
            m_device += moved;
            if (lineFreeAt() <= at) {
                --m_device;
                startByte(at);
            }
            m_headReady = at;
            if (head.left == 0) {
                // acm_write_done(): the write buffer is free, the count drops by a write size.
                m_urbs.pop_front();
                if (!m_urbs.empty())
                    m_headReady = std::max(at, m_urbs.front().submitted + m_options.latency);
            }
        } else {
            return;
        }
    }
}

void CdcAcmModel::accept(Time now, int bytes)
{
    m_played = std::max(m_played, now);
    for (int left = bytes; left > 0;) {
        const int urb = std::min(left, m_options.writeSize);
        if (m_urbs.empty())
            m_headReady = now + m_options.latency;
        m_urbs.push_back({now, urb});
        left -= urb;
    }
}

} // namespace kibro::drivermodel
