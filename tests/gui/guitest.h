#pragma once

// What every window test needs: a private settings file and data folder, the fakes, and a
// main window opened over them.

#include "gui/guifakes.h"
#include "gui/mainwindow.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"
#include "support/fakemailer.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace quorvale::test {

using namespace Qt::StringLiterals;

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
    QVERIFY2(var, qPrintable(u"no " #Type " called "_s + QString(name)))

/// A caption without its access-key marker ("&Start Processing" -> "Start Processing").
inline QString caption(QString text)
{
    text.replace(u"&&"_s, u"\x01"_s);
    text.remove(u'&');
    text.replace(u"\x01"_s, u"&"_s);
    return text;
}

/// The lines of a status box.
inline QStringList statusLines(const QPlainTextEdit *box)
{
    return box->toPlainText().isEmpty() ? QStringList() : box->toPlainText().split(u'\n');
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
    std::unique_ptr<SettingsStore> store = openSettingsStore(dir.filePath(u"Quorvale.ini"_s));
    ScriptedDialogs dialogs;
    FakeMailer mailer;
    RecordingPrinter printer;
    FakeClock fakeClock;
    SystemClock systemClock;
    std::unique_ptr<MainWindow> window;

    QString dataFolder() const { return dir.filePath(u"data"_s); }

    void save(const QString &name, const QString &value)
    {
        // Written as they are (a test stores values the program would refuse), the password through
        // the settings table, which scrambles it.
        if (name == u"PW")
            QVERIFY(saveSetting(*store, &AppSettings::Password, value));
        else
            store->RegWriteValue(name, ValueKind::Text, value);
    }
    /// Server settings complete enough for a run to pass its checks.
    void saveServer(const QString &host = u"127.0.0.1"_s, const QString &port = u"25"_s)
    {
        save(u"SMPTServer"_s, host);
        save(u"SSLport"_s, port);
        save(u"UserName"_s, u"user"_s);
        save(u"PW"_s, u"secret"_s);
        save(u"AuthType"_s, u"0"_s);
        save(u"EmailFrom"_s, u"office@practice.example"_s);
    }
    /// The services of a window over the fixture's fakes; `realTime` keeps the system clock
    /// (pauses really wait), `otherMailer` sends instead of the fake (such as the real SMTP one).
    AppServices services(bool realTime = false, Mailer *otherMailer = nullptr)
    {
        return AppServices{*store,
                           otherMailer ? *otherMailer : mailer,
                           printer,
                           realTime ? static_cast<Clock &>(systemClock) : fakeClock,
                           dialogs,
                           dataFolder(),
                           dir.filePath(u"help"_s)};
    }
    /// Opens the window over services(`realTime`, `otherMailer`).
    MainWindow &open(bool realTime = false, Mailer *otherMailer = nullptr)
    {
        window = std::make_unique<MainWindow>(services(realTime, otherMailer));
        window->show();
        return *window;
    }
};

} // namespace quorvale::test
