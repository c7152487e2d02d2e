#include "support/oauthfixture.h"

#include "support/readyprocess.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSaveFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace quorvale::test {

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

OAuthServer::OAuthServer(Options options)
    : m_options(std::move(options)), m_dir(std::make_unique<QTemporaryDir>()),
      m_process(std::make_unique<ReadyProcess>())
{
    QStringList arguments{QString::fromUtf8(QUORVALE_OAUTH_SERVER_SCRIPT),
                          u"--dir"_s,
                          m_dir->path(),
                          u"--access-life"_s,
                          QString::number(m_options.accessLifeSeconds),
                          u"--client-id"_s,
                          m_options.clientId,
                          u"--client-secret"_s,
                          m_options.clientSecret};
    if (m_options.rotateRefreshTokens)
        arguments << u"--rotate"_s;
    m_port = quint16(m_process->start(u"/usr/bin/python3"_s, arguments, "LISTENING").toUInt());
}

OAuthServer::~OAuthServer() = default;

bool OAuthServer::isRunning() const
{
    return m_port != 0 && m_process->isRunning();
}

QUrl OAuthServer::authorizeUrl() const
{
    return QUrl(u"http://127.0.0.1:%1/authorize"_s.arg(m_port));
}

QUrl OAuthServer::tokenUrl() const
{
    return QUrl(u"http://127.0.0.1:%1/token"_s.arg(m_port));
}

OAuthProvider OAuthServer::provider() const
{
    OAuthProvider p;
    p.name = u"custom"_s;
    p.authorizeUrl = authorizeUrl();
    p.tokenUrl = tokenUrl();
    p.scope = u"test.send offline_access"_s;
    p.clientId = m_options.clientId;
    p.clientSecret = m_options.clientSecret;
    return p;
}

TokenResult OAuthServer::signIn(const OAuthProvider &provider) const
{
    OAuthSignIn signIn(provider);
    signIn.setTimeout(std::chrono::seconds(20));
    FollowingBrowser browser;
    QString error;
    if (!signIn.start(&error))
        return TokenResult::failed(AuthFailure::Setup, error);
    signIn.openBrowser(browser);
    return signIn.waitForFinished();
}

QString OAuthServer::accessTokenFile() const
{
    return m_dir->filePath(u"access_token"_s);
}

QString OAuthServer::currentAccessToken() const
{
    return QString::fromUtf8(readFile(accessTokenFile()));
}

QStringList OAuthServer::issuedTokens() const
{
    return QString::fromUtf8(readFile(m_dir->filePath(u"tokens.log"_s))).split(u'\n', Qt::SkipEmptyParts);
}

QList<QJsonObject> OAuthServer::requests() const
{
    QList<QJsonObject> result;
    for (const QByteArray &line : readFile(m_dir->filePath(u"requests.jsonl"_s)).split('\n')) {
        if (!line.isEmpty())
            result.append(QJsonDocument::fromJson(line).object());
    }
    return result;
}

void OAuthServer::writeFile(const char *name, const QByteArray &content) const
{
    QSaveFile file(m_dir->filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        qWarning("cannot write the OAuth test server's %s", name);
}

void OAuthServer::setFault(const QString &fault)
{
    writeFile("fault", fault.toUtf8());
}

void OAuthServer::setTokenReply(int status, const QByteArray &body)
{
    writeFile("fault", "reply " + QByteArray::number(status) + '\n' + body);
}

void OAuthServer::setAccessLife(int seconds)
{
    writeFile("access_life", QByteArray::number(seconds));
}

bool FollowingBrowser::openUrl(const QUrl &url)
{
    ++opened;
    QNetworkRequest request(rewrite ? rewrite(url) : url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
        lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        lastPage = QString::fromUtf8(reply->readAll());
        reply->deleteLater();
    });
    return true;
}

} // namespace quorvale::test
