#pragma once

// What every fuzz target shares: a check that stops the fuzzer with the broken rule (libFuzzer then
// saves the input that broke it), turning the fuzzer's bytes into text, and a scratch file.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "broken rule at %s:%d: %s\n", __FILE__, __LINE__, #condition);                        \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace quorvale::fuzz {

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

/// The bytes as UTF-16 code units (lone surrogates and all): text no file or form could hold,
/// but which the functions must survive all the same.
inline QString utf16Of(const uint8_t *data, size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < size; i += 2)
        text[qsizetype(i / 2)] = QChar(char16_t(data[i] | (data[i + 1] << 8)));
    return text;
}

/// Writes `bytes` to this fuzzing process's own scratch file, removed when the process ends, and
/// returns its path.
inline QString writeScratchFile(const QByteArray &bytes)
{
    static const struct ScratchFile
    {
        QString path = QDir::tempPath() + u"/quorvale-fuzz-" + QString::number(qint64(getpid())) + u".csv";
        ~ScratchFile() { QFile::remove(path); }
    } scratch;
    QFile file(scratch.path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    return scratch.path;
}

} // namespace quorvale::fuzz
