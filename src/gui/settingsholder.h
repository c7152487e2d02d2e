#pragma once

#include "settings/appsettings.h"

#include <QMutex>
#include <QMutexLocker>

namespace quorvale {

/// The program's one AppSettings record. The windows change it on the UI thread; a run or a
/// test send reads a copy from its worker thread, so every access takes the lock.
class SettingsHolder
{
public:
    AppSettings get() const
    {
        QMutexLocker lock(&m_mutex);
        return m_settings;
    }
    void set(const AppSettings &settings)
    {
        QMutexLocker lock(&m_mutex);
        m_settings = settings;
    }

private:
    mutable QMutex m_mutex;
    AppSettings m_settings;
};

} // namespace quorvale
