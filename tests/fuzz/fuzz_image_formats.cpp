// The Intel HEX and S-record readers over any file contents.
#include "FuzzInput.h"
#include "operations/ImageFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const int which = input.upTo(2);
    const QByteArray contents = input.rest();
    using namespace ImageFormats;
    const Parsed parsed = which == 0   ? parseIntelHex(contents)
                          : which == 1 ? parseSRecord(contents)
                                       : parse(QStringLiteral("image.s19"), contents);
    if (parsed.ok()) {
        FUZZ_REQUIRE(parsed.image.size() == 32768);
    } else {
        FUZZ_REQUIRE(!parsed.error.isEmpty());
    }
    return 0;
}
