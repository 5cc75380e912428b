// The port box's rule over any text, for both platforms' naming.
#include "FuzzInput.h"
#include "link/PortName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QString text = QString::fromUtf8(input.rest());
    for (const PortPlatform platform : {PortPlatform::Windows, PortPlatform::Unix}) {
        const PortSelection selection = selectPort(text, platform);
        const QString trimmed = text.trimmed();
        switch (selection.kind) {
        case PortSelection::Kind::None:
            FUZZ_REQUIRE(selection.systemName.isEmpty());
            break;
        case PortSelection::Kind::Simulated:
            FUZZ_REQUIRE(trimmed.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0);
            break;
        case PortSelection::Kind::Serial:
            FUZZ_REQUIRE(!selection.systemName.isEmpty());
            FUZZ_REQUIRE(selection.systemName == selection.systemName.trimmed());
            // A name is never turned into the simulated board, nor a number into another kind.
            FUZZ_REQUIRE(selection.systemName.compare(QLatin1String("SIM"), Qt::CaseInsensitive) != 0);
            break;
        }
        // Blanks around the text never change what it selects.
        const PortSelection padded = selectPort(QStringLiteral(" \t") + text + QStringLiteral(" "), platform);
        FUZZ_REQUIRE(padded.kind == selection.kind && padded.systemName == selection.systemName);
    }
    return 0;
}
