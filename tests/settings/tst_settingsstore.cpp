#include "app/programservices.h"
#include "settings/scramble.h"
#include "settings/bodyfile.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

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
        LoadSettings(*openSettingsStore(m_path), settings);
        return settingText(settings, setting(name));
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        qputenv("XDG_CONFIG_HOME", m_home->filePath(u"config"_s).toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_home->filePath(u"data"_s).toLocal8Bit());
        m_path = m_home->filePath(u"config/Quorvale/Quorvale.ini"_s);
        m_dataFolder = m_home->filePath(u"data/Quorvale"_s);
    }

    void followsTheEnvironmentForItsFolders()
    {
        const ProgramEnvironment given = ProgramEnvironment::read();
        QCOMPARE(given.settingsPath, m_path);
        QCOMPARE(given.dataFolder, m_dataFolder);
        QCOMPARE(given.mail.settingsFile, m_path);
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", m_home->path().toLocal8Bit());
        // Unset or relative base folders fall back to the documented defaults under HOME.
        qunsetenv("XDG_CONFIG_HOME");
        qputenv("XDG_DATA_HOME", "relative/data");
        const ProgramEnvironment defaults = ProgramEnvironment::read();
        qputenv("HOME", home);
        QCOMPARE(defaults.settingsPath, m_home->filePath(u".config/Quorvale/Quorvale.ini"_s));
        QCOMPARE(defaults.dataFolder, m_home->filePath(u".local/share/Quorvale"_s));
    }

    void firstStartLoadsDefaultsWithoutCreatingFiles()
    {
        AppSettings settings;
        settings.GroupSize = 7;
        settings.SubjectLine.clear();
        LoadSettings(*openSettingsStore(m_path), settings);
        QCOMPARE(settings.AuthType, 1);
        QCOMPARE(settings.EnableSchedule, 0);
        QCOMPARE(settings.DelayBetweenSends, 1);
        QCOMPARE(settings.GroupDelay, 5);
        QCOMPARE(settings.GroupSize, 100);
        QCOMPARE(settings.SubjectLine, u"Subject Line Text"_s);
        for (const QString *text : {&settings.EmailFrom, &settings.SMTPServer, &settings.SSLport, &settings.UserName,
                                    &settings.Password, &settings.CSVpath})
            QVERIFY(text->isEmpty());
        QVERIFY(!QFileInfo::exists(m_home->filePath(u"config"_s)));
    }

    void firstWriteCreatesAnOwnerOnlyFileAndKeepsItSo()
    {
        auto store = openSettingsStore(m_path);
        QVERIFY(store->RegWriteValue(u"PW"_s, ValueKind::Text, u"secret"_s));
        QCOMPARE(modeOf(m_path), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(modeOf(QFileInfo(m_path).absolutePath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        // A later write, which replaces the file, restores a widened mode before writing.
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QVERIFY(store->RegWriteValue(u"UserName"_s, ValueKind::Text, u"me"_s));
        QCOMPARE(modeOf(m_path), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(store->RegReadValue(u"PW"_s, ValueKind::Text, QVariant()), QVariant(u"secret"_s));
    }

    void textValuesReadBackWhole_data()
    {
        QTest::addColumn<QString>("value");
        QString latin1;
        for (int code = 1; code <= 255; ++code)
            latin1 += QChar(code);
        QTest::newRow("empty") << QString();
        QTest::newRow("over 1023 bytes") << QString(5000, u'x');
        QTest::newRow("commas") << u"Smith, Jones, and Partners"_s;
        QTest::newRow("outer blanks") << u"  padded  "_s;
        QTest::newRow("quotes, semicolon, equals") << u"a \"b\"; c=d # e \\ f"_s;
        QTest::newRow("looks like a typed value") << u"@Invalid()"_s;
        QTest::newRow("line breaks") << u"one\r\ntwo\nthree\r"_s;
        QTest::newRow("every code 1-255") << latin1;
        QTest::newRow("beyond Latin-1") << u"Zo\u00EB \u20AC \u4E2D"_s;
    }
    void textValuesReadBackWhole()
    {
        QFETCH(QString, value);
        QVERIFY(openSettingsStore(m_path)->RegWriteValue(u"SubjectLine"_s, ValueKind::Text, value));
        // A fresh store reads the file itself; an empty value is a value, not a missing one.
        QCOMPARE(openSettingsStore(m_path)->RegReadValue(u"SubjectLine"_s, ValueKind::Text, u"default"_s), QVariant(value));
        QCOMPARE(loaded("SubjectLine"), value);
    }

    void passwordIsStoredScrambledAndLoadsPlain_data()
    {
        QTest::addColumn<QString>("password");
        QString everyCode = u"ab"_s;
        for (int code = 0; code <= 253; ++code)
            everyCode += QChar(code);
        QTest::newRow("empty") << QString();
        QTest::newRow("printable") << u"P@ss, w0rd;=\""_s;
        QTest::newRow("control characters") << u"a\t\x01\r\n\x7f"_s;
        QTest::newRow("every storable code") << everyCode;
    }
    void passwordIsStoredScrambledAndLoadsPlain()
    {
        QFETCH(QString, password);
        auto store = openSettingsStore(m_path);
        QVERIFY(saveSetting(*store, &AppSettings::Password, password));
        QCOMPARE(store->RegReadValue(u"PW"_s, ValueKind::Text, QVariant()),
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
        QVERIFY(openSettingsStore(m_path)->RegWriteValue(name, ValueKind::Text, stored));
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
        saved.EmailFrom = u"office@example.com"_s;
        saved.SMTPServer = u"mail.example.com"_s;
        saved.AuthType = 0;
        saved.SSLport = u"587"_s;
        saved.UserName = u"office"_s;
        saved.Password = u"s3cret!"_s;
        saved.SubjectLine = u"Your documents"_s;
        saved.CSVpath = u"/home/office/clients.csv"_s;
        saved.CSVHeader = 1;
        saved.AttachMode = u"client"_s;
        saved.AttachmentPath = u"/home/office/terms.pdf"_s;
        saved.PrintDocuments = 1;
        saved.CSVDelimiter = u";"_s;
        saved.BodyFormat = u"html"_s;
        saved.EnableSchedule = 1;
        saved.DelayBetweenSends = 3;
        saved.GroupDelay = 10;
        saved.GroupSize = 50;
        saved.SignInMethod = u"oauth"_s;
        saved.OAuthProvider = u"custom"_s;
        saved.OAuthClientId = u"client-1"_s;
        saved.OAuthClientSecret = u"not-so-secret"_s;
        saved.OAuthTenant = u"contoso.example"_s;
        saved.OAuthAuthorizeUrl = u"https://login.example/authorize"_s;
        saved.OAuthTokenUrl = u"https://login.example/token"_s;
        saved.OAuthScope = u"smtp offline"_s;
        saved.PasswordCommand = u"pass show mail"_s;
        saved.DailyLimit = 2000;
        saved.MinuteLimit = 30;
        saved.EmailFromName = u"Smith & Partners, \"Söhne\""_s;
        saved.ReplyTo = u"replies@example.com"_s;
        saved.ArchiveCopyTo = u"archive+2026@example.com"_s;
        saved.DocumentPatterns = u"Invoice_{{id}}.pdf;Statement {{Name|client}}.pdf"_s;
        auto store = openSettingsStore(m_path);
        saved.SendMethod = u"queue"_s;
        QCOMPARE(settingsTable().size(), std::size_t(38));
        for (const StoredSetting &info : settingsTable())
            QVERIFY(saveSetting(*store, info.key, settingText(saved, info)));

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
        QTest::newRow("unknown sign-in method") << "SignInMethod"
                                                << "kerberos";
        QTest::newRow("unknown provider") << "OAuthProvider"
                                          << "Microsoft";
        QTest::newRow("unknown attachment mode") << "AttachMode"
                                                 << "Client";
        QTest::newRow("print choice neither 0 nor 1") << "PrintDocuments"
                                                      << "2";
        QTest::newRow("separator not offered") << "CSVDelimiter"
                                               << "|";
        QTest::newRow("a tab character for tab") << "CSVDelimiter"
                                                 << "\t";
        QTest::newRow("body format in capitals") << "BodyFormat"
                                                 << "HTML";
        QTest::newRow("negative daily limit") << "DailyLimit"
                                              << "-1";
        QTest::newRow("daily limit with a separator") << "DailyLimit"
                                                      << "2,000";
        QTest::newRow("daily limit beyond a million") << "DailyLimit"
                                                      << "1000001";
        QTest::newRow("a word for the minute limit") << "MinuteLimit"
                                                     << "thirty";
        QTest::newRow("minute limit beyond 10000") << "MinuteLimit"
                                                   << "10001";
        QTest::newRow("sender name with a line break") << "EmailFromName" << "Smith\r\nBcc: all@example.com";
        QTest::newRow("sender name with a tab") << "EmailFromName" << "Smith\tPartners";
        QTest::newRow("Reply-To with a name") << "ReplyTo" << "Office <office@example.com>";
        QTest::newRow("Reply-To of two addresses") << "ReplyTo" << "a@example.com, b@example.com";
        QTest::newRow("Reply-To without @") << "ReplyTo" << "office";
        QTest::newRow("Reply-To with a blank") << "ReplyTo" << "office@example.com ";
        QTest::newRow("archive with a line break") << "ArchiveCopyTo" << "archive@example.com\r\nRCPT TO:<x@y>";
        QTest::newRow("archive with two @") << "ArchiveCopyTo" << "a@b@example.com";
        QTest::newRow("send method not offered") << "SendMethod" << "sendmail";
        QTest::newRow("send method in capitals") << "SendMethod" << "Queue";
        QTest::newRow("document names with a folder") << "DocumentPatterns" << "Invoice_{{id}}.pdf;../Statement.pdf";
        QTest::newRow("document names with a line break") << "DocumentPatterns" << "Invoice_{{id}}.pdf\nx.pdf";
        QTest::newRow("document names of separators only") << "DocumentPatterns" << " ; ";
        QTest::newRow("named mode in capitals") << "AttachMode" << "Named";
    }
    void refusesTextTheSettingCannotHold()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        const StoredSetting *info = findStoredSetting(name.toLower());
        QVERIFY(info);
        QString error;
        QVERIFY(!saveSetting(*openSettingsStore(m_path), info->key, text, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(error, settingTextProblem(*info, text));
        QVERIFY(!QFileInfo::exists(m_path));
    }

    void editsAreAllCheckedThenSavedAndAppliedAsLoaded()
    {
        auto store = openSettingsStore(m_path);
        AppSettings settings;
        LoadSettings(*store, settings);
        // One refused edit saves none of them and changes nothing.
        QString error;
        qsizetype refused = -1;
        QVERIFY(!saveSettings(*store,
                              {{&AppSettings::SMTPServer, u"mail.example.com"_s},
                               {&AppSettings::GroupDelay, u" 3 "_s},
                               {&AppSettings::SSLport, u"70000"_s}},
                              settings, &error, &refused));
        QCOMPARE(refused, 2);
        QCOMPARE(error, settingTextProblem(storedSetting(&AppSettings::SSLport), u"70000"_s));
        QVERIFY(!QFileInfo::exists(m_path));
        QVERIFY(settings.SMTPServer.isEmpty());
        // Saved as typed, and applied as a load reads the file back.
        QVERIFY(saveSettings(*store,
                             {{&AppSettings::SMTPServer, u"mail.example.com"_s},
                              {&AppSettings::GroupDelay, u" 3 "_s},
                              {&AppSettings::Password, u"s3cret!"_s}},
                             settings, &error, &refused));
        AppSettings reloaded;
        LoadSettings(*store, reloaded);
        for (const StoredSetting &info : settingsTable())
            QCOMPARE(settingText(settings, info), settingText(reloaded, info));
        QCOMPARE(settings.GroupDelay, 3);
        QCOMPARE(store->RegReadValue(u"GroupDelay"_s, ValueKind::Text, QString()).toString(), u" 3 "_s);
        // A whole number is asked for: a fraction is refused as typed, yet one already stored loads
        // by rounding.
        QVERIFY(!saveSettings(*store, {{&AppSettings::GroupDelay, u"2.5"_s}}, settings, &error, &refused));
        QCOMPARE(error, settingTextProblem(storedSetting(&AppSettings::GroupDelay), u"35792"_s));
        QVERIFY(store->RegWriteValue(u"GroupDelay"_s, ValueKind::Text, u"2.5"_s));
        LoadSettings(*store, reloaded);
        QCOMPARE(reloaded.GroupDelay, 2);
    }

    void textChoicesAcceptTheirWordsOnly()
    {
        // A setting that takes one of a few words: the kind the sign-in method is.
        AppSettings settings;
        const StoredSetting method{.name = "SubjectLine"_L1,
                                   .key = &AppSettings::SubjectLine,
                                   .defaultText = "password"_L1,
                                   .choice = true,
                                   .words = "password oauth"_L1,
                                   .rule = "The sign-in method must be password or oauth."_L1};
        QCOMPARE(settingTextProblem(method, u"oauth"_s), QString());
        QCOMPARE(settingTextProblem(method, u"OAuth"_s), u"The sign-in method must be password or oauth."_s);
        QVERIFY(writeAll(m_path, "[General]\nSubjectLine=kerberos\n"));
        loadSetting(*openSettingsStore(m_path), method, settings);
        QCOMPARE(settings.SubjectLine, u"password"_s);
        QVERIFY(writeAll(m_path, "[General]\nSubjectLine=oauth\n"));
        loadSetting(*openSettingsStore(m_path), method, settings);
        QCOMPARE(settings.SubjectLine, u"oauth"_s);
    }

    void mailServerNeedsServerPortAndLogin()
    {
        AppSettings settings;
        QCOMPARE(missingMailServerSettings(settings),
                 (QList<SettingKey>{&AppSettings::SMTPServer, &AppSettings::SSLport, &AppSettings::UserName,
                                    &AppSettings::Password}));
        settings.SMTPServer = u"mail.example.com"_s;
        settings.UserName = u"office"_s;
        QCOMPARE(missingMailServerSettings(settings), (QList<SettingKey>{&AppSettings::SSLport, &AppSettings::Password}));
        QVERIFY(!isMailServerComplete(settings));
        settings.SSLport = u" "_s; // what the port says is the send's to judge
        settings.Password = u"pw"_s;
        QVERIFY(isMailServerComplete(settings));
    }

    void readsHandEditedFiles()
    {
        // No section header, names in another case, an unquoted value with commas.
        QVERIFY(writeAll(m_path, "emailfrom = me@example.com\nSUBJECTLINE=Hello, world\nGroupSize = 12 \n"));
        QCOMPARE(loaded("EmailFrom"), u"me@example.com"_s);
        QCOMPARE(loaded("SubjectLine"), u"Hello, world"_s);
        QCOMPARE(loaded("GroupSize"), u"12"_s);

        // Writing replaces the differently spelt key instead of keeping two.
        QVERIFY(openSettingsStore(m_path)->RegWriteValue(u"EmailFrom"_s, ValueKind::Text, u"new@example.com"_s));
        const QByteArray file = readAll(m_path);
        QVERIFY(!file.contains("emailfrom"));
        QVERIFY(file.contains("EmailFrom=new@example.com"));
        QCOMPARE(loaded("EmailFrom"), u"new@example.com"_s);
    }

    void keepsAHandEditedFileWithAnUnclosedQuote()
    {
        // The missing quote makes every later line part of the subject; saving would bury them there.
        const QByteArray broken = "SubjectLine=\"Quarterly report\nUserName=me\nGroupSize=12\n";
        QVERIFY(writeAll(m_path, broken));
        QString error;
        QVERIFY(!openSettingsStore(m_path)->RegWriteValue(u"GroupSize"_s, ValueKind::Text, u"3"_s, &error));
        QVERIFY2(error.contains(u"could not be read, so nothing was saved"_s), qPrintable(error));
        QCOMPARE(readAll(m_path), broken);

        // Escaped quotes, inside quotes or not, and quotes in comments open nothing.
        QVERIFY(writeAll(m_path, "; a \"note=x\nSubjectLine=\"Quarterly \\\"report\\\"\"\nPW=a\\\"b\nUserName=me\n"));
        QVERIFY(openSettingsStore(m_path)->RegWriteValue(u"GroupSize"_s, ValueKind::Text, u"3"_s));
        QCOMPARE(loaded("SubjectLine"), u"Quarterly \"report\""_s);
        QCOMPARE(loaded("UserName"), u"me"_s);
        QCOMPARE(loaded("GroupSize"), u"3"_s);
    }

    void storesEveryKindAsText()
    {
        auto store = openSettingsStore(m_path);
        QByteArray bytes;
        for (int code = 0; code <= 255; ++code)
            bytes += char(code);
        QVERIFY(store->RegWriteValue(u"Blob"_s, ValueKind::Bytes, bytes));
        QCOMPARE(store->RegReadValue(u"Blob"_s, ValueKind::Bytes, QVariant()), QVariant(bytes));

        QVERIFY(store->RegWriteValue(u"Count"_s, ValueKind::Number, 42));
        QCOMPARE(store->RegReadValue(u"Count"_s, ValueKind::Text, QVariant()), QVariant(u"42"_s));
        QCOMPARE(store->RegReadValue(u"Count"_s, ValueKind::Number, QVariant()), QVariant(qint32(42)));

        QString error;
        QVERIFY(!store->RegWriteValue(u"Count"_s, ValueKind::Number, u"lots"_s, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(store->RegWriteValue(u"Word"_s, ValueKind::Text, u"lots"_s));
        QCOMPARE(store->RegReadValue(u"Word"_s, ValueKind::Number, -7), QVariant(-7));

        const auto unsupported = static_cast<ValueKind>(2);
        QVERIFY(!store->RegWriteValue(u"Word"_s, unsupported, 1, &error));
        QCOMPARE(error, u"Unsupported value type"_s);
        QCOMPARE(store->RegReadValue(u"Word"_s, unsupported, -7), QVariant(-7));
        // Names that would land in a group are refused.
        QVERIFY(!store->RegWriteValue(u"a/b"_s, ValueKind::Text, 1, &error));
        QCOMPARE(store->RegReadValue(u"Count"_s, ValueKind::Number, QVariant()), QVariant(qint32(42)));
    }

    void reportsAStoreThatCannotBeWritten()
    {
        // A file where the settings folder should be: cannot be created, whoever runs the test.
        QVERIFY(writeAll(m_home->filePath(u"blocked"_s), "x"));
        auto store = openSettingsStore(m_home->filePath(u"blocked/Quorvale.ini"_s));
        QString error;
        QVERIFY(!store->RegWriteValue(u"EmailFrom"_s, ValueKind::Text, u"a"_s, &error));
        QVERIFY(!error.isEmpty());
        // A folder where the settings file should be.
        QVERIFY(QDir().mkpath(m_path));
        error.clear();
        QVERIFY(!openSettingsStore(m_path)->RegWriteValue(u"EmailFrom"_s, ValueKind::Text, u"a"_s, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QDir(m_path).removeRecursively());

        // A folder that cannot be written: the failed value must not show up in later reads,
        // nor be saved by a later write (QSettings keeps unsaved changes in a shared cache).
        if (::geteuid() == 0)
            QSKIP("file modes do not stop root");
        QVERIFY(openSettingsStore(m_path)->RegWriteValue(u"EmailFrom"_s, ValueKind::Text, u"old"_s));
        const QString folder = QFileInfo(m_path).absolutePath();
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        error.clear();
        const bool written = openSettingsStore(m_path)->RegWriteValue(u"EmailFrom"_s, ValueKind::Text, u"new"_s, &error);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!written);
        QVERIFY(!error.isEmpty());
        QCOMPARE(loaded("EmailFrom"), u"old"_s);
        QVERIFY(openSettingsStore(m_path)->RegWriteValue(u"UserName"_s, ValueKind::Text, u"me"_s));
        QCOMPARE(loaded("EmailFrom"), u"old"_s);
    }

    void readsTheBodyFileLineByLine_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("body");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("two CR LF lines") << QByteArray("one\r\ntwo\r\n") << u"one\r\ntwo\r\n"_s;
        QTest::newRow("last line unended") << QByteArray("one\r\ntwo") << u"one\r\ntwo\r\n"_s;
        QTest::newRow("LF stays in the line") << QByteArray("one\ntwo\n") << u"one\ntwo\n\r\n"_s;
        QTest::newRow("lone CR ends a line") << QByteArray("one\rtwo") << u"one\r\ntwo\r\n"_s;
        QTest::newRow("blank lines kept") << QByteArray("\r\none\r\n\r\n") << u"\r\none\r\n\r\n"_s;
        QTest::newRow("UTF-8, mark dropped")
            << QByteArray("\xEF\xBB\xBFZo\xC3\xAB \xE2\x82\xAC") << u"Zo\u00EB \u20AC\r\n"_s;
        QTest::newRow("Windows-1252") << QByteArray("caf\xE9 \x80\x96\x81") << u"caf\u00E9 \u20AC\u2013\u0081\r\n"_s;
    }
    void readsTheBodyFileLineByLine()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, body);
        QVERIFY(writeAll(bodyFilePath(m_dataFolder), file));
        QString read = u"stale"_s;
        QVERIFY(readBodyFile(m_dataFolder, read));
        QCOMPARE(read, body);
    }

    void aMissingBodyFileReadsEmpty()
    {
        QString body = u"stale"_s;
        QVERIFY(readBodyFile(m_dataFolder, body));
        QVERIFY(body.isEmpty());
        // A folder of that name is not a body file.
        QVERIFY(QDir().mkpath(bodyFilePath(m_dataFolder)));
        QVERIFY(readBodyFile(m_dataFolder, body));
        QVERIFY(body.isEmpty());
    }

    void reportsABodyFileThatCannotBeRead()
    {
        QVERIFY(QDir().mkpath(m_dataFolder));
        const QString path = bodyFilePath(m_dataFolder);
        if (::geteuid() == 0) {
            // An ordinary file whose every read fails: the one such file root cannot read.
            if (!QFile::link(u"/proc/self/mem"_s, path))
                QSKIP("no file that root cannot read");
        } else {
            QVERIFY(writeAll(path, "secret"));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        }
        QString body = u"stale"_s;
        QString error;
        QVERIFY(!readBodyFile(m_dataFolder, body, &error));
        QVERIFY(body.isEmpty());
        QVERIFY(error.contains(path));
    }

    void writesTheBodyWithCrLfLineEnds_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("unended last line") << u"one\r\ntwo"_s << QByteArray("one\r\ntwo\r\n");
        QTest::newRow("ended last line") << u"one\r\n"_s << QByteArray("one\r\n");
        QTest::newRow("LF line ends") << u"one\ntwo\n"_s << QByteArray("one\r\ntwo\r\n");
        QTest::newRow("lone CR") << u"one\rtwo"_s << QByteArray("one\r\ntwo\r\n");
        QTest::newRow("blank line") << u"one\n\ntwo"_s << QByteArray("one\r\n\r\ntwo\r\n");
        QTest::newRow("UTF-8") << u"\u20AC"_s << QByteArray("\xE2\x82\xAC\r\n");
    }
    void writesTheBodyWithCrLfLineEnds()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, file);
        QVERIFY(!QFileInfo::exists(m_dataFolder));
        QVERIFY(writeBodyFile(m_dataFolder, body));
        QCOMPARE(readAll(bodyFilePath(m_dataFolder)), file);

        // Saving what was loaded gives back the same file, and loading it the same body.
        QString loaded;
        QVERIFY(readBodyFile(m_dataFolder, loaded));
        QVERIFY(writeBodyFile(m_dataFolder, loaded));
        QCOMPARE(readAll(bodyFilePath(m_dataFolder)), file);
        QString reloaded;
        QVERIFY(readBodyFile(m_dataFolder, reloaded));
        QCOMPARE(reloaded, loaded);
    }

    void reportsABodyFileThatCannotBeWritten()
    {
        QVERIFY(writeAll(m_home->filePath(u"data"_s), "not a folder"));
        QString error;
        QVERIFY(!writeBodyFile(m_dataFolder, u"text"_s, &error));
        QVERIFY(!error.isEmpty());
    }

    // No data folder is no folder at all: neither the working directory nor the user's.
    void noDataFolderNeitherReadsNorWritesABody()
    {
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_home->path()));
        QVERIFY(writeAll(m_home->filePath(u"Body.txt"_s), "someone else's\r\n"));
        QString body = u"old"_s;
        QString error;
        const bool read = readBodyFile(QString(), body, &error);
        const bool written = writeBodyFile(QString(), u"text"_s, &error);
        QVERIFY(QDir::setCurrent(cwd));
        QVERIFY(!read);
        QVERIFY(body.isEmpty());
        QVERIFY(!written);
        QVERIFY2(error.contains(u"No data folder"_s), qPrintable(error));
        QCOMPARE(readAll(m_home->filePath(u"Body.txt"_s)), QByteArray("someone else's\r\n"));
        QVERIFY(!QFileInfo::exists(m_dataFolder));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
