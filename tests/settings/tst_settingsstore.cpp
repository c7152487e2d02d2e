#include "settings/scramble.h"
#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace quorvale;

namespace {

constexpr QFileDevice::Permissions kModeBits(0x7077);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QFileDevice::Permissions modeOf(const QString &path)
{
    return QFile::permissions(path) & kModeBits;
}

const StoredSetting &setting(const char *name)
{
    const StoredSetting *info = findStoredSetting(QString::fromLatin1(name));
    Q_ASSERT(info);
    return *info;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_path;
    QString m_dataFolder;

    QString loaded(const char *name)
    {
        AppSettings settings;
        LoadSettings(*openSettingsStore(), settings);
        return settingText(settings, setting(name));
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        qputenv("XDG_CONFIG_HOME", m_home->filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_home->filePath(QStringLiteral("data")).toLocal8Bit());
        m_path = m_home->filePath(QStringLiteral("config/Quorvale/Quorvale.ini"));
        m_dataFolder = m_home->filePath(QStringLiteral("data/Quorvale"));
    }

    void followsTheEnvironmentForItsFolders()
    {
        QCOMPARE(defaultSettingsPath(), m_path);
        QCOMPARE(defaultDataFolder(), m_dataFolder);
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", m_home->path().toLocal8Bit());
        // Unset or relative base folders fall back to the documented defaults under HOME.
        qunsetenv("XDG_CONFIG_HOME");
        qputenv("XDG_DATA_HOME", "relative/data");
        const QString settingsPath = defaultSettingsPath();
        const QString dataFolder = defaultDataFolder();
        qputenv("HOME", home);
        QCOMPARE(settingsPath, m_home->filePath(QStringLiteral(".config/Quorvale/Quorvale.ini")));
        QCOMPARE(dataFolder, m_home->filePath(QStringLiteral(".local/share/Quorvale")));
    }

    void firstStartLoadsDefaultsWithoutCreatingFiles()
    {
        AppSettings settings;
        settings.GroupSize = 7;
        settings.SubjectLine.clear();
        LoadSettings(*openSettingsStore(), settings);
        QCOMPARE(settings.AuthType, 1);
        QCOMPARE(settings.EnableSchedule, 0);
        QCOMPARE(settings.DelayBetweenSends, 1);
        QCOMPARE(settings.GroupDelay, 5);
        QCOMPARE(settings.GroupSize, 100);
        QCOMPARE(settings.SubjectLine, QStringLiteral("Subject Line Text"));
        for (const QString *text : {&settings.EmailFrom, &settings.SMTPServer, &settings.SSLport, &settings.UserName,
                                    &settings.Password, &settings.CSVpath})
            QVERIFY(text->isEmpty());
        QVERIFY(!QFileInfo::exists(m_home->filePath(QStringLiteral("config"))));
    }

    void firstWriteCreatesAnOwnerOnlyFileAndKeepsItSo()
    {
        auto store = openSettingsStore();
        QVERIFY(store->RegWriteValue(QStringLiteral("PW"), ValueKind::Text, QStringLiteral("secret")));
        QCOMPARE(modeOf(m_path), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(modeOf(QFileInfo(m_path).absolutePath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        // A later write, which replaces the file, restores a widened mode before writing.
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QVERIFY(store->RegWriteValue(QStringLiteral("UserName"), ValueKind::Text, QStringLiteral("me")));
        QCOMPARE(modeOf(m_path), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(store->RegReadValue(QStringLiteral("PW"), ValueKind::Text, QVariant()),
                 QVariant(QStringLiteral("secret")));
    }

    void textValuesReadBackWhole_data()
    {
        QTest::addColumn<QString>("value");
        QString latin1;
        for (int code = 1; code <= 255; ++code)
            latin1 += QChar(code);
        QTest::newRow("empty") << QString();
        QTest::newRow("over 1023 bytes") << QString(5000, QLatin1Char('x'));
        QTest::newRow("commas") << QStringLiteral("Smith, Jones, and Partners");
        QTest::newRow("outer blanks") << QStringLiteral("  padded  ");
        QTest::newRow("quotes, semicolon, equals") << QStringLiteral("a \"b\"; c=d # e \\ f");
        QTest::newRow("looks like a typed value") << QStringLiteral("@Invalid()");
        QTest::newRow("line breaks") << QStringLiteral("one\r\ntwo\nthree\r");
        QTest::newRow("every code 1-255") << latin1;
        QTest::newRow("beyond Latin-1") << QStringLiteral("Zo\u00EB \u20AC \u4E2D");
    }
    void textValuesReadBackWhole()
    {
        QFETCH(QString, value);
        QVERIFY(openSettingsStore()->RegWriteValue(QStringLiteral("SubjectLine"), ValueKind::Text, value));
        // A fresh store reads the file itself; an empty value is a value, not a missing one.
        QCOMPARE(openSettingsStore()->RegReadValue(QStringLiteral("SubjectLine"), ValueKind::Text,
                                                   QStringLiteral("default")),
                 QVariant(value));
        QCOMPARE(loaded("SubjectLine"), value);
    }

    void passwordIsStoredScrambledAndLoadsPlain_data()
    {
        QTest::addColumn<QString>("password");
        QString everyCode = QStringLiteral("ab");
        for (int code = 0; code <= 253; ++code)
            everyCode += QChar(code);
        QTest::newRow("empty") << QString();
        QTest::newRow("printable") << QStringLiteral("P@ss, w0rd;=\"");
        QTest::newRow("control characters") << QStringLiteral("a\t\x01\r\n\x7f");
        QTest::newRow("every storable code") << everyCode;
    }
    void passwordIsStoredScrambledAndLoadsPlain()
    {
        QFETCH(QString, password);
        auto store = openSettingsStore();
        QVERIFY(SaveSettingText(*store, setting("PW"), password));
        QCOMPARE(store->RegReadValue(QStringLiteral("PW"), ValueKind::Text, QVariant()),
                 QVariant(ScrambleText(false, password, true)));
        if (password.size() > 4)
            QVERIFY(!readAll(m_path).contains(password.toUtf8()));
        QCOMPARE(loaded("PW"), password);
    }

    void numberSettingsLoadWholeNumbersOrDefaults_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("loads");
        QTest::newRow("half to even, down") << "GroupDelay"
                                            << "2.5"
                                            << "2";
        QTest::newRow("half to even, up") << "GroupSize"
                                          << "3.5"
                                          << "4";
        QTest::newRow("blanks around") << "GroupSize"
                                       << " 7 "
                                       << "7";
        QTest::newRow("negative") << "GroupSize"
                                  << "-1"
                                  << "-1";
        // The authentication type and the scheduling switch are a choice of two: anything else
        // loads as the default, as nothing could show or use it.
        QTest::newRow("Simple, rounded") << "AuthType"
                                         << "0.4"
                                         << "0";
        QTest::newRow("scheduling 2") << "EnableSchedule"
                                      << "2"
                                      << "0";
        QTest::newRow("empty") << "GroupDelay"
                               << ""
                               << "5";
        QTest::newRow("letters") << "DelayBetweenSends"
                                 << "ten"
                                 << "1";
        QTest::newRow("exponent") << "GroupSize"
                                  << "1e3"
                                  << "100";
        QTest::newRow("beyond 16 bits") << "EnableSchedule"
                                        << "32768"
                                        << "0";
        QTest::newRow("16-bit limit") << "AuthType"
                                      << "-32768"
                                      << "1";
        QTest::newRow("32 bits fit") << "GroupSize"
                                     << "40000"
                                     << "40000";
        QTest::newRow("beyond 32 bits") << "GroupSize"
                                        << "2147483648"
                                        << "100";
    }
    void numberSettingsLoadWholeNumbersOrDefaults()
    {
        QFETCH(QString, name);
        QFETCH(QString, stored);
        QFETCH(QString, loads);
        QVERIFY(openSettingsStore()->RegWriteValue(name, ValueKind::Text, stored));
        QCOMPARE(loaded(name.toLatin1().constData()), loads);
    }

    void convertsTextToWholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("min");
        QTest::addColumn<qint64>("max");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("number");
        const qint64 lo = std::numeric_limits<qint64>::min();
        const qint64 hi = std::numeric_limits<qint64>::max();
        QTest::newRow("0.5") << "0.5" << lo << hi << true << qint64(0);
        QTest::newRow("1.5") << "1.5" << lo << hi << true << qint64(2);
        QTest::newRow("-2.5") << "-2.5" << lo << hi << true << qint64(-2);
        QTest::newRow("-3.5") << "-3.5" << lo << hi << true << qint64(-4);
        QTest::newRow("just over a half") << "2.5000000000000000001" << lo << hi << true << qint64(3);
        QTest::newRow("just under a half") << "2.4999999" << lo << hi << true << qint64(2);
        QTest::newRow("plus sign, tab") << "\t+7" << lo << hi << true << qint64(7);
        QTest::newRow("no whole part") << ".6" << lo << hi << true << qint64(1);
        QTest::newRow("no fraction digits") << "5." << lo << hi << true << qint64(5);
        QTest::newRow("int64 max") << "9223372036854775807" << lo << hi << true << hi;
        QTest::newRow("int64 min") << "-9223372036854775808" << lo << hi << true << lo;
        QTest::newRow("rounds past int64") << "9223372036854775807.5" << lo << hi << false << qint64(0);
        QTest::newRow("huge") << "123456789012345678901234567890" << lo << hi << false << qint64(0);
        QTest::newRow("below range") << "-1" << qint64(0) << qint64(10) << false << qint64(0);
        QTest::newRow("rounds into range") << "10.4" << qint64(0) << qint64(10) << true << qint64(10);
        QTest::newRow("rounds out of range") << "10.6" << qint64(0) << qint64(10) << false << qint64(0);
        for (const char *bad :
             {"", " ", "-", ".", "1,000", "1 000", "- 7", "0x10", "1e2", "\u0661\u0662", "7a", "1.2.3"})
            QTest::newRow(bad) << QString::fromUtf8(bad) << lo << hi << false << qint64(0);
    }
    void convertsTextToWholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(qint64, min);
        QFETCH(qint64, max);
        QFETCH(bool, valid);
        QFETCH(qint64, number);
        const auto result = toWholeNumber(text, min, max);
        QCOMPARE(result.has_value(), valid);
        if (valid)
            QCOMPARE(*result, number);
    }

    void everySettingSavesAndLoads()
    {
        AppSettings saved;
        saved.EmailFrom = QStringLiteral("office@example.com");
        saved.SMTPServer = QStringLiteral("mail.example.com");
        saved.AuthType = 0;
        saved.SSLport = QStringLiteral("587");
        saved.UserName = QStringLiteral("office");
        saved.Password = QStringLiteral("s3cret!");
        saved.SubjectLine = QStringLiteral("Your documents");
        saved.CSVpath = QStringLiteral("/home/office/clients.csv");
        saved.EnableSchedule = 1;
        saved.DelayBetweenSends = 3;
        saved.GroupDelay = 10;
        saved.GroupSize = 50;
        auto store = openSettingsStore();
        QCOMPARE(settingsTable().size(), std::size_t(12));
        for (const StoredSetting &info : settingsTable())
            QVERIFY(SaveSettingText(*store, info, settingText(saved, info)));

        AppSettings loaded;
        LoadSettings(*store, loaded);
        for (const StoredSetting &info : settingsTable())
            QCOMPARE(settingText(loaded, info), settingText(saved, info));
        // Stored under the exact names, in the section QSettings reads as top level.
        const QByteArray file = readAll(m_path);
        QVERIFY(file.startsWith("[General]\n"));
        QVERIFY(file.contains("\nSMPTServer=mail.example.com\n"));
        QVERIFY(file.contains("\nGroupSize=50\n"));
    }

    void refusesTextTheSettingCannotHold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("letters for a number") << "GroupSize"
                                              << "many";
        QTest::newRow("16-bit overflow") << "AuthType"
                                         << "70000";
        QTest::newRow("port 0") << "SSLport"
                                << "0";
        QTest::newRow("one-character password") << "PW"
                                                << "x";
        QTest::newRow("password beyond Latin-1") << "PW"
                                                 << "ab\u20AC";
    }
    void refusesTextTheSettingCannotHold()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        const StoredSetting *info = findStoredSetting(name.toLower());
        QVERIFY(info);
        QString error;
        QVERIFY(!SaveSettingText(*openSettingsStore(), *info, text, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(error, settingTextProblem(*info, text));
        QVERIFY(!QFileInfo::exists(m_path));
    }

    void readsHandEditedFiles()
    {
        // No section header, names in another case, an unquoted value with commas.
        QVERIFY(writeAll(m_path, "emailfrom = me@example.com\nSUBJECTLINE=Hello, world\nGroupSize = 12 \n"));
        QCOMPARE(loaded("EmailFrom"), QStringLiteral("me@example.com"));
        QCOMPARE(loaded("SubjectLine"), QStringLiteral("Hello, world"));
        QCOMPARE(loaded("GroupSize"), QStringLiteral("12"));

        // Writing replaces the differently spelt key instead of keeping two.
        QVERIFY(openSettingsStore()->RegWriteValue(QStringLiteral("EmailFrom"), ValueKind::Text,
                                                   QStringLiteral("new@example.com")));
        const QByteArray file = readAll(m_path);
        QVERIFY(!file.contains("emailfrom"));
        QVERIFY(file.contains("EmailFrom=new@example.com"));
        QCOMPARE(loaded("EmailFrom"), QStringLiteral("new@example.com"));
    }

    void keepsAHandEditedFileWithAnUnclosedQuote()
    {
        // The missing quote makes every later line part of the subject; saving would bury them there.
        const QByteArray broken = "SubjectLine=\"Quarterly report\nUserName=me\nGroupSize=12\n";
        QVERIFY(writeAll(m_path, broken));
        QString error;
        QVERIFY(!openSettingsStore()->RegWriteValue(QStringLiteral("GroupSize"), ValueKind::Text, QStringLiteral("3"),
                                                    &error));
        QVERIFY2(error.contains(QStringLiteral("could not be read, so nothing was saved")), qPrintable(error));
        QCOMPARE(readAll(m_path), broken);

        // Escaped quotes, inside quotes or not, and quotes in comments open nothing.
        QVERIFY(writeAll(m_path, "; a \"note=x\nSubjectLine=\"Quarterly \\\"report\\\"\"\nPW=a\\\"b\nUserName=me\n"));
        QVERIFY(openSettingsStore()->RegWriteValue(QStringLiteral("GroupSize"), ValueKind::Text, QStringLiteral("3")));
        QCOMPARE(loaded("SubjectLine"), QStringLiteral("Quarterly \"report\""));
        QCOMPARE(loaded("UserName"), QStringLiteral("me"));
        QCOMPARE(loaded("GroupSize"), QStringLiteral("3"));
    }

    void storesEveryKindAsText()
    {
        auto store = openSettingsStore();
        QByteArray bytes;
        for (int code = 0; code <= 255; ++code)
            bytes += char(code);
        QVERIFY(store->RegWriteValue(QStringLiteral("Blob"), ValueKind::Bytes, bytes));
        QCOMPARE(store->RegReadValue(QStringLiteral("Blob"), ValueKind::Bytes, QVariant()), QVariant(bytes));

        QVERIFY(store->RegWriteValue(QStringLiteral("Count"), ValueKind::Number, 42));
        QCOMPARE(store->RegReadValue(QStringLiteral("Count"), ValueKind::Text, QVariant()),
                 QVariant(QStringLiteral("42")));
        QCOMPARE(store->RegReadValue(QStringLiteral("Count"), ValueKind::Number, QVariant()), QVariant(qint32(42)));

        QString error;
        QVERIFY(!store->RegWriteValue(QStringLiteral("Count"), ValueKind::Number, QStringLiteral("lots"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(store->RegWriteValue(QStringLiteral("Word"), ValueKind::Text, QStringLiteral("lots")));
        QCOMPARE(store->RegReadValue(QStringLiteral("Word"), ValueKind::Number, -7), QVariant(-7));

        const auto unsupported = static_cast<ValueKind>(2);
        QVERIFY(!store->RegWriteValue(QStringLiteral("Word"), unsupported, 1, &error));
        QCOMPARE(error, QStringLiteral("Unsupported value type"));
        QCOMPARE(store->RegReadValue(QStringLiteral("Word"), unsupported, -7), QVariant(-7));
        // Names that would land in a group are refused.
        QVERIFY(!store->RegWriteValue(QStringLiteral("a/b"), ValueKind::Text, 1, &error));
        QCOMPARE(store->RegReadValue(QStringLiteral("Count"), ValueKind::Number, QVariant()), QVariant(qint32(42)));
    }

    void reportsAStoreThatCannotBeWritten()
    {
        // A file where the settings folder should be: cannot be created, whoever runs the test.
        QVERIFY(writeAll(m_home->filePath(QStringLiteral("blocked")), "x"));
        auto store = openSettingsStore(m_home->filePath(QStringLiteral("blocked/Quorvale.ini")));
        QString error;
        QVERIFY(!store->RegWriteValue(QStringLiteral("EmailFrom"), ValueKind::Text, QStringLiteral("a"), &error));
        QVERIFY(!error.isEmpty());
        // A folder where the settings file should be.
        QVERIFY(QDir().mkpath(m_path));
        error.clear();
        QVERIFY(!openSettingsStore()->RegWriteValue(QStringLiteral("EmailFrom"), ValueKind::Text, QStringLiteral("a"),
                                                    &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QDir(m_path).removeRecursively());

        // A folder that cannot be written: the failed value must not show up in later reads,
        // nor be saved by a later write (QSettings keeps unsaved changes in a shared cache).
        if (::geteuid() == 0)
            QSKIP("file modes do not stop root");
        QVERIFY(
            openSettingsStore()->RegWriteValue(QStringLiteral("EmailFrom"), ValueKind::Text, QStringLiteral("old")));
        const QString folder = QFileInfo(m_path).absolutePath();
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        error.clear();
        const bool written = openSettingsStore()->RegWriteValue(QStringLiteral("EmailFrom"), ValueKind::Text,
                                                                QStringLiteral("new"), &error);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!written);
        QVERIFY(!error.isEmpty());
        QCOMPARE(loaded("EmailFrom"), QStringLiteral("old"));
        QVERIFY(openSettingsStore()->RegWriteValue(QStringLiteral("UserName"), ValueKind::Text, QStringLiteral("me")));
        QCOMPARE(loaded("EmailFrom"), QStringLiteral("old"));
    }

    void readsTheBodyFileLineByLine_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("body");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("two CR LF lines") << QByteArray("one\r\ntwo\r\n") << QStringLiteral("one\r\ntwo\r\n");
        QTest::newRow("last line unended") << QByteArray("one\r\ntwo") << QStringLiteral("one\r\ntwo\r\n");
        QTest::newRow("LF stays in the line") << QByteArray("one\ntwo\n") << QStringLiteral("one\ntwo\n\r\n");
        QTest::newRow("lone CR ends a line") << QByteArray("one\rtwo") << QStringLiteral("one\r\ntwo\r\n");
        QTest::newRow("blank lines kept") << QByteArray("\r\none\r\n\r\n") << QStringLiteral("\r\none\r\n\r\n");
        QTest::newRow("UTF-8, mark dropped")
            << QByteArray("\xEF\xBB\xBFZo\xC3\xAB \xE2\x82\xAC") << QStringLiteral("Zo\u00EB \u20AC\r\n");
        QTest::newRow("Windows-1252") << QByteArray("caf\xE9 \x80\x96\x81")
                                      << QStringLiteral("caf\u00E9 \u20AC\u2013\u0081\r\n");
    }
    void readsTheBodyFileLineByLine()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, body);
        QVERIFY(writeAll(bodyFilePath(m_dataFolder), file));
        QString read = QStringLiteral("stale");
        QVERIFY(ReadBodyFile(m_dataFolder, read));
        QCOMPARE(read, body);
    }

    void aMissingBodyFileReadsEmpty()
    {
        QString body = QStringLiteral("stale");
        QVERIFY(ReadBodyFile(m_dataFolder, body));
        QVERIFY(body.isEmpty());
        // A folder of that name is not a body file.
        QVERIFY(QDir().mkpath(bodyFilePath(m_dataFolder)));
        QVERIFY(ReadBodyFile(m_dataFolder, body));
        QVERIFY(body.isEmpty());
    }

    void reportsABodyFileThatCannotBeRead()
    {
        QVERIFY(QDir().mkpath(m_dataFolder));
        const QString path = bodyFilePath(m_dataFolder);
        if (::geteuid() == 0) {
            // An ordinary file whose every read fails: the one such file root cannot read.
            if (!QFile::link(QStringLiteral("/proc/self/mem"), path))
                QSKIP("no file that root cannot read");
        } else {
            QVERIFY(writeAll(path, "secret"));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        }
        QString body = QStringLiteral("stale");
        QString error;
        QVERIFY(!ReadBodyFile(m_dataFolder, body, &error));
        QVERIFY(body.isEmpty());
        QVERIFY(error.contains(path));
    }

    void writesTheBodyWithCrLfLineEnds_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("unended last line") << QStringLiteral("one\r\ntwo") << QByteArray("one\r\ntwo\r\n");
        QTest::newRow("ended last line") << QStringLiteral("one\r\n") << QByteArray("one\r\n");
        QTest::newRow("LF line ends") << QStringLiteral("one\ntwo\n") << QByteArray("one\r\ntwo\r\n");
        QTest::newRow("lone CR") << QStringLiteral("one\rtwo") << QByteArray("one\r\ntwo\r\n");
        QTest::newRow("blank line") << QStringLiteral("one\n\ntwo") << QByteArray("one\r\n\r\ntwo\r\n");
        QTest::newRow("UTF-8") << QStringLiteral("\u20AC") << QByteArray("\xE2\x82\xAC\r\n");
    }
    void writesTheBodyWithCrLfLineEnds()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, file);
        QVERIFY(!QFileInfo::exists(m_dataFolder));
        QVERIFY(WriteBodyFile(m_dataFolder, body));
        QCOMPARE(readAll(bodyFilePath(m_dataFolder)), file);

        // Saving what was loaded gives back the same file, and loading it the same body.
        QString loaded;
        QVERIFY(ReadBodyFile(m_dataFolder, loaded));
        QVERIFY(WriteBodyFile(m_dataFolder, loaded));
        QCOMPARE(readAll(bodyFilePath(m_dataFolder)), file);
        QString reloaded;
        QVERIFY(ReadBodyFile(m_dataFolder, reloaded));
        QCOMPARE(reloaded, loaded);
    }

    void reportsABodyFileThatCannotBeWritten()
    {
        QVERIFY(writeAll(m_home->filePath(QStringLiteral("data")), "not a folder"));
        QString error;
        QVERIFY(!WriteBodyFile(m_dataFolder, QStringLiteral("text"), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
