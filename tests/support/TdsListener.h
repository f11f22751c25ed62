#pragma once
// A stand-in for a SQL Server's front door, for tests that hand our connection strings to a
// real SQL Server ODBC driver (FreeTDS). It speaks just enough TDS to see what the driver
// would log in with: it answers the pre-login without encryption, reads the login packet,
// records its fields and refuses the login with a server error of the test's choosing. It
// never answers a query. Loopback only; every wait is bounded.

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>

// The fields of one LOGIN7 packet, the password unscrambled.
struct TTdsLogin {
    QString tdsVersion;  // "7.4", "7.1"...
    QString hostName;
    QString userName;
    QString password;
    QString appName;
    QString serverName;
    QString library;
    QString language;
    QString database;
    bool integratedSecurity = false;
    int sspiBytes = 0;
    int preLoginEncryption = -1;  // what the client asked in its pre-login: 0 off, 1 on, 2 none, 3 required
};

class TTdsListener {
public:
    enum class TMode {
        RefuseLogin,  // error token + done, then close
        Silent,       // read the pre-login, answer nothing, hang up after a few seconds
    };

    explicit TTdsListener(const QString& errorText = QStringLiteral("Login failed for user 'loja'."),
                          TMode mode = TMode::RefuseLogin);
    ~TTdsListener();
    TTdsListener(const TTdsListener&) = delete;
    TTdsListener& operator=(const TTdsListener&) = delete;

    quint16 port() const { return port_; }
    int connections() const { return connections_; }
    QList<TTdsLogin> logins() const;

    // Answers the SQL Server Browser (UDP 1434 on 127.0.0.1) for instance: with this
    // listener's port, or, tcp false, as an instance that takes no TCP connections. Waits a
    // few seconds for the port when another test holds it; false when it stays taken.
    bool answerBrowser(const QString& instance, bool tcp);
    QStringList browserRequests() const;  // the instance names asked for

private:
    void serve();
    void answer(int fd);
    void answerBrowserRequest();

    QString errorText_;
    TMode mode_;
    int listenFd_ = -1;
    std::atomic<int> browserFd_{-1};
    QString instance_;
    bool instanceTcp_ = true;
    QStringList browserRequests_;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable QMutex mutex_;
    QList<TTdsLogin> logins_;
    std::thread thread_;
};

// A loopback port on which nothing listens (bound and released at once).
quint16 UnusedLoopbackPort();
