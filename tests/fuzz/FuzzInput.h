#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes a fuzz input apart: control bytes first come, first served; an exhausted input reads
// as zeros, so every input, even an empty one, is a complete script.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_at++]; }
    int upTo(int limit) { return limit <= 0 ? 0 : int(byte()) % (limit + 1); }
    QByteArray bytes(int count)
    {
        const std::size_t n = std::min<std::size_t>(std::size_t(qMax(0, count)), m_size - qMin(m_at, m_size));
        const QByteArray out(reinterpret_cast<const char *>(m_data + m_at), qsizetype(n));
        m_at += n;
        return out;
    }
    QByteArray rest() { return bytes(int(qMin<std::size_t>(m_size - qMin(m_at, m_size), 1 << 20))); }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// A property that must hold for every input; its failure is a finding, reported like a crash.
#define FUZZ_REQUIRE(condition)                                                                      \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)
