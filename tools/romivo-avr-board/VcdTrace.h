// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>
#include <cstdint>

// The chip's pins as a value change dump, for GTKWave: CE, OE, VPP and VCCP (1 while that
// switched supply is on), A (15 bits) and D (the data pins as the chip sees them, z where nobody
// drives them).
class VcdTrace {
public:
    struct Levels {
        bool ce = true;
        bool oe = true;
        bool vpp = false;
        bool vccp = false;
        int address = 0;
        QByteArray data = QByteArrayLiteral("zzzzzzzz"); // D7 first
        bool operator==(const Levels &) const = default;
    };

    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    void record(const Levels &levels, std::uint64_t cycle);
    void close() { m_file.close(); }

private:
    QFile m_file;
    Levels m_last;
    bool m_started = false;
};
