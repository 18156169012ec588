#pragma once

#include <cstdint>

// What the port's reader thread hands each burst of reply bytes to (the program's sink is
// CReplyHandoff, app/ReplyHandoff.h). Deliver and WaitGoAhead run on the reader thread, Cancel
// on any thread.
class CReplySink {
public:
    virtual ~CReplySink() = default;
    // One burst: `count` bytes (1 ... 100) at `bytes`, valid during the call. Returns when the
    // burst has been handled, or as soon as the sink is cancelled.
    virtual void Deliver(const uint8_t* bytes, uint32_t count) = 0;
    // Returns when the go-ahead has been signalled (consuming it) or the sink is cancelled.
    // The reader calls it after every burst, before it reads the line again.
    virtual void WaitGoAhead() = 0;
    // Releases the reader from Deliver and WaitGoAhead, now and for good (ClosePort calls it).
    virtual void Cancel() = 0;
};
