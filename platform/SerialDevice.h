#pragma once

#include "platform/SerialTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Functions of EscapeCommFunction, with their Windows values.
enum : unsigned { SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6, SETBREAK = 8, CLRBREAK = 9 };

// One error vocabulary for every serial call; the OS error stays available
// through LastError().
enum class SerialResult {
    Ok,
    AccessDenied, // another program holds the port
    NotFound,     // no such device, or no hardware behind it
    NotSupported, // a setting the device cannot do; nothing was changed
    HungUp,       // the line went away (unplugged, the pty master closed)
    Aborted,      // ended by CancelIo
    Rejected,     // the driver refused the request
    Closed,       // the device is not open
    TimedOut,     // the line did not finish within its bound
    Failed,
};

const char* SerialResultText(SerialResult result);
// The symbolic name of an errno ("EIO"); empty for 0 and for unknown numbers.
std::string ErrorName(int error);

// A serial line below TComPort. Read, Write and WaitEvent may be called from
// different threads at the same time; Open and Close only while no other call
// runs.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Exclusive: a second opener of the same device gets AccessDenied.
    virtual SerialResult Open(const std::string& path) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual SerialResult GetState(DCB& dcb) = 0;
    // All or nothing: on failure the line keeps its previous settings.
    virtual SerialResult SetState(const DCB& dcb) = 0;
    virtual SerialResult GetTimeouts(COMMTIMEOUTS& timeouts) = 0;
    virtual SerialResult SetTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    // Driver queue sizes; a device may ignore them.
    virtual SerialResult SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;

    // Takes the bytes that have arrived and returns at once; waits, up to the
    // total read time-out, only while nothing has come. got 0 is not an error.
    // Read and Write give HungUp when the line went away and Failed when the
    // driver failed; LastError() is then their errno, 0 when there was none
    // (a hang-up seen as end of file or by poll).
    virtual SerialResult Read(void* buffer, std::size_t count, std::size_t& got) = 0;
    // Writes within the total write time-out; written < count is a short write.
    virtual SerialResult Write(const void* data, std::size_t count, std::size_t& written) = 0;
    // Waits until the bytes written have left the line, so that a change of
    // settings after it does not reach them; TimedOut when they have not left
    // within WriteBoundMs for what was queued (a line held by flow control).
    virtual SerialResult Drain() = 0;
    // Blocks until one of the EV_ bits in mask happens, CancelIo, or timeoutMs;
    // returns the bits that happened (0 on time-out). EV_RXCHAR reports bytes
    // that arrived since the last report, not bytes still waiting to be read.
    // EV_HANGUP comes once per open; a hung-up line then only sleeps out the
    // wait, so that a watch cannot spin on it.
    virtual unsigned WaitEvent(unsigned mask, std::uint32_t timeoutMs) = 0;
    // CE_ bits of the line errors since the last call.
    virtual unsigned ClearError() = 0;
    virtual SerialResult Purge(unsigned flags) = 0;
    // SETRTS, CLRRTS, SETDTR, CLRDTR, SETBREAK, CLRBREAK.
    virtual SerialResult EscapeCommFunction(unsigned function) = 0;
    // Ends WaitEvent, Read and every write that has no time limit of its own,
    // now and until the device is closed; thread-safe.
    virtual void CancelIo() = 0;

    // errno of the last failed call, 0 if none.
    virtual int LastError() const = 0;
};

} // namespace platform
