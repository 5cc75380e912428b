#pragma once

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes a fuzz input apart: control bytes first come, first served; an exhausted input reads as
// zeros, so that every input, even an empty one, is a complete script.
struct FuzzInput {
    FuzzInput(const std::uint8_t *data, std::size_t size) : data(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size))) {}
    bool atEnd() const { return at >= data.size(); }
    std::uint8_t byte() { return atEnd() ? 0 : std::uint8_t(data.at(at++)); }
    int upTo(int limit) { return limit <= 0 ? 0 : int(byte()) % (limit + 1); }
    QByteArray bytes(int count)
    {
        const QByteArray out(data.constData() + at, qBound(qsizetype(0), qsizetype(count), data.size() - at));
        at += out.size();
        return out;
    }
    QByteArray rest() { return bytes(1 << 20); }
    const QByteArray data;
    qsizetype at = 0;
};

// A property that must hold for every input; its failure is a finding, reported like a crash.
#define FUZZ_REQUIRE(condition)                                                                      \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)
