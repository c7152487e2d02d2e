#pragma once

#include <QString>

namespace quorvale {

/// Hands a document to the printing system without waiting for it to be printed.
class Printer
{
public:
    virtual ~Printer() = default;
    /// True once the request was handed over; false with `error` when it could not be.
    virtual bool printDocument(const QString &path, QString *error = nullptr) = 0;
};

/// Prints with CUPS's `lp FILE`, or with another command (split into words like a shell, the
/// file path appended as its last argument).
class CommandPrinter final : public Printer
{
public:
    /// `command` replaces `lp` unless it is blank.
    explicit CommandPrinter(QString command = {}) : m_command(std::move(command)) {}
    bool printDocument(const QString &path, QString *error = nullptr) override;

private:
    QString m_command;
};

} // namespace quorvale
