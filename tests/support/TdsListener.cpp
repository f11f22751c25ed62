#include "TdsListener.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QMutexLocker>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <stdexcept>

namespace {

constexpr int kWaitMs = 5000;  // longest wait for any one read or write

enum : quint8 { kTabularResult = 0x04, kLogin7 = 0x10, kPreLogin = 0x12 };

bool WaitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    pollfd p{fd, events, 0};
    const qint64 left = deadline.remainingTime();
    return left > 0 && ::poll(&p, 1, static_cast<int>(left)) == 1;
}

bool ReadExactly(int fd, char* into, int size, const QDeadlineTimer& deadline)
{
    while (size > 0) {
        if (!WaitFor(fd, POLLIN, deadline))
            return false;
        const ssize_t got = ::recv(fd, into, static_cast<size_t>(size), 0);
        if (got <= 0)
            return false;
        into += got;
        size -= static_cast<int>(got);
    }
    return true;
}

bool WriteAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline)
{
    const char* from = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (!WaitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t sent = ::send(fd, from, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        from += sent;
        left -= sent;
    }
    return true;
}

// One TDS message (its packets joined); type 0 when the client stopped or went silent.
struct TMessage {
    quint8 type = 0;
    QByteArray payload;
};

TMessage ReadMessage(int fd)
{
    const QDeadlineTimer deadline(kWaitMs);
    TMessage m;
    for (;;) {
        unsigned char header[8];
        if (!ReadExactly(fd, reinterpret_cast<char*>(header), 8, deadline))
            return {};
        const int length = header[2] << 8 | header[3];  // big-endian, header included
        if (length < 8)
            return {};
        QByteArray body(length - 8, Qt::Uninitialized);
        if (!ReadExactly(fd, body.data(), length - 8, deadline))
            return {};
        m.type = header[0];
        m.payload += body;
        if (header[1] & 0x01)  // end of message
            return m;
    }
}

QByteArray Packet(quint8 type, const QByteArray& payload)
{
    const int length = 8 + static_cast<int>(payload.size());
    QByteArray p;
    p.append(char(type)).append(char(0x01)).append(char(length >> 8)).append(char(length & 0xFF));
    p.append(QByteArray(4, '\0'));  // spid, packet id, window
    return p + payload;
}

void PutLe(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

QByteArray Utf16(const QString& s)
{
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

// Pre-login answer: version 15.0.2000, encryption not supported (so that the driver sends
// the login in the clear), no instance check, no MARS.
QByteArray PreLoginAnswer()
{
    struct Option { quint8 token; QByteArray data; };
    const Option options[] = {
        {0x00, QByteArray("\x0F\x00\x07\xD0\x00\x00", 6)},
        {0x01, QByteArray(1, '\x02')},
        {0x02, QByteArray(1, '\0')},
        {0x03, QByteArray()},
        {0x04, QByteArray(1, '\0')},
    };
    const int tableSize = 5 * int(std::size(options)) + 1;
    QByteArray table, data;
    for (const Option& o : options) {
        const int offset = tableSize + int(data.size());
        table.append(char(o.token)).append(char(offset >> 8)).append(char(offset & 0xFF));
        table.append(char(o.data.size() >> 8)).append(char(o.data.size() & 0xFF));
        data += o.data;
    }
    table.append(char(0xFF));
    return Packet(kTabularResult, table + data);
}

int PreLoginEncryption(const QByteArray& payload)
{
    for (int i = 0; i + 5 <= payload.size() && quint8(payload[i]) != 0xFF; i += 5) {
        if (payload[i] != 0x01)
            continue;
        const int offset = quint8(payload[i + 1]) << 8 | quint8(payload[i + 2]);
        return offset < payload.size() ? quint8(payload[offset]) : -1;
    }
    return -1;
}

quint32 Le(const QByteArray& b, int at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | quint8(b.at(at + i));
    return v;
}

TTdsLogin DecodeLogin7(const QByteArray& p)
{
    TTdsLogin login;
    if (p.size() < 94)
        throw std::runtime_error("short LOGIN7");
    const quint32 version = Le(p, 4, 4);
    login.tdsVersion = QStringLiteral("%1.%2").arg(version >> 28).arg((version >> 24) & 0xF);
    login.integratedSecurity = (quint8(p[25]) & 0x80) != 0;
    // (offset, length in UTF-16 units) pairs after the 36 fixed bytes.
    auto field = [&](int at, bool scrambled = false) {
        const int offset = int(Le(p, at, 2));
        const int units = int(Le(p, at + 2, 2));
        if (offset + 2 * units > p.size())
            throw std::runtime_error("LOGIN7 field out of range");
        QByteArray bytes = p.mid(offset, 2 * units);
        if (scrambled)  // each byte: nibbles swapped, then XOR 0xA5
            for (char& c : bytes) {
                const quint8 x = quint8(c) ^ 0xA5;
                c = char(quint8(x << 4 | x >> 4));
            }
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), units);
    };
    login.hostName = field(36);
    login.userName = field(40);
    login.password = field(44, true);
    login.appName = field(48);
    login.serverName = field(52);
    login.library = field(60);
    login.language = field(64);
    login.database = field(68);
    login.sspiBytes = int(Le(p, 80, 2));
    return login;
}

QByteArray LoginRefusal(const QString& text, bool tds72)
{
    QByteArray error;
    PutLe(error, 18456, 4);  // the number SQL Server gives a refused login
    error.append(char(1)).append(char(14));  // state, class
    PutLe(error, quint64(text.size()), 2);
    error += Utf16(text);
    const QString server = QStringLiteral("LISTENER");
    error.append(char(server.size())) += Utf16(server);
    error.append(char(0));  // procedure
    PutLe(error, 1, tds72 ? 4 : 2);  // line

    QByteArray tokens;
    tokens.append(char(0xAA));
    PutLe(tokens, quint64(error.size()), 2);
    tokens += error;
    tokens.append(char(0xFD));
    PutLe(tokens, 0x0002, 2);  // DONE_ERROR
    PutLe(tokens, 0, 2);
    PutLe(tokens, 0, tds72 ? 8 : 4);
    return Packet(kTabularResult, tokens);
}

}  // namespace

TTdsListener::TTdsListener(const QString& errorText, TMode mode) : errorText_(errorText), mode_(mode)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listenFd_, 8) != 0
        || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (listenFd_ >= 0)
            ::close(listenFd_);
        throw std::runtime_error("cannot listen on the loopback address");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

TTdsListener::~TTdsListener()
{
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
    if (browserFd_ >= 0)
        ::close(browserFd_);
}

bool TTdsListener::answerBrowser(const QString& instance, bool tcp)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(1434);
    const QDeadlineTimer deadline(kWaitMs);
    while (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EADDRINUSE || deadline.hasExpired()) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    {
        QMutexLocker lock(&mutex_);
        instance_ = instance;
        instanceTcp_ = tcp;
    }
    browserFd_ = fd;
    return fd >= 0;
}

QStringList TTdsListener::browserRequests() const
{
    QMutexLocker lock(&mutex_);
    return browserRequests_;
}

// One request of the browser protocol: 0x04 and an instance name asks for that instance;
// the answer is 0x05, a length and "key;value;" pairs. Like the real service, it stays
// silent about instances it does not have.
void TTdsListener::answerBrowserRequest()
{
    char request[512];
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t got = ::recvfrom(browserFd_, request, sizeof request - 1, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (got < 1 || request[0] != 0x04)
        return;
    request[got] = '\0';
    const QString asked = QString::fromLatin1(request + 1);
    QString reply;
    {
        QMutexLocker lock(&mutex_);
        browserRequests_ << asked;
        if (asked.compare(instance_, Qt::CaseInsensitive) != 0)
            return;
        reply = QStringLiteral("ServerName;LISTENER;InstanceName;%1;IsClustered;No;Version;15.0.2000.5;").arg(instance_);
        reply += instanceTcp_ ? QStringLiteral("tcp;%1;;").arg(port_)
                              : QStringLiteral("np;\\\\LISTENER\\pipe\\MSSQL$%1\\sql\\query;;").arg(instance_);
    }
    QByteArray datagram;
    datagram.append(char(0x05));
    PutLe(datagram, quint64(reply.size()), 2);
    datagram += reply.toLatin1();
    ::sendto(browserFd_, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr*>(&from), fromSize);
}

QList<TTdsLogin> TTdsListener::logins() const
{
    QMutexLocker lock(&mutex_);
    return logins_;
}

void TTdsListener::serve()
{
    while (!stop_) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {browserFd_, POLLIN, 0}};
        if (::poll(p, p[1].fd >= 0 ? 2 : 1, 50) < 1)
            continue;
        if (p[1].fd >= 0 && (p[1].revents & POLLIN))
            answerBrowserRequest();
        if (!(p[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        answer(fd);
        ::shutdown(fd, SHUT_WR);
        // Let the driver read the answer before the connection goes (a close with unread
        // bytes would reset it).
        char sink[512];
        const QDeadlineTimer deadline(mode_ == TMode::Silent ? 0 : kWaitMs);
        while (WaitFor(fd, POLLIN, deadline) && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        ::close(fd);
    }
}

void TTdsListener::answer(int fd)
{
    TMessage m = ReadMessage(fd);
    int encryption = -1;
    if (m.type == kPreLogin) {
        encryption = PreLoginEncryption(m.payload);
        if (mode_ == TMode::Silent) {
            const QDeadlineTimer deadline(kWaitMs);  // then hang up, so that no test waits for ever
            while (!stop_ && !deadline.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return;
        }
        if (!WriteAll(fd, PreLoginAnswer(), QDeadlineTimer(kWaitMs)))
            return;
        m = ReadMessage(fd);
    }
    if (m.type != kLogin7)
        return;
    TTdsLogin login;
    try {
        login = DecodeLogin7(m.payload);
    } catch (const std::exception&) {
        return;
    }
    login.preLoginEncryption = encryption;
    {
        QMutexLocker lock(&mutex_);
        logins_ << login;
    }
    WriteAll(fd, LoginRefusal(errorText_, login.tdsVersion >= QLatin1String("7.2")), QDeadlineTimer(kWaitMs));
}

quint16 UnusedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}
