// The service panel's number reader over any text a box can hold.
#include "FuzzInput.h"
#include "operations/NumberText.h"

#include <QString>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArray raw = input.rest();
    for (const QString &text : {QString::fromUtf8(raw), QString::fromLatin1(raw)}) {
        const double value = numberAtStart(text);
        FUZZ_REQUIRE(!std::isnan(value));
        // A character that cannot continue a number leaves the reading as it was.
        FUZZ_REQUIRE(numberAtStart(text + u'#') == value);
        if (const auto whole = roundedToInt32(value))
            FUZZ_REQUIRE(std::fabs(double(*whole) - value) <= 0.5);
        if (const auto byte = roundedToByte(value)) {
            FUZZ_REQUIRE(std::fabs(double(*byte) - value) <= 0.5);
            FUZZ_REQUIRE(roundedToInt32(value) == std::optional<std::int32_t>(*byte));
        }
    }
    return 0;
}
