#include "CliRunner.h"

#include "link/CommandFrame.h"
#include "link/PortName.h"
#include "operations/ImageFile.h"
#include "operations/ImageFormats.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace {

// The first 32,768 bytes of a file the read just wrote.
QByteArray readBack(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(Frame::ImageSize) : QByteArray();
}

} // namespace

bool PrintingOperator::show(const OperatorMessage &message)
{
    if (message.kind != OperatorMessage::Kind::Question) {
        std::fputs(qPrintable(message.text + u'\n'), stdout);
        std::fflush(stdout);
        m_texts.append(message.text);
    }
    return true;
}

QStringList PrintingOperator::takeTexts()
{
    QStringList texts;
    texts.swap(m_texts);
    return texts;
}

TerminalProgress::TerminalProgress(const FormState &state, bool enabled) : m_state(state), m_enabled(enabled)
{
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &TerminalProgress::draw);
}

void TerminalProgress::begin(const QString &operation)
{
    m_operation = operation;
    m_clock.start();
}

void TerminalProgress::setRefreshing(bool on)
{
    if (!m_enabled)
        return;
    if (on) {
        m_timer.start();
    } else {
        m_timer.stop();
        finish();
    }
}

void TerminalProgress::draw()
{
    if (!m_enabled)
        return;
    const int done = qBound(0, m_state.currentAddress, Frame::ImageSize);
    const double seconds = qMax(0.001, m_clock.elapsed() / 1000.0);
    const double rate = done / seconds;
    const QString left = rate > 0 ? QString::number(int((Frame::ImageSize - done) / rate)) + QStringLiteral(" s left")
                                  : QStringLiteral("");
    const QString line = QStringLiteral("\r\x1b[K%1 %2/32768 %3% %4 B/s %5")
                             .arg(m_operation, -6)
                             .arg(done, 5)
                             .arg(done * 100 / Frame::ImageSize, 3)
                             .arg(int(rate), 5)
                             .arg(left);
    std::fputs(qPrintable(line), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

void TerminalProgress::finish()
{
    if (m_drawn)
        std::fputs("\r\x1b[K", stderr);
    m_drawn = false;
}

CliRunner::CliRunner(const CliOptions &options, QObject *parent)
    : QObject(parent),
      m_options(options),
      m_progress(m_state, !options.quiet && ::isatty(STDERR_FILENO)),
      m_out(stdout),
      m_err(stderr)
{
    m_dispatcher.setDsrHandling([this] { m_boardSeen = true; });
    connect(&m_port, &SerialControl::portLost, this, [this](const QString &reason) {
        m_portLost = true;
        m_lostReason = reason;
    });
}

void CliRunner::interrupt()
{
    m_interrupted = true;
    m_operations.stop();
}

int CliRunner::run()
{
    const bool simulated = selectPort(m_options.port).kind == PortSelection::Kind::Simulated;
    if (simulated)
        m_err << "romivo-cli: SIM is the simulated board: no chip is programmed or read" << Qt::endl;
    if (simulated && !m_options.simChip.isEmpty()) {
        QFile chip(m_options.simChip);
        if (chip.exists() && !chip.open(QIODevice::ReadOnly)) {
            m_err << "romivo-cli: cannot read the simulated chip " << m_options.simChip << ": " << chip.errorString() << Qt::endl;
            return Trouble;
        }
        m_port.simulated().board().chip().load(chip.isOpen() ? chip.read(Frame::ImageSize) : QByteArray());
    }
    if (simulated && !m_options.simFaults.isEmpty()) {
        BoardFaults faults;
        for (const QString &fault : m_options.simFaults)
            faults.apply(fault, nullptr);
        m_port.simulated().board().setFaults(faults);
    }
    int status = Success;
    if (!openBoard()) {
        status = m_interrupted ? Interrupted : m_portLost ? reportLostPort() : Trouble;
    } else {
        for (const CliOptions::Step &step : m_options.steps) {
            status = runStep(step);
            if (m_interrupted)
                status = Interrupted;
            if (status != Success)
                break;
        }
    }
    // Whatever the last step sent is on its way to the board before the program ends.
    m_port.close();
    if (simulated && !m_options.simChip.isEmpty() && !saveSimulatedChip() && status == Success)
        status = Trouble;
    return status;
}

bool CliRunner::openBoard()
{
    m_port.setCommPort(m_options.port);
    if (!m_port.open()) {
        const LinkError error = m_port.lastError();
        m_err << "romivo-cli: cannot open the port " << (error.port.isEmpty() ? m_options.port : error.port) << ": "
              << error.reason << Qt::endl;
        return false;
    }
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (m_boardSeen || m_interrupted || !m_port.isOpen())
            loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(int(m_options.waitBoardSeconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    if (m_interrupted || m_portLost)
        return false;
    if (!m_boardSeen) {
        m_err << "romivo-cli: no board seen on " << m_options.port << " (no DSR change in "
              << m_options.waitBoardSeconds << " s)" << Qt::endl;
        return false;
    }
    return true;
}

bool CliRunner::refuseFile(const QString &path, const QString &reason)
{
    m_err << "romivo-cli: " << path << ": " << reason << Qt::endl;
    return false;
}

bool CliRunner::loadImage(const QString &path, QByteArray *image)
{
    // Checked before anything is sent: the window creates a missing file, a script gets told.
    if (ImageFile::isPipeOrSocket(path))
        return refuseFile(path, QStringLiteral("not a regular file (a FIFO or socket)"));
    QFile file(path);
    if (!QFileInfo::exists(path) || !file.open(QIODevice::ReadOnly))
        return refuseFile(path, QFileInfo::exists(path) ? file.errorString() : QStringLiteral("No such file or directory"));
    const ImageFormats::Parsed parsed = ImageFormats::decode(file);
    if (!parsed.ok())
        return refuseFile(path, parsed.error);
    *image = parsed.image;
    return true;
}

int CliRunner::runStep(const CliOptions::Step &step)
{
    using Kind = CliOptions::Step::Kind;
    const QString &path = step.file;
    QByteArray image;
    // A directory is the operations' own case: "Nessun file selezionato".
    const bool namesFile = !path.endsWith(u'/') && !QFileInfo(path).isDir();
    if ((step.kind == Kind::Write || step.kind == Kind::Verify) && namesFile && !loadImage(path, &image))
        return Trouble;
    if (step.kind == Kind::Read && ImageFile::isPipeOrSocket(path)) {
        refuseFile(path, QStringLiteral("not a regular file (a FIFO or socket)"));
        return Trouble;
    }

    m_progress.begin(stepName(step.kind));
    m_operator.takeTexts();
    switch (step.kind) {
    case Kind::Write: {
        m_operations.write.Command3_Click(path);
        if (m_portLost)
            return reportLostPort();
        const QStringList texts = m_operator.takeTexts();
        if (texts.contains(QStringLiteral("CORRETTO"))) {
            printChecksum(image);
            return Success;
        }
        if (texts.contains(QStringLiteral("ERRORE")))
            return Failure;
        if (texts.isEmpty())
            m_err << "romivo-cli: cannot open " << step.file << Qt::endl;
        return Trouble;
    }
    case Kind::Read:
        m_operations.read.Command6_Click(path);
        break;
    case Kind::Verify:
        m_operations.check.Command7_Click(path);
        break;
    case Kind::Blank:
        m_operations.check.Command8_Click();
        break;
    }

    if (m_state.rxMode == RxMode::Idle) {  // it did not start: the file would not open
        if (m_operator.takeTexts().isEmpty())
            m_err << "romivo-cli: cannot open " << step.file << Qt::endl;
        return Trouble;
    }
    if (!waitUntilIdle())
        return m_portLost ? reportLostPort() : Failure;
    const QStringList texts = m_operator.takeTexts();
    switch (step.kind) {
    case Kind::Read:
        if (!texts.contains(QStringLiteral("TERMINATO")))
            return Failure;
        printChecksum(readBack(path));
        return Success;
    case Kind::Verify:
        if (!texts.contains(QStringLiteral("VERIFICA ESEGUITA CORRETTAMENTE")))
            return Failure;
        printChecksum(image);
        return Success;
    case Kind::Blank:
        return texts.contains(QStringLiteral("IL CHIP E' VUOTO")) ? Success : Failure;
    case Kind::Write:
        break;
    }
    return Failure;
}

int CliRunner::reportLostPort()
{
    m_operations.stop();
    m_progress.finish();
    m_out << "COLLEGAMENTO PERSO SULLA PORTA " << m_options.port.trimmed() << '\n' << m_lostReason << Qt::endl;
    return Failure;
}

bool CliRunner::waitUntilIdle()
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer quiet;
    quiet.start();
    int lastAddress = m_state.currentAddress;
    bool stalled = false;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (m_state.rxMode == RxMode::Idle || m_interrupted || m_portLost) {
            loop.quit();
            return;
        }
        if (m_state.currentAddress != lastAddress) {
            lastAddress = m_state.currentAddress;
            quiet.restart();
        } else if (quiet.elapsed() >= qint64(m_options.idleTimeoutSeconds * 1000)) {
            stalled = true;
            loop.quit();
        }
    });
    poll.start(20);
    loop.exec();
    if (stalled) {
        m_operations.stop();
        m_progress.finish();
        m_out << "FERMATO: NESSUN DATO DAL CHIP ALLA LOCAZIONE " << m_state.currentAddress << Qt::endl;
        return false;
    }
    return !m_interrupted && !m_portLost;
}

void CliRunner::printChecksum(const QByteArray &image)
{
    const auto hex = [](quint32 value, int digits) {
        return QString::number(value, 16).rightJustified(digits, u'0').toUpper();
    };
    m_out << "checksum " << hex(ImageFormats::byteSum(image), 4) << ' ' << hex(ImageFormats::crc32(image), 8) << Qt::endl;
}

bool CliRunner::saveSimulatedChip()
{
    QFile chip(m_options.simChip);
    const QByteArray contents = m_port.simulated().board().chip().contents();
    if (!chip.open(QIODevice::WriteOnly | QIODevice::Truncate) || chip.write(contents) != contents.size()
        || !chip.flush()) {
        m_err << "romivo-cli: cannot save the simulated chip to " << m_options.simChip << ": " << chip.errorString()
              << Qt::endl;
        return false;
    }
    return true;
}
