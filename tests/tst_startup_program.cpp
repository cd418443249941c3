// Starts the real program binary headless and sees it still running once its event
// loop is going: start-up crashes (in the generated form code, say) end it at once.

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestStartupProgram : public QObject
{
    Q_OBJECT

private slots:
    void staysRunning_data();
    void staysRunning();
};

void TestStartupProgram::staysRunning_data()
{
    QTest::addColumn<bool>("withFiles");
    QTest::newRow("beside its files") << true;
    QTest::newRow("without its files") << false;
}

void TestStartupProgram::staysRunning()
{
    QFETCH(bool, withFiles);
    const QString built = QStringLiteral(TARVEX_PROGRAM);
    QVERIFY2(QFileInfo(built).isExecutable(), qPrintable(built));

    // The program keeps its files beside itself (register tables or register names):
    // a copy in an empty directory has none.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QString program = built;
    if (!withFiles) {
        program = work.filePath(QFileInfo(built).fileName());
        QVERIFY(QFile::copy(built, program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(built)));
    }

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(work.path());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, QStringList());
    QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));

    // Nothing to wait for from outside but the absence of an end: give it time to
    // build the window and enter its loop.
    const bool ended = process.waitForFinished(1500);
    const QString output = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(!ended,
        qPrintable(QStringLiteral("ended with %1 (%2)\n%3")
                       .arg(process.exitCode())
                       .arg(QLatin1String(process.exitStatus() == QProcess::CrashExit ? "crash" : "normal exit"))
                       .arg(output)));
    QCOMPARE(process.state(), QProcess::Running);

    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }

    // Broken signal wiring shows only as warnings at start-up.
    const QString all = output + QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(!all.contains(QStringLiteral("QObject::connect")), qPrintable(all));
    QVERIFY2(!all.contains(QStringLiteral("connectSlotsByName")), qPrintable(all));
}

QTEST_GUILESS_MAIN(TestStartupProgram)
#include "tst_startup_program.moc"
