#pragma once

// What the fetch hands a response's body to: the consumer's interface, and the line splitting the
// text consumers share. Private to the fetch.

#include "PageBudget.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace fetchsink {

/// A line that never ends is cut after this many bytes beyond the caller's limit, so a body
/// without line feeds cannot grow without bound until the time-out.
constexpr std::size_t kLongLineSlack = 1024 * 1024;

struct HeaderSink;

/// Makes room for `extra` bytes in `s` within the lease; a wait given up because the fetch was
/// cancelled fails the page, which must not pass for a page read to its end.
void FitInLease(CPageLease* lease, std::string& s, std::size_t extra);

class LineReader
{
public:
    /// When set, the line being gathered grows only as far as the lease lets it.
    CPageLease* lease = nullptr;

    /// Feeds body bytes; `onLine(line)` returns false to stop. Returns false once stopped.
    template <typename OnLine> bool Feed(const char* data, std::size_t size, std::size_t cutAt, OnLine&& onLine)
    {
        const char* p = data;
        const char* end = data + size;
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* segmentEnd = lf ? lf : end;
            AppendWithoutCr(p, segmentEnd);
            if (lf) {
                if (!onLine(m_partial))
                    return false;
                m_partial.clear();
                p = lf + 1;
            } else {
                p = end;
            }
            if (m_partial.size() > cutAt) {
                // A line without end: take what came as the last line and stop.
                onLine(m_partial);
                m_partial.clear();
                return false;
            }
        }
        return true;
    }

    /// The last line when the body did not end with LF.
    template <typename OnLine> void Finish(OnLine&& onLine)
    {
        if (!m_partial.empty())
            onLine(m_partial);
        m_partial.clear();
    }

    /// The line being gathered is no longer needed; its memory goes back to the lease.
    void Release()
    {
        if (lease)
            lease->Drop(m_partial);
    }

private:
    void AppendWithoutCr(const char* from, const char* to)
    {
        while (from < to) {
            const char* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(to - from)));
            const char* stop = cr ? cr : to;
            FitInLease(lease, m_partial, static_cast<std::size_t>(stop - from));
            m_partial.append(from, stop);
            from = cr ? cr + 1 : to;
        }
    }

    std::string m_partial;
};

/// Body consumer: gets the bytes, returns false to stop reading (which is not an error).
struct BodySink
{
    virtual ~BodySink() = default;
    virtual bool Write(const char* data, std::size_t size) = 0;
    /// The whole body has arrived (not called when the transfer failed).
    virtual void Finish() {}
    /// The memory this sink's bytes are counted in, if any.
    virtual const CPageLease* Lease() const { return nullptr; }
    bool stopped = false;   // the sink ended the transfer on purpose
    bool failed = false;    // the sink could not take the bytes
    CURL* handle = nullptr; // the transfer's handle while it runs, for the response's headers
    /// The transfer was ended at the body of a redirect, which nobody reads.
    bool redirect = false;
    /// The transfer's headers, while it runs.
    const HeaderSink* headers = nullptr;
};

} // namespace fetchsink
