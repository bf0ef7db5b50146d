// libFuzzer target for the response side of the HTTP client: the input is
// fed through the receive line buffer in pieces whose sizes come from the
// input itself, and every line goes through the status, field and location
// parsers.
#include "net/httpparse.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    THttpLineBuffer buf;
    std::size_t piece = 1 + data[0] % 64;
    std::size_t off = 1;
    while (off < size) {
        std::size_t n = std::min({piece, size - off, static_cast<std::size_t>(buf.Room())});
        buf.Append(reinterpret_cast<const char *>(data) + off, static_cast<int>(n));
        off += n;
        QByteArray line;
        while (buf.NextLine(line)) {
            int code = 0;
            QString reason;
            ParseStatusLine(line, code, reason);
            QByteArray name;
            QString value;
            if (SplitHeaderLine(line, name, value)) {
                int v = 0;
                ParseDecimal(value, v);
                TRequestTarget t{"a.test", "80", "a.test", "/"};
                ApplyLocation(value, (data[0] & 1) != 0, t);
                SplitUrl(value);
            }
        }
        if (buf.Full())
            buf.Clear();
        piece = 1 + (piece * 7 + 3) % 97;
    }
    buf.TakeAll();
    return 0;
}
