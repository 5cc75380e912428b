// Every receive handling fed any bytes, in any pieces, in every receive mode: the operations are
// started and stopped as the window starts and stops them, over a port whose far end is the input.
#include "FuzzInput.h"
#include "ScriptedOperator.h"
#include "ScriptedPort.h"
#include "operations/Session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace {

QCoreApplication &application()
{
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    application();
    static QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("read.bin"));
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QFile::remove(target);
    static const bool imageWritten = [&] {
        QFile file(image);
        return file.open(QIODevice::WriteOnly) && file.write(QByteArray(32768, char(0xFF))) == 32768;
    }();
    FUZZ_REQUIRE(imageWritten);

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
        case 4:
            // The write's own receive state, without its blocking loop.
            state.rxMode = RxMode::Write;
            state.rxIndex = 0;
            state.ackFlag = state.crFlag = 0;
            break;
        case 5: session.stop(); break;
        case 6: session.timerSerialTimeout().isActive() ? session.service().timerSerialTimeout_Timer() : void(); break;
        default: port.inject(input.bytes(1 + (step >> 4) * 8 + input.upTo(7))); break;
        }
        QCoreApplication::processEvents();
        FUZZ_REQUIRE(state.rxMode >= RxMode::Idle && state.rxMode <= RxMode::BlankCheck);
        // A read never stores more than the chip holds.
        FUZZ_REQUIRE(QFileInfo(target).size() <= 32768);
    }
    session.stop();
    QCoreApplication::processEvents();
    return 0;
}
