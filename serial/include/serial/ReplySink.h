#pragma once

#include <cstdint>

// What the port's reader thread hands each burst of reply bytes to (the program's sink is
// CReplyHandoff, app/ReplyHandoff.h). Deliver, WaitGoAhead and LineGone run on the reader
// thread, Cancel on any thread, Resume on the thread that starts the reader.
class CReplySink {
public:
    virtual ~CReplySink() = default;
    // One burst: `count` bytes (1 ... 100) at `bytes`, valid during the call. Returns when the
    // burst has been handled, or as soon as the sink is cancelled.
    virtual void Deliver(const uint8_t* bytes, uint32_t count) = 0;
    // Returns when the go-ahead has been signalled (consuming it) or the sink is cancelled.
    // The reader calls it after every burst, before it reads the line again.
    virtual void WaitGoAhead() = 0;
    // Releases the reader from Deliver and WaitGoAhead, now and until Resume (ClosePort calls
    // it).
    virtual void Cancel() = 0;
    // The reader starts (again, after a close): a cancelled sink takes bursts again.
    virtual void Resume() {}
    // The line has hung up (the device unplugged, the pseudo-terminal's other end closed):
    // the reader has stopped for good and the port should be closed.
    virtual void LineGone() {}
};
