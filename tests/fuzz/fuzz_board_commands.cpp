// The software board's command parser: any bytes, in any pieces, at any pace, under any faults.
#include "FuzzInput.h"
#include "board/BoardSimulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    BoardSimulator board;
    BoardFaults faults;
    const std::uint8_t pick = input.byte();
    if (pick & 0x01)
        faults.silentFromBlock = input.upTo(64);
    if (pick & 0x02)
        faults.failDuringBlock = input.upTo(64);
    if (pick & 0x04)
        faults.failInsteadOfAck = input.upTo(64);
    if (pick & 0x08)
        faults.failByte = 0x63;
    if (pick & 0x10)
        faults.streamStopsAfter = input.byte() * 129;
    if (pick & 0x20)
        faults.streamExtraBytes = input.byte();
    if (pick & 0x40)
        faults.strayBytes = input.bytes(input.upTo(4));
    if (pick & 0x80)
        faults.stuckBits.append({input.byte() << 7 | input.byte() >> 1, input.byte()});
    board.setFaults(faults);

    qint64 nowMs = 0;
    while (!input.atEnd()) {
        const std::uint8_t step = input.byte();
        nowMs += (step & 0x80) ? 250 : step & 0x07;  // now and then a pause long enough to drop a write
        switch ((step >> 3) & 0x03) {
        case 0:
        case 1: {
            // A command frame now and then, so that the deeper states are reached often.
            QByteArray piece = (step & 0x40) ? QByteArray("\xFF", 1) + input.bytes(2) : input.bytes(input.upTo(40));
            board.receive(piece, nowMs);
            break;
        }
        case 2: {
            // A whole block of the write, the slow way being too rare for the fuzzer to find.
            board.receive(QByteArray(512, char(input.byte())), nowMs);
            break;
        }
        case 3: {
            const int maximum = 1 + input.upTo(255);
            const QByteArray out = board.transmit(maximum);
            FUZZ_REQUIRE(out.size() <= maximum);
            if (input.byte() & 1)
                board.dropOutput();
            break;
        }
        }
        FUZZ_REQUIRE(board.address() >= 0 && board.address() <= 0x7FFF);
        FUZZ_REQUIRE(board.chip().contents().size() == 32768);
    }
    return 0;
}
