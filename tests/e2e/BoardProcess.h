#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

// romivo-board started for one test: the pseudo-terminal it serves, ended with the test.
class BoardProcess {
public:
    explicit BoardProcess(const QStringList &arguments = {})
    {
        m_process.setProgram(QStringLiteral(ROMIVO_BOARD_TOOL));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~BoardProcess() { stop(); }

    QString path() const { return m_path; }
    // Ends the board as a signal does (it saves its chip when told to).
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.terminate();
        return m_process.waitForFinished(5000) && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QString m_path;
};

inline QByteArray everyByteValue(int size = 32768)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i ^ (i >> 8)) & 0xFF);
    return image;
}
