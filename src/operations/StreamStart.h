#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

struct FormState;
class SerialControl;

// Sends the stream frame of a read, verify or blank check once the line is quiet. A stream that
// was stopped may still have bytes on their way (in the board, the cable, the system's
// buffers); taken for the new stream they would be stored or compared as locations 0, 1, ...
// While the line is busy the operation waits, dropping what comes, and asks the board again
// to stop if the flow goes on.
class StreamStart : public QObject {
    Q_OBJECT
public:
    StreamStart(SerialControl &port, FormState &state, QObject *parent = nullptr);

    // The operation has set its receive mode: send the stream frame now or once the line is quiet.
    void begin();
    // The receive handlers hand over what comes while the start waits; true when it was dropped.
    bool dropWhileWaiting();
    // A stop ends the wait too.
    void cancel();
    // The board has sent a whole stream, or taken a whole write: it is not streaming now.
    void boardIdle() { m_mayBeFlowing = false; }
    bool waiting() const { return m_waiting; }

    // How long the line must be quiet before the stream is asked for.
    static constexpr int QuietMs = 100;
    // While bytes keep coming this long, the board is asked again to stop.
    static constexpr int RestopMs = 500;

private:
    void quietReached();
    void sendStreamFrame();

    SerialControl &m_port;
    FormState &m_state;
    QTimer m_quiet;
    QElapsedTimer m_flowing;
    std::int16_t m_mode = 0;
    bool m_waiting = false;
    // Until the board has been seen to finish, a stream may be flowing (one that was stopped,
    // or one another program left running before this one opened the port).
    bool m_mayBeFlowing = true;
};
