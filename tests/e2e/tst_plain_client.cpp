// A client that knows nothing of Romivo's code, only the board's wire protocol, talking to
// romivo-board through plain POSIX calls.
#include "BoardProcess.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

class PlainPort {
public:
    explicit PlainPort(const QString &path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios settings{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::cfsetspeed(&settings, B19200);
            ::tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~PlainPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool send(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Reads until `count` bytes have come or the line has been quiet for `quietMs`.
    QByteArray receive(qsizetype count, int quietMs = 1000)
    {
        QByteArray bytes;
        while (bytes.size() < count) {
            pollfd wait{m_fd, POLLIN, 0};
            if (::poll(&wait, 1, quietMs) <= 0)
                break;
            char buffer[4096];
            const ssize_t got = ::read(m_fd, buffer, size_t(qMin<qsizetype>(sizeof buffer, count - bytes.size())));
            if (got <= 0)
                break;
            bytes.append(buffer, qsizetype(got));
        }
        return bytes;
    }

private:
    int m_fd = -1;
};

const QByteArray writeStart = QByteArray::fromHex("ff471c");
const QByteArray nextBlock = QByteArray::fromHex("ff471d");
const QByteArray streamAll = QByteArray::fromHex("ff7e1e");
const QByteArray stop = QByteArray::fromHex("63");

} // namespace

class TestPlainClient : public QObject {
    Q_OBJECT
private slots:
    void writeImageStreamItBackAndStopAStream();
};

void TestPlainClient::writeImageStreamItBackAndStopAStream()
{
    BoardProcess board;
    PlainPort port(board.path());
    QVERIFY(port.isOpen());
    const QByteArray image = everyByteValue();

    QVERIFY(port.send(writeStart));
    for (int block = 0; block < 64; ++block) {
        for (int group = 0; group < 512; group += 8)
            QVERIFY(port.send(image.mid(block * 512 + group, 8)));
        QCOMPARE(port.receive(1), QByteArray::fromHex("0d"));
        QVERIFY(port.send(nextBlock));
    }

    QVERIFY(port.send(streamAll));
    QCOMPARE(port.receive(32768), image);
    QCOMPARE(port.receive(1, 200), QByteArray());  // nothing after the chip's last byte

    QVERIFY(port.send(streamAll));
    const QByteArray head = port.receive(1000);
    QCOMPARE(head, image.left(1000));
    QVERIFY(port.send(stop));
    const QByteArray tail = port.receive(32768, 300);
    QVERIFY2(head.size() + tail.size() < 32768, "the stop byte ends the stream");
    QCOMPARE(tail, image.mid(1000, tail.size()));

    // Stopped, the board takes the next command at once.
    QVERIFY(port.send(QByteArray::fromHex("ff0012")));
    QCOMPARE(port.receive(1), image.left(1));
}

QTEST_GUILESS_MAIN(TestPlainClient)
#include "tst_plain_client.moc"
