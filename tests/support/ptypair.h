#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Two linked pseudo-terminals made by socat, as a stand-in for a serial cable:
// the program opens programPort(), a peer (the simulated sensor) peerPort().
// The ports are symlinks inside a private temporary directory; socat keeps
// both ends open, so either side may close and reopen its end at will.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Starts socat and waits until both ports exist. On failure returns false,
    // says why on qWarning() and in errorString().
    bool start(int timeoutMs = 10000);
    bool isRunning() const;

    QString programPort() const;
    QString peerPort() const;

    // Pulls the cable: socat ends and both ports disappear, even while
    // something still has them open.
    void cut();

    QString errorString() const;

private:
    bool fail(const QString& why);

    QTemporaryDir m_dir;
    QProcess m_socat;
    QString m_error;
};
