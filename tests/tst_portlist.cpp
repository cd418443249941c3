// The port list: the box follows the ports present without moving what stays,
// so the port a user picked is still picked after a refresh.

#include "mainwindow.h"
#include "portlist.h"
#include "programdir.h"

#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList itemsOf(const QComboBox& box)
{
    QStringList out;
    for (int i = 0; i < box.count(); ++i)
        out << box.itemText(i);
    return out;
}

} // namespace

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void merge_data();
    void merge();
    void mergeTwiceChangesNothing();
    void windowListsPresentPorts();
    void windowDropsUnknownEntryOnRefresh();
};

void TestPortList::merge_data()
{
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("expectedCurrent");

    const QStringList abc{"a", "b", "c"};
    QTest::newRow("nothing changes") << abc << 1 << abc << abc << "b";
    QTest::newRow("same ports, other order") << abc << 2 << QStringList{"c", "b", "a"} << abc << "c";
    QTest::newRow("one removed") << abc << 2 << QStringList{"a", "c"} << QStringList{"a", "c"} << "c";
    QTest::newRow("current removed") << abc << 1 << QStringList{"a", "c"} << QStringList{"a", "c"} << "c";
    QTest::newRow("all before current removed") << abc << 2 << QStringList{"c"} << QStringList{"c"} << "c";
    QTest::newRow("new appended, not sorted in")
        << QStringList{"b", "d"} << 1 << QStringList{"a", "b", "c", "d", "e"} << QStringList{"b", "d", "a", "c", "e"}
        << "d";
    QTest::newRow("new appended in given order")
        << QStringList{"ttyS0 (x)"} << 0 << QStringList{"ttyUSB1 (u)", "ttyS0 (x)", "ttyACM0 (a)"}
        << QStringList{"ttyS0 (x)", "ttyUSB1 (u)", "ttyACM0 (a)"} << "ttyS0 (x)";
    QTest::newRow("removed and added at once")
        << abc << 0 << QStringList{"z", "a", "y"} << QStringList{"a", "z", "y"} << "a";
    QTest::newRow("into an empty box") << QStringList() << -1 << QStringList{"q", "p"} << QStringList{"q", "p"} << "q";
    QTest::newRow("duplicates in present") << QStringList() << -1 << QStringList{"a", "a", "b", "a"}
                                           << QStringList{"a", "b"} << "a";
    QTest::newRow("duplicate of a shown entry") << QStringList{"a"} << 0 << QStringList{"b", "a", "b"}
                                                << QStringList{"a", "b"} << "a";
    QTest::newRow("case counts") << QStringList{"COM1 (x)"} << 0 << QStringList{"com1 (x)"}
                                 << QStringList{"com1 (x)"} << "com1 (x)";
    QTest::newRow("case counts, both present") << QStringList{"ttyS0"} << 0 << QStringList{"ttyS0", "TTYS0"}
                                               << QStringList{"ttyS0", "TTYS0"} << "ttyS0";
    QTest::newRow("whole text compared") << QStringList{"ttyS0 (x)"} << 0 << QStringList{"ttyS0 (x) ", "ttyS0"}
                                         << QStringList{"ttyS0 (x) ", "ttyS0"} << "ttyS0 (x) ";
    QTest::newRow("no ports left") << abc << 1 << QStringList() << QStringList() << QString();
    QTest::newRow("empty stays empty") << QStringList() << -1 << QStringList() << QStringList() << QString();
}

void TestPortList::merge()
{
    QFETCH(QStringList, shown);
    QFETCH(int, current);
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);
    QFETCH(QString, expectedCurrent);

    QComboBox box;
    box.addItems(shown);
    box.setCurrentIndex(current);
    mergePortEntries(box, present);
    QCOMPARE(itemsOf(box), expected);
    QCOMPARE(box.currentText(), expectedCurrent);
    QCOMPARE(box.currentIndex(), expected.indexOf(expectedCurrent));
}

void TestPortList::mergeTwiceChangesNothing()
{
    QComboBox box;
    box.addItems({"x", "a"});
    box.setCurrentIndex(1);
    const QStringList present{"c", "a", "b"};
    mergePortEntries(box, present);
    const QStringList once = itemsOf(box);
    mergePortEntries(box, present);
    QCOMPARE(itemsOf(box), once);
    QCOMPARE(box.currentText(), QStringLiteral("a"));
}

void TestPortList::windowListsPresentPorts()
{
    QTemporaryDir dir;
    ProgramDir::setOverride(dir.path());
    MainWindow w;
    auto* ports = w.findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
    QVERIFY(ports);
    QCOMPARE(itemsOf(*ports), presentPortEntries());
    ProgramDir::setOverride(QString());
}

// An entry no port stands behind goes at the next refresh; what is present stays.
void TestPortList::windowDropsUnknownEntryOnRefresh()
{
    QTemporaryDir dir;
    ProgramDir::setOverride(dir.path());
    MainWindow w;
    auto* ports = w.findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
    QVERIFY(ports);
    const QString stranger = dir.filePath(QStringLiteral("ttyNone"));
    ports->addItem(stranger);
    QTRY_VERIFY_WITH_TIMEOUT(ports->findText(stranger) < 0, 10000);
    QCOMPARE(itemsOf(*ports), presentPortEntries());
    ProgramDir::setOverride(QString());
}

QTEST_MAIN(TestPortList)
#include "tst_portlist.moc"
