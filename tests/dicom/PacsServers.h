#pragma once
// The PACS servers the DICOM tests start on loopback (DCMTK's tools, Orthanc), each stopped
// with its test by its own pid through QProcess.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "dicom/PacsClient.h"

namespace pacstest {

// A loopback socket on a free port (listening, never accepting, when `listen`); or a connection test.
inline int socketOn(int* port, bool listen, bool connect = false) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(connect ? *port : 0), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t n = sizeof a;
    if (connect) return ::connect(s, reinterpret_cast<sockaddr*>(&a), n) == 0 ? ::close(s), 1 : (::close(s), 0);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), n);
    if (listen) ::listen(s, 4);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    *port = ntohs(a.sin_port);
    return s;
}
inline int freePort() {
    int p;
    ::close(socketOn(&p, false));
    return p;
}
inline bool answers(int port) { return socketOn(&port, false, true); }

// DCMTK's tools (and Orthanc, built on DCMTK) with Nagle's algorithm off, as our client has it.
inline QProcessEnvironment env() {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("TCP_NODELAY", "1");
    return e;
}

// A server started for the test and stopped with it (by its own pid, through QProcess).
struct Server {
    QProcess p;
    int port = freePort();
    void start(const QString& program, const QStringList& args) {
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.setProcessEnvironment(env());
        p.start(program, args);
        for (int i = 0; i < 200 && !answers(port); ++i) QThread::msleep(50);
        ASSERT_TRUE(answers(port)) << program.toStdString() << " não abriu a porta " << port;
    }
    ~Server() {
        p.terminate();
        if (!p.waitForFinished(5000)) p.kill(), p.waitForFinished();
    }
};

inline void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

inline norvix::dicom::PacsPeer peer(int port, const char* ae) { return {QStringLiteral("NORVIX"), ae, QStringLiteral("127.0.0.1"), port, 5}; }

// Orthanc with its storage in a temporary folder; REST read with curl.
struct Orthanc : Server {
    QTemporaryDir dir;
    int http = freePort();
    explicit Orthanc(int dicomPort = 0) {
        if (dicomPort) port = dicomPort;
        const QJsonObject config{{"Name", "teste"},
                                 {"StorageDirectory", dir.filePath("s")},
                                 {"IndexDirectory", dir.filePath("i")},
                                 {"HttpPort", http},
                                 {"DicomPort", port},
                                 {"DicomAet", "ORTHANC"},
                                 {"DicomCheckCalledAet", true},
                                 {"RemoteAccessAllowed", false},
                                 {"AuthenticationEnabled", false},
                                 {"SaveJobs", false},
                                 {"OverwriteInstances", true}};  // a resend replaces, as in the clinic's PACS
        write(dir.filePath("orthanc.json"), QJsonDocument(config).toJson());
        start(QStringLiteral("Orthanc"), {dir.filePath("orthanc.json")});
        for (int i = 0; i < 200 && !answers(http); ++i) QThread::msleep(50);
    }
    QJsonDocument get(const QString& path, const char* method = "GET") {
        QProcess c;
        c.start(QStringLiteral("curl"),
                {"-s", "-X", method, QStringLiteral("http://127.0.0.1:%1%2").arg(http).arg(path)});
        c.waitForFinished(10000);
        return QJsonDocument::fromJson(c.readAllStandardOutput());
    }
    int instances() { return int(get("/instances").array().size()); }
};

}  // namespace pacstest
