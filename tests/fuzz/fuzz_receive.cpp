// Every receive handling fed any bytes, in any pieces, in every receive mode: the operations are
// started and stopped as the window starts and stops them, over a port whose far end is the input.
#include "Files.h"
#include "FuzzInput.h"
#include "ScriptedOperator.h"
#include "ScriptedPort.h"
#include "operations/Session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_receive", *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    static QTemporaryDir dir;
    static const QString target = dir.filePath("read.bin"), image = writeFile(dir.filePath("image.bin"), erased());
    QFile::remove(target);
    FuzzInput input(data, size);
    ScriptedPort port;
    port.open();
    ScriptedOperator op;
    Session session(port, op);
    FormState &state = session.state();
    while (!input.atEnd()) {
        const std::uint8_t step = input.byte();
        switch (step % 10) {
        case 0: session.read().Command6_Click(target); break;
        case 1: session.check().Command7_Click(image); break;
        case 2: session.check().Command8_Click(); break;
        case 3: session.service().readData(); break;
        case 4:  // the write's own receive state, without its blocking loop
            state.rxMode = RxMode::Write;
            state.rxIndex = state.ackFlag = state.crFlag = 0;
            break;
        case 5: session.stop(); break;
        case 6: session.timerSerialTimeout().isActive() ? session.service().timerSerialTimeout_Timer() : void(); break;
        default: port.inject(input.bytes(1 + (step >> 4) * 8 + input.upTo(7))); break;
        }
        QCoreApplication::processEvents();
        FUZZ_REQUIRE(state.rxMode >= RxMode::Idle && state.rxMode <= RxMode::BlankCheck);
        FUZZ_REQUIRE(QFileInfo(target).size() <= 32768);  // a read never stores more than the chip holds
    }
    session.stop();
    QCoreApplication::processEvents();
    return 0;
}
