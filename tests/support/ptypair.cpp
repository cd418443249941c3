#include "ptypair.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

PtyPair::PtyPair()
    // socat splits its addresses at ',' and ':': keep such characters out of the path.
    : m_dir(QDir::tempPath() + QStringLiteral("/tarvex-pty-XXXXXX"))
{
}

PtyPair::~PtyPair()
{
    cut();
}

bool PtyPair::fail(const QString& why)
{
    m_error = why;
    qWarning("PtyPair: %s", qPrintable(why));
    return false;
}

bool PtyPair::start(int timeoutMs)
{
    if (isRunning())
        return true;
    if (!m_dir.isValid())
        return fail(QStringLiteral("cannot create a temporary directory: %1").arg(m_dir.errorString()));
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        return fail(QStringLiteral("socat is not on PATH; install the socat package"));

    const auto address = [](const QString& link) {
        return QStringLiteral("pty,raw,echo=0,link=%1").arg(link);
    };
    m_socat.setProcessChannelMode(QProcess::SeparateChannels);
    m_socat.setStandardOutputFile(QProcess::nullDevice());
    m_socat.start(socat, {QStringLiteral("-d"), QStringLiteral("-d"), address(programPort()), address(peerPort())});
    if (!m_socat.waitForStarted(timeoutMs))
        return fail(QStringLiteral("cannot start %1: %2").arg(socat, m_socat.errorString()));

    // QFileInfo follows the link, so this also waits for the pty behind it.
    const auto ready = [this] {
        return QFileInfo::exists(programPort()) && QFileInfo::exists(peerPort());
    };
    (void)QTest::qWaitFor([&] { return ready() || m_socat.state() != QProcess::Running; }, timeoutMs);
    if (!ready()) {
        const QString output = QString::fromLocal8Bit(m_socat.readAllStandardError()).trimmed();
        cut();
        return fail(QStringLiteral("socat did not create %1 and %2 within %3 ms: %4")
                        .arg(programPort(), peerPort())
                        .arg(timeoutMs)
                        .arg(output.isEmpty() ? QStringLiteral("(no output)") : output));
    }
    return true;
}

bool PtyPair::isRunning() const
{
    return m_socat.state() != QProcess::NotRunning;
}

QString PtyPair::programPort() const
{
    return m_dir.filePath(QStringLiteral("ttyA"));
}

QString PtyPair::peerPort() const
{
    return m_dir.filePath(QStringLiteral("ttyB"));
}

void PtyPair::cut()
{
    if (m_socat.state() == QProcess::NotRunning)
        return;
    // SIGTERM lets socat remove its links; SIGKILL only if it will not go.
    m_socat.terminate();
    if (!m_socat.waitForFinished(5000)) {
        m_socat.kill();
        m_socat.waitForFinished(5000);
    }
}

QString PtyPair::errorString() const
{
    return m_error;
}
