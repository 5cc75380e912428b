#include "CliRunner.h"

#include "link/CommandFrame.h"
#include "link/PortName.h"
#include "operations/ImageFile.h"
#include "operations/ImageFormats.h"
#include "operations/Messages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

namespace {

// The first 32,768 bytes of a file the read just wrote.
QByteArray readBack(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(Chip::Size) : QByteArray();
}

} // namespace

bool PrintingOperator::show(const OperatorMessage &message)
{
    if (message.kind != OperatorMessage::Kind::Question && !silent) {
        if (progress)
            progress->complete();
        std::fputs(qPrintable(message.text + u'\n'), stdout);
        std::fflush(stdout);
    }
    return true;
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
    const int done = qBound(0, m_state.currentAddress, Chip::Size);
    const double seconds = qMax(0.001, m_clock.elapsed() / 1000.0);
    const double rate = done / seconds;
    const QString left = rate > 0 ? QString::number(int((Chip::Size - done) / rate)) + QStringLiteral(" s left")
                                  : QStringLiteral("");
    const QString line = QStringLiteral("\r\x1b[K%1 %2/%6 %3% %4 B/s %5")
                             .arg(m_operation, -6)
                             .arg(done, 5)
                             .arg(done * 100 / Chip::Size, 3)
                             .arg(int(rate), 5)
                             .arg(left)
                             .arg(Chip::Size);
    std::fputs(qPrintable(line), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

void TerminalProgress::complete()
{
    if (m_drawn)
        draw();
    finish();
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
      m_progress(m_session.state(), !options.quiet && ::isatty(STDERR_FILENO)),
      m_out(stdout),
      m_err(stderr)
{
    m_session.setProgressDisplay(&m_progress);
    m_operator.progress = &m_progress;
    m_session.dispatcher().setDsrHandling([this] {
        m_boardSeen = true;
        emit wakeUp();
    });
    connect(&m_session, &Session::finished, this, [this](OperationResult result) {
        m_result = result;
        emit wakeUp();
    });
    connect(&m_port, &SerialControl::portLost, this, [this](const QString &reason) {
        m_portLost = true;
        m_lostReason = reason;
        emit wakeUp();
    });
}

void CliRunner::interrupt()
{
    m_interrupted = true;
    m_session.stop();
    emit wakeUp();
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
        m_port.simulated().board().chip().load(chip.isOpen() ? chip.read(Chip::Size) : QByteArray());
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
              << error.reason;
        // Refused access is most often a user outside the group that owns serial devices.
        if (error.kind == LinkError::Kind::AccessDenied)
            m_err << "; unless another program holds it, join the group that owns it (on Linux: "
                     "sudo usermod -aG dialout $USER, then log in again)";
        m_err << Qt::endl;
        return false;
    }
    QEventLoop loop;
    connect(this, &CliRunner::wakeUp, &loop, &QEventLoop::quit);
    QTimer::singleShot(int(m_options.waitBoardSeconds * 1000), &loop, &QEventLoop::quit);
    if (!m_boardSeen && !m_interrupted && !m_portLost)
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
    // A raw image of another size is most often the wrong file, or one made for another chip.
    if (ImageFormats::formatOf(path) == ImageFormats::Format::Raw && file.size() != Chip::Size && !m_options.anySize)
        return refuseFile(path, QStringLiteral("%1 bytes, not the chip's 32768 (--any-size takes it as the window does)").arg(file.size()));
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

    if (step.kind == Kind::Write && namesFile && !m_options.noCheck) {
        if (const std::optional<int> status = checkBeforeWrite(image))
            return *status;
    }
    m_progress.begin(stepName(step.kind));
    m_result.reset();
    switch (step.kind) {
    case Kind::Write:
        m_session.write().Command3_Click(path);
        break;
    case Kind::Read:
        m_session.read().Command6_Click(path);
        break;
    case Kind::Verify:
        m_session.check().Command7_Click(path);
        break;
    case Kind::Blank:
        m_session.check().Command8_Click();
        break;
    }
    if (!m_result && !waitForResult())
        return m_portLost ? reportLostPort() : m_interrupted ? Interrupted : Failure;
    if (m_portLost)
        return reportLostPort();

    switch (m_result->outcome) {
    case Outcome::Written:
    case Outcome::Verified:
        printChecksum(image);
        return Success;
    case Outcome::ReadDone:
        printChecksum(readBack(path));
        return Success;
    case Outcome::Blank:
        return Success;
    case Outcome::WriteFailed:
    case Outcome::ReadInterrupted:
    case Outcome::Differs:
    case Outcome::NotBlank:
    case Outcome::Stopped:
        return m_interrupted ? Interrupted : Failure;
    case Outcome::NotStarted:
        m_err << "romivo-cli: cannot open " << step.file << Qt::endl;
        return Trouble;
    case Outcome::NoFileSelected:
    case Outcome::NotWritable:
    case Outcome::InvalidImage:
    case Outcome::Cancelled:
        break;
    }
    return Trouble;
}

std::optional<int> CliRunner::checkBeforeWrite(const QByteArray &image)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("chip.bin"));
    m_progress.begin(QStringLiteral("check"));
    m_result.reset();
    m_operator.silent = true;
    m_session.read().Command6_Click(path);
    const bool read = m_result || waitForResult();
    m_operator.silent = false;
    if (m_portLost)
        return reportLostPort();
    if (!read || m_result->outcome != Outcome::ReadDone)
        return m_interrupted ? Interrupted : Failure;
    const QByteArray chip = readBack(path);
    if (chip == image) {
        m_out << "the chip already holds the image: not written again" << Qt::endl;
        return Success;
    }
    int refusing = 0;
    int first = -1;
    for (int at = 0; at < Chip::Size; ++at) {
        if ((quint8(chip.at(at)) & quint8(image.at(at))) != quint8(image.at(at)) && refusing++ == 0)
            first = at;
    }
    if (refusing == 0)
        return std::nullopt;
    const auto hex = [](int value, int digits) { return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0')).toUpper().replace(u'X', u'x'); };
    m_out << refusing << " of the chip's locations cannot take the image (a bit would have to go from 0 to 1), the first "
          << hex(first, 4) << ": chip " << hex(quint8(chip.at(first)), 2) << ", image " << hex(quint8(image.at(first)), 2)
          << "; nothing was written" << Qt::endl;
    return Failure;
}

bool CliRunner::waitForResult()
{
    // Sleeps until the operation announces its end, the port goes, an interrupt comes, or the
    // stream brings nothing for the idle time-out (checked a few times a second).
    QEventLoop loop;
    const auto connection = connect(this, &CliRunner::wakeUp, &loop, &QEventLoop::quit);
    QTimer watchdog;
    const qint64 idleMs = qint64(m_options.idleTimeoutSeconds * 1000);
    watchdog.setInterval(int(qBound(qint64(10), idleMs / 5, qint64(250))));
    QElapsedTimer quiet;
    quiet.start();
    int lastAddress = m_session.state().currentAddress;
    bool stalled = false;
    connect(&watchdog, &QTimer::timeout, &loop, [&] {
        if (m_session.state().currentAddress != lastAddress) {
            lastAddress = m_session.state().currentAddress;
            quiet.restart();
        } else if (quiet.elapsed() >= idleMs) {
            stalled = true;
            loop.quit();
        }
    });
    watchdog.start();
    if (!m_result && !m_interrupted && !m_portLost)
        loop.exec();
    disconnect(connection);
    if (stalled && !m_result) {
        m_session.stop();
        m_progress.finish();
        m_operator.silent = false;  // a stall is told, also in the check before a write
        m_operator.show(Messages::message(MessageId::Stalled, {{}, {}, m_session.state().currentAddress}));
        return false;
    }
    return m_result.has_value() && !m_interrupted && !m_portLost;
}

int CliRunner::reportLostPort()
{
    m_session.stop();
    m_progress.finish();
    m_operator.show(Messages::message(MessageId::PortLost, {m_options.port.trimmed(), m_lostReason, 0}));
    return Failure;
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
