#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

namespace quorvale {

/// One HTTP request as a browser sends it to the loopback redirect address.
struct RedirectRequest
{
    enum class Status
    {
        Incomplete,
        Malformed,
        TooLarge,
        Complete
    };
    Status status = Status::Incomplete;
    QByteArray method;
    QString path;                         ///< percent-decoded
    QList<QPair<QString, QString>> query; ///< in order, "+" and percent escapes decoded

    /// The value of the query parameter `name`; empty when absent.
    QString value(const QString &name) const;
    /// How often `name` appears in the query.
    int count(const QString &name) const;
};

/// Reads the request line of what a browser sent so far (the headers end with an empty line; they
/// and any body are not looked at). More than 16 KiB before the end of the headers is TooLarge.
RedirectRequest parseRedirectRequest(const QByteArray &received);

/// The web server on the loopback address that receives the browser's redirect after a sign-in:
/// http://localhost:<free port>/, listening on 127.0.0.1 and, where there is one, on ::1 with the
/// same port, so that either address "localhost" resolves to reaches it. GET requests for "/" go
/// to the handler, whose answer the browser shows; other paths get 404 and change nothing. Once
/// the handler says it is done, the receiver stops listening.
class LoopbackReceiver final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoopbackReceiver)

public:
    struct Answer
    {
        int status = 200;
        QString title;
        QString message;
        bool done = false; ///< stop listening after this answer
    };
    using Handler = std::function<Answer(const RedirectRequest &request)>;

    explicit LoopbackReceiver(Handler handler, QObject *parent = nullptr);
    ~LoopbackReceiver() override;

    /// Starts listening on a free port; false, with the reason in `error`, when that fails.
    bool listen(QString *error);
    bool isListening() const;
    quint16 port() const;
    /// http://localhost:<port>/
    QUrl redirectUri() const;
    /// Stops listening and drops connections that are not being answered.
    void stop();

private:
    void accept(QTcpServer *server);
    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, int status, const QString &title, const QString &message);

    Handler m_handler;
    QTcpServer *m_ipv4 = nullptr;
    QTcpServer *m_ipv6 = nullptr;              ///< none where the system has no IPv6 loopback
    QHash<QTcpSocket *, QByteArray> m_pending; ///< connections still sending their request
};

} // namespace quorvale
