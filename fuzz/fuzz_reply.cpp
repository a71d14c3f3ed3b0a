// Fuzzes the reply checker, the length test that tells when a reply is
// whole and the Modbus TCP unwrapping: any reply bytes against any request.  The first
// bytes of the input choose the request (function, start, count); the rest is
// the reply.  The block is surrounded by guard bytes that must stay intact,
// and ASan catches any read past the reply.
#include "deviceparams.h"
#include "modbus.h"
#include "tcptransport.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
struct Guarded {
    quint8 before[64];
    ParamBlock block;
    quint8 after[64];
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    static const quint8 functions[] = {3, 4, 6, 14, 16, 20, 21, 43};
    const quint8 function = functions[data[0] % sizeof functions];
    const quint16 start = quint16((data[1] << 8) | data[2]);
    const quint16 count = quint16((data[3] << 8) | data[4]);
    const bool checkCrc = data[5] & 1;
    data += 6;
    size -= 6;

    Guarded g;
    std::memset(&g, 0xA5, sizeof g);
    quint16 scratch = 0;
    const Modbus::Image image{&g.block, &scratch};

    // The request the reply is checked against: a register request, or for
    // function 14 a memory block at start:count (whose builder is fuzzed too).
    Modbus::Request req;
    if (function == 14)
        Modbus::buildBlockRequest(req, 0, 14, (quint32(start) << 16) | count, data,
                                  int(size < Modbus::RequestCapacity ? size : Modbus::RequestCapacity));
    else
        Modbus::buildRequest(req, 1, function, 0x6060, start, count, image);
    if (req.length < 0 || req.length > Modbus::RequestCapacity)
        std::abort();

    // Exactly the received bytes, in a buffer of their own size.
    std::vector<quint8> reply(data, data + size);
    if (checkCrc)
        Modbus::checkReceived(reply.data(), int(reply.size()), req, image);
    else if (size >= 2)
        Modbus::checkReply(reply.data(), int(reply.size()), req, image);

    // The exchange loop's test whether a reply is whole reads only the bytes
    // received so far, each prefix in a buffer of its own size.
    for (size_t have = 0; have <= size && have <= 300; ++have) {
        std::vector<quint8> part(data, data + have);
        const int n = Modbus::replyLength(part.data(), int(have));
        if (n < -1 || n > int(have) || (n > 0 && n < 5))
            std::abort();
        Modbus::replyComplete(part.data(), int(have));
    }

    // The same bytes as received from a Modbus TCP gateway: whatever is
    // handed over is one RTU frame with a matching CRC.
    QByteArray stream(reinterpret_cast<const char *>(data), int(size));
    const QByteArray frame = Mbap::takeRtu(stream, quint16(start));
    if (!frame.isEmpty()
        && (frame.size() < 4 || frame.size() > Mbap::MaxLength + 2
            || !Modbus::crcMatches(reinterpret_cast<const quint8 *>(frame.constData()), frame.size())))
        std::abort();

    for (quint8 b : g.before)
        if (b != 0xA5)
            std::abort();
    for (quint8 b : g.after)
        if (b != 0xA5)
            std::abort();
    return 0;
}
