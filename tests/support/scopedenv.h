#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace quorvale::test {

/// Sets (or, with an empty value, unsets) an environment variable for the lifetime of the object,
/// then puts back what was there before.
class ScopedEnvironmentVariable
{
public:
    ScopedEnvironmentVariable(const char *name, const QByteArray &value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnvironmentVariable()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable &) = delete;
    ScopedEnvironmentVariable &operator=(const ScopedEnvironmentVariable &) = delete;

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace quorvale::test
