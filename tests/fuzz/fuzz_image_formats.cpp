// SPDX-License-Identifier: GPL-3.0-or-later
// The Intel HEX and S-record readers over any file contents: the first byte picks the reader.
#include "operations/ImageFormats.h"

#include <QDirIterator>
#include <QFile>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace ImageFormats;
    const QByteArray contents(reinterpret_cast<const char *>(data) + qMin<std::size_t>(size, 1), qsizetype(size - qMin<std::size_t>(size, 1)));
    const int which = size == 0 ? 0 : data[0] % 3;
    const Parsed parsed = which == 0 ? parseIntelHex(contents) : which == 1 ? parseSRecord(contents) : parse(QStringLiteral("image.s19"), contents);
    // A reading is a whole chip image, or a refusal that says why; anything else is a finding.
    if (parsed.ok() ? parsed.image.size() != 32768 : parsed.error.isEmpty())
        std::abort();
    return 0;
}

#ifndef ROMIVO_FUZZ
// Without libFuzzer: the committed corpus (the directories given), the inputs that once made the
// target fail among them, replayed as a test.
int main(int argc, char **argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i)
        for (QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files); it.hasNext(); ++inputs) {
            QFile file(it.next());
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
        }
    std::printf("%d inputs ran\n", inputs);
    return inputs == 0 ? 1 : 0;
}
#endif
