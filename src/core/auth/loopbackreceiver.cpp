#include "auth/loopbackreceiver.h"

#include <QTcpServer>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr qsizetype kMaxRequestBytes = 16 * 1024;

QString decodeComponent(QByteArray bytes, bool plusIsSpace)
{
    if (plusIsSpace)
        bytes.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
}

bool isTokenChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Bad Request";
    }
}

} // namespace

QString RedirectRequest::value(const QString &name) const
{
    for (const auto &[key, value] : query) {
        if (key == name)
            return value;
    }
    return {};
}

int RedirectRequest::count(const QString &name) const
{
    int n = 0;
    for (const auto &item : query)
        n += item.first == name ? 1 : 0;
    return n;
}

RedirectRequest parseRedirectRequest(const QByteArray &received)
{
    RedirectRequest request;
    const qsizetype end = received.indexOf("\r\n\r\n");
    if (end < 0 || end + 4 > kMaxRequestBytes) {
        request.status = end < 0 && received.size() < kMaxRequestBytes ? RedirectRequest::Status::Incomplete
                                                                       : RedirectRequest::Status::TooLarge;
        return request;
    }
    request.status = RedirectRequest::Status::Malformed;
    const QByteArray line = received.left(received.indexOf("\r\n")); // there is one: the headers end with two
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || !parts[2].startsWith("HTTP/1.") || !parts[1].startsWith('/'))
        return request;
    for (char c : parts[0]) {
        if (!isTokenChar(c))
            return request;
    }
    const QByteArray &target = parts[1];
    for (char c : target) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '#')
            return request;
    }
    const qsizetype question = target.indexOf('?');
    request.method = parts[0];
    request.path = decodeComponent(question < 0 ? target : target.left(question), false);
    if (question >= 0) {
        for (const QByteArray &item : target.mid(question + 1).split('&')) {
            if (item.isEmpty())
                continue;
            const qsizetype eq = item.indexOf('=');
            request.query.append({decodeComponent(eq < 0 ? item : item.left(eq), true),
                                  eq < 0 ? QString() : decodeComponent(item.mid(eq + 1), true)});
        }
    }
    request.status = RedirectRequest::Status::Complete;
    return request;
}

LoopbackReceiver::LoopbackReceiver(Handler handler, QObject *parent) : QObject(parent), m_handler(std::move(handler)) {}

LoopbackReceiver::~LoopbackReceiver()
{
    stop();
}

bool LoopbackReceiver::listen(QString *error)
{
    stop();
    // The port the system picks on 127.0.0.1 may be taken on ::1; then try another.
    for (int attempt = 0; attempt < 10; ++attempt) {
        auto *ipv4 = new QTcpServer(this);
        if (!ipv4->listen(QHostAddress::LocalHost, 0)) {
            if (error)
                *error = u"The sign-in cannot receive the browser's answer: listening on 127.0.0.1 "
                         "failed (%1)."_s.arg(ipv4->errorString());
            delete ipv4;
            return false;
        }
        auto *ipv6 = new QTcpServer(this);
        if (!ipv6->listen(QHostAddress::LocalHostIPv6, ipv4->serverPort())) {
            const bool taken = ipv6->serverError() == QAbstractSocket::AddressInUseError;
            delete ipv6;
            ipv6 = nullptr; // without an IPv6 loopback, "localhost" is 127.0.0.1 alone
            if (taken) {
                delete ipv4;
                continue;
            }
        }
        m_ipv4 = ipv4;
        m_ipv6 = ipv6;
        for (QTcpServer *server : {ipv4, ipv6}) {
            if (server)
                connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
        }
        return true;
    }
    if (error)
        *error = u"The sign-in cannot receive the browser's answer: no port was free on both 127.0.0.1 "
                 "and ::1."_s;
    return false;
}

bool LoopbackReceiver::isListening() const
{
    return m_ipv4 && m_ipv4->isListening();
}

quint16 LoopbackReceiver::port() const
{
    return m_ipv4 ? m_ipv4->serverPort() : 0;
}

QUrl LoopbackReceiver::redirectUri() const
{
    return QUrl(u"http://localhost:%1/"_s.arg(port()));
}

void LoopbackReceiver::stop()
{
    // Deleted later: stop() may run inside one of the servers' own signals.
    for (QTcpServer *server : {m_ipv4, m_ipv6}) {
        if (server) {
            server->disconnect(this);
            server->close();
            server->deleteLater();
        }
    }
    m_ipv4 = m_ipv6 = nullptr;
    const QList<QTcpSocket *> sockets = m_pending.keys();
    m_pending.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void LoopbackReceiver::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        socket->setParent(this);
        m_pending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_pending.remove(socket))
                socket->deleteLater();
        });
        read(socket);
    }
}

void LoopbackReceiver::read(QTcpSocket *socket)
{
    auto pending = m_pending.find(socket);
    if (pending == m_pending.end())
        return;
    pending->append(socket->readAll());
    const RedirectRequest request = parseRedirectRequest(*pending);
    if (request.status == RedirectRequest::Status::Incomplete)
        return;
    // From here on the connection is being answered, whatever the handler does to the receiver.
    m_pending.erase(pending);
    const QString notSignIn = u"This is not a sign-in answer."_s;
    if (request.status == RedirectRequest::Status::TooLarge)
        answer(socket, 431, u"Request too large"_s, notSignIn);
    else if (request.status == RedirectRequest::Status::Malformed)
        answer(socket, 400, u"Bad request"_s, notSignIn);
    else if (request.method != "GET")
        answer(socket, 405, u"Not allowed"_s, notSignIn);
    else if (request.path != u"/")
        answer(socket, 404, u"Not found"_s, notSignIn);
    else {
        const Answer reply = m_handler(request);
        answer(socket, reply.status, reply.title, reply.message);
        if (reply.done)
            stop();
    }
}

void LoopbackReceiver::answer(QTcpSocket *socket, int status, const QString &title, const QString &message)
{
    const QByteArray page =
        u"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>"
        "<body><h1>%1</h1><p>%2</p></body></html>\n"_s.arg(title.toHtmlEscaped(), message.toHtmlEscaped())
            .toUtf8();
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    response += "Content-Type: text/html; charset=utf-8\r\nContent-Length: " + QByteArray::number(page.size()) +
                "\r\nCache-Control: no-store\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n" + page;
    socket->disconnect(this);
    // The socket stays a child of the receiver until it has sent the page; then it goes.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(response);
    socket->flush(); // a page this small goes out at once, even if the program ends right after
    socket->disconnectFromHost();
}

} // namespace quorvale
