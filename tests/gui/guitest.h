#pragma once

// What every window test needs: a private settings file and data folder, the fakes, and a
// main window opened over them.

#include "gui/guifakes.h"
#include "gui/mainwindow.h"
#include "settings/scramble.h"
#include "settings/settingsstore.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace quorvale::test {

inline const QObject *asObject(const QObject *object)
{
    return object;
}
inline const QObject *asObject(const QObject &object)
{
    return &object;
}
template <typename T> const QObject *asObject(const std::unique_ptr<T> &object)
{
    return object.get();
}

/// Declares `var` as the child of `parent` (a pointer, reference or unique_ptr) of type `Type`
/// called `name`. When there is none the test function fails here and returns: one missing widget
/// fails one case, never the whole test program through a null pointer.
#define FIND_CHILD(Type, var, parent, name)                                                                          \
    Type *const var = ::quorvale::test::asObject(parent)->findChild<Type *>(name);                                     \
    QVERIFY2(var, qPrintable(QStringLiteral("no " #Type " called ") + QString(name)))

/// A caption without its access-key marker ("&Start Processing" -> "Start Processing").
inline QString caption(QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

/// The lines of a status box.
inline QStringList statusLines(const QPlainTextEdit *box)
{
    return box->toPlainText().isEmpty() ? QStringList() : box->toPlainText().split(QLatin1Char('\n'));
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

struct WindowFixture
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store = openSettingsStore(dir.filePath(QStringLiteral("Quorvale.ini")));
    ScriptedDialogs dialogs;
    RecordingMailer mailer;
    RecordingPrinter printer;
    FakeClock fakeClock;
    std::unique_ptr<MainWindow> window;

    QString dataFolder() const { return dir.filePath(QStringLiteral("data")); }

    void save(const QString &name, const QString &value)
    {
        store->RegWriteValue(name, ValueKind::Text, name == u"PW" ? ScrambleText(false, value, true) : value);
    }
    /// Server settings complete enough for a run to pass its checks.
    void saveServer(const QString &host = QStringLiteral("127.0.0.1"), const QString &port = QStringLiteral("25"))
    {
        save(QStringLiteral("SMPTServer"), host);
        save(QStringLiteral("SSLport"), port);
        save(QStringLiteral("UserName"), QStringLiteral("user"));
        save(QStringLiteral("PW"), QStringLiteral("secret"));
        save(QStringLiteral("AuthType"), QStringLiteral("0"));
        save(QStringLiteral("EmailFrom"), QStringLiteral("office@practice.example"));
    }
    /// Opens the window; `realTime` keeps the system clock (pauses really wait).
    MainWindow &open(bool realTime = false, Mailer *realMailer = nullptr)
    {
        MainWindowOptions options;
        options.store = store.get();
        options.mailer = realMailer ? realMailer : &mailer;
        options.printer = &printer;
        options.clock = realTime ? nullptr : &fakeClock;
        options.dialogs = &dialogs;
        options.dataFolder = dataFolder();
        options.helpFolder = dir.filePath(QStringLiteral("help"));
        window = std::make_unique<MainWindow>(options);
        window->show();
        return *window;
    }
};

} // namespace quorvale::test
