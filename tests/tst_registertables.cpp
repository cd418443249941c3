// Which register table a firmware version gets, and how the window builds its
// configuration and state tables from a table file.

#include "mainwindow.h"
#include "registermap.h"
#include "windowtest.h"

#include <QFile>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <climits>
#include <memory>

namespace {

const QString missingTableText = QStringLiteral("Внимание - не найдена таблица регистров | Переустановите Tarvex-Сервис.");
const QString noFileMessage = QStringLiteral("Файл с описанием регистров не найден, дальнейшая работа невозможна");

// Descriptions as the file holds them: line k, after its first "=".
QStringList descriptionsInFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int at = line.indexOf('=');
        out << (at >= 0 ? QString::fromUtf8(line.mid(at + 1)) : QString());
    }
    return out;
}

// The register that holds the value of state index s: 13 and 14 are single
// registers, from 15 on every value takes a pair.
int labelOfIndex(int s)
{
    return s <= 15 ? s : 2 * s - 15;
}

QStringList column(const QTableWidget* table, int col, int fromRow = 1)
{
    QStringList out;
    for (int row = fromRow; row < table->rowCount(); ++row)
        out << (table->item(row, col) ? table->item(row, col)->text() : QStringLiteral("<no item>"));
    return out;
}

QStringList labels(std::initializer_list<int> indices)
{
    QStringList out;
    for (int s : indices)
        out << QString::number(labelOfIndex(s));
    return out;
}

QStringList labelsOfRange(int from, int to)
{
    QStringList out;
    for (int s = from; s <= to; ++s)
        out << QString::number(labelOfIndex(s));
    return out;
}

// A register-table file for the 0..46 map of version 12: `state` gives the state
// descriptions from index 13 on.
QByteArray tableFile(const QStringList& state, int configLines = 13)
{
    QByteArray out;
    for (int k = 0; k < configLines; ++k)
        out += "R" + QByteArray::number(k) + "=Настройка " + QByteArray::number(k) + "\n";
    for (int i = 0; i < state.size(); ++i)
        out += "R" + QByteArray::number(13 + i) + "=" + state.at(i).toUtf8() + "\n";
    return out;
}

QStringList blanks(int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QString();
    return out;
}

bool checked(const QTableWidgetItem* item)
{
    return item && item->data(Qt::CheckStateRole).toInt() == Qt::Checked;
}

} // namespace

class TestRegisterTables : public QObject
{
    Q_OBJECT

private slots:
    void versionChoice_data();
    void versionChoice();

    void startupTables();
    void rebuildForVersion_data();
    void rebuildForVersion();
    void unknownVersionChangesNothing_data();
    void unknownVersionChangesNothing();
    void sameVersionRebuildStartsClean();

    void hiddenStateRows();
    void hiddenRowsBeforeShownKeepLabels();
    void missingFileAtStartup();
    void fileGoneOnRebuild();
    void lineWithoutSeparatorShowsPlaceholder();
    void longerFileIsFine();
    void deliveredDescriptionsShowWhole_data();
    void deliveredDescriptionsShowWhole();
    void deliveredDescriptionsNameShownUnits_data();
    void deliveredDescriptionsNameShownUnits();

private:
    static QTableWidget* cfg(MainWindow& w) { return w.findChild<QTableWidget*>(QStringLiteral("tableCfg")); }
    static QTableWidget* status(MainWindow& w) { return w.findChild<QTableWidget*>(QStringLiteral("tableStatus")); }
    static void checkVersion(MainWindow& w, int version)
    {
        QVERIFY(QMetaObject::invokeMethod(&w, "checkDeviceVersion", Q_ARG(int, version)));
    }
};

// ---- version to table ----

void TestRegisterTables::versionChoice_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("stateEnd");

    QTest::newRow("0") << 0 << false << QString() << 0;
    QTest::newRow("-1") << -1 << false << QString() << 0;
    QTest::newRow("1") << 1 << true << "table_10.rgt" << 28;
    QTest::newRow("10") << 10 << true << "table_10.rgt" << 28;
    QTest::newRow("11") << 11 << true << "table_11.rgt" << 28;
    QTest::newRow("12") << 12 << true << "table_12.rgt" << 46;
    QTest::newRow("13") << 13 << true << "table_12.rgt" << 46;
    QTest::newRow("14") << 14 << true << "table_12.rgt" << 46;
    QTest::newRow("15") << 15 << false << QString() << 0;
    QTest::newRow("10012") << 10012 << false << QString() << 0;
    QTest::newRow("10013") << 10013 << true << "table_10013.rgt" << 52;
    QTest::newRow("10014") << 10014 << true << "table_10013.rgt" << 52;
    QTest::newRow("10015") << 10015 << false << QString() << 0;
    QTest::newRow("-10013") << -10013 << false << QString() << 0;
    QTest::newRow("INT_MIN") << INT_MIN << false << QString() << 0;
    QTest::newRow("INT_MAX") << INT_MAX << false << QString() << 0;
}

void TestRegisterTables::versionChoice()
{
    QFETCH(int, version);
    QFETCH(bool, found);
    QFETCH(QString, fileName);
    QFETCH(int, stateEnd);
    const RegisterTableChoice choice = registerTableForVersion(version);
    QCOMPARE(choice.found, found);
    if (!found)
        return;
    QCOMPARE(choice.fileName, fileName);
    QCOMPARE(choice.configStart, 0);
    QCOMPARE(choice.configEnd, 12);
    QCOMPARE(choice.stateStart, 13);
    QCOMPARE(choice.stateEnd, stateEnd);
}

// ---- tables of the window ----

void TestRegisterTables::startupTables()
{
    ProgramDirFixture dir;
    MainWindow w;
    QTableWidget* config = cfg(w);
    QTableWidget* state = status(w);
    QVERIFY(config && state);
    const QStringList file = descriptionsInFile(dir.filePath(QStringLiteral("table_12.rgt")));
    QVERIFY(file.size() >= 47);

    QCOMPARE(config->rowCount(), 14);
    QCOMPARE(config->columnCount(), 4);
    QCOMPARE(column(config, 0, 0).first(), QStringLiteral("Адрес"));
    QStringList captions;
    for (int c = 0; c < 4; ++c)
        captions << config->item(0, c)->text();
    QCOMPARE(captions, (QStringList{"Адрес", "Обозначение", "Значение", "Выбор"}));
    for (int c = 0; c < 4; ++c) {
        QVERIFY(!(config->item(0, c)->flags() & Qt::ItemIsEditable));
        QVERIFY(!(config->item(0, c)->flags() & Qt::ItemIsSelectable));
    }

    QStringList numbers;
    for (int k = 0; k <= 12; ++k)
        numbers << QString::number(k);
    QCOMPARE(column(config, 0), numbers);
    QCOMPARE(column(config, 1), file.mid(0, 13));
    QCOMPARE(config->item(1, 1)->text(), QStringLiteral("Код доступа"));
    QCOMPARE(config->item(2, 1)->text(), QStringLiteral("Версия прошивки"));
    QCOMPARE(column(config, 2), blanks(numbers.size()));

    // Register 0 is the access code: sent before every write, never chosen itself.
    QVERIFY(config->item(1, 3));
    QVERIFY(!config->item(1, 3)->data(Qt::CheckStateRole).isValid());
    for (int row = 2; row <= 13; ++row) {
        QTableWidgetItem* choice = config->item(row, 3);
        QVERIFY2(choice, qPrintable(QString::number(row)));
        QCOMPARE(choice->data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(choice->flags() & Qt::ItemIsUserCheckable);
        QVERIFY(choice->flags() & Qt::ItemIsEnabled);
    }
    for (int row = 1; row <= 13; ++row) {
        for (int c : {0, 1, 3}) {
            const Qt::ItemFlags flags = config->item(row, c)->flags();
            QVERIFY2(!(flags & Qt::ItemIsEditable) && !(flags & Qt::ItemIsSelectable),
                qPrintable(QStringLiteral("row %1 column %2").arg(row).arg(c)));
        }
        QVERIFY(config->item(row, 2)->flags() & Qt::ItemIsEditable);
        QVERIFY(config->item(row, 2)->flags() & Qt::ItemIsEnabled);
    }

    // State: 13 and 14, then the pairs from 15 on; "Резервный параметр" rows are left out.
    QCOMPARE(state->columnCount(), 3);
    QCOMPARE((QStringList{state->item(0, 0)->text(), state->item(0, 1)->text(), state->item(0, 2)->text()}),
        (QStringList{"Адрес", "Обозначение", "Значение"}));
    QStringList expectedLabels{"13", "14"};
    for (int label = 15; label <= 45; label += 2)
        expectedLabels << QString::number(label);
    QCOMPARE(column(state, 0), expectedLabels);
    QCOMPARE(state->rowCount(), 1 + expectedLabels.size());
    QCOMPARE(column(state, 1), file.mid(13, 18));
    QCOMPARE(state->item(1, 1)->text(), QStringLiteral("Слово состояния"));
    for (int row = 1; row < state->rowCount(); ++row) {
        QCOMPARE(state->item(row, 2)->text(), QString());
        for (int c = 0; c < 3; ++c)
            QVERIFY(!(state->item(row, c)->flags() & (Qt::ItemIsEditable | Qt::ItemIsSelectable)));
    }
}

void TestRegisterTables::rebuildForVersion_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("expectedLabels");

    // 13, 14 and seven values in pairs; 22..28 are reserved.
    QTest::newRow("10") << 10 << "table_10.rgt" << labelsOfRange(13, 21);
    QTest::newRow("11") << 11 << "table_11.rgt" << labelsOfRange(13, 21);
    QTest::newRow("1") << 1 << "table_10.rgt" << labelsOfRange(13, 21);
    QTest::newRow("12") << 12 << "table_12.rgt" << labelsOfRange(13, 30);
    QTest::newRow("10013") << 10013 << "table_10013.rgt" << labelsOfRange(13, 33);
}

void TestRegisterTables::rebuildForVersion()
{
    QFETCH(int, version);
    QFETCH(QString, fileName);
    QFETCH(QStringList, expectedLabels);
    ProgramDirFixture dir;
    ModalWatcher modals;
    MainWindow w;
    checkVersion(w, version);
    QCOMPARE(modals.seen(), QStringList());

    const QStringList file = descriptionsInFile(dir.filePath(fileName));
    QCOMPARE(cfg(w)->rowCount(), 14);
    QCOMPARE(column(cfg(w), 1), file.mid(0, 13));
    QCOMPARE(column(status(w), 0), expectedLabels);
    QCOMPARE(column(status(w), 1), file.mid(13, expectedLabels.size()));
    if (version == 10 || version == 1)
        QCOMPARE(cfg(w)->item(12, 1)->text(), QStringLiteral("Время усреднения, с"));
    if (version == 11)
        QCOMPARE(cfg(w)->item(12, 1)->text(), QStringLiteral("Число усредняемых измерений"));
}

void TestRegisterTables::unknownVersionChangesNothing_data()
{
    QTest::addColumn<int>("builtFor");
    QTest::addColumn<int>("version");
    for (int version : {0, -1, 15, 10012, 10015, INT_MAX}) {
        QTest::addRow("14 then %d", version) << 14 << version;
        QTest::addRow("11 then %d", version) << 11 << version;
    }
}

void TestRegisterTables::unknownVersionChangesNothing()
{
    QFETCH(int, builtFor);
    QFETCH(int, version);
    ProgramDirFixture dir;
    ModalWatcher modals;
    MainWindow w;
    checkVersion(w, builtFor);
    QTableWidget* config = cfg(w);
    QTableWidget* state = status(w);
    config->item(3, 2)->setText(QStringLiteral("1234"));
    config->item(5, 3)->setCheckState(Qt::Checked);
    state->item(2, 2)->setText(QStringLiteral("77"));
    state->item(5, 2)->setText(QStringLiteral("1.500"));
    const QStringList configBefore = column(config, 1);
    const QStringList labelsBefore = column(state, 0);
    const QStringList stateBefore = column(state, 1);

    checkVersion(w, version);

    QCOMPARE(modals.seen(), QStringList{missingTableText});
    QCOMPARE(config->rowCount(), 14);
    QCOMPARE(column(config, 1), configBefore);
    QCOMPARE(column(state, 0), labelsBefore);
    QCOMPARE(column(state, 1), stateBefore);
    QCOMPARE(config->item(3, 2)->text(), QStringLiteral("1234"));
    QVERIFY(checked(config->item(5, 3)));
    QCOMPARE(state->item(2, 2)->text(), QStringLiteral("77"));
    QCOMPARE(state->item(5, 2)->text(), QStringLiteral("1.500"));
    QVERIFY(w.statusBar()->currentMessage().isEmpty());
}

void TestRegisterTables::sameVersionRebuildStartsClean()
{
    ProgramDirFixture dir;
    MainWindow w;
    QTableWidget* config = cfg(w);
    config->item(3, 2)->setText(QStringLiteral("1234"));
    config->item(5, 3)->setCheckState(Qt::Checked);
    status(w)->item(4, 2)->setText(QStringLiteral("2.000"));

    checkVersion(w, 14);

    QCOMPARE(config->rowCount(), 14);
    QCOMPARE(column(config, 2), blanks(13));
    for (int row = 2; row <= 13; ++row)
        QCOMPARE(config->item(row, 3)->data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(column(status(w), 2), blanks(status(w)->rowCount() - 1));
}

// ---- state rows a table leaves out ----

void TestRegisterTables::hiddenStateRows()
{
    ProgramDirFixture dir;
    MainWindow w;
    // Indices 13..27 given, 28..46 missing from the file (placeholders).
    const QStringList state{
        "Слово состояния",        // 13
        "ПАРАМЕТР",               // 14
        "Скорость X",             // 15
        "Резервный Параметр 16",  // 16
        "пАрАмЕтРы",              // 17
        "Парметр",                // 18 (no such word: shown)
        "Без описания",           // 19
        "Резервный параметр 20",  // 20
        "no separator here",      // 21 (no "=": placeholder)
        "Температура",            // 22
        "",                       // 23 (empty description: shown)
        "Параметр",               // 24
        "Запасной ПараМетр",      // 25
        "Пик-фактор",             // 26
        "Напряжение",             // 27
    };
    QByteArray bytes = tableFile(state);
    bytes.replace("R21=no separator here", "no separator here");
    QVERIFY(dir.writeFile(QStringLiteral("table_12.rgt"), bytes));
    checkVersion(w, 12);

    QCOMPARE(column(status(w), 1),
        (QStringList{"Слово состояния", "Скорость X", "Парметр", "Без описания", "Температура", "", "Пик-фактор",
            "Напряжение"}));
    QCOMPARE(column(status(w), 0), labels({13, 15, 18, 19, 22, 23, 26, 27}));
    for (const QString& text : column(status(w), 1))
        QVERIFY2(!text.contains(QStringLiteral("араметр"), Qt::CaseInsensitive), qPrintable(text));
}

// Each shown row is labelled with the register of its own value and shows its own
// description, however many hidden entries come before it.
void TestRegisterTables::hiddenRowsBeforeShownKeepLabels()
{
    ProgramDirFixture dir;
    MainWindow w;
    QStringList state;
    QList<int> shown;
    for (int s = 13; s <= 46; ++s) {
        const bool hidden = s == 13 || s == 15 || s == 16 || s == 20 || (s >= 23 && s <= 26) || s >= 40;
        state << (hidden ? QStringLiteral("Резервный параметр %1").arg(s) : QStringLiteral("Величина %1").arg(s));
        if (!hidden)
            shown << s;
    }
    QVERIFY(dir.writeFile(QStringLiteral("table_12.rgt"), tableFile(state)));
    QVERIFY(QMetaObject::invokeMethod(&w, "readTableFromFile", Q_ARG(QString, dir.filePath("table_12.rgt"))));

    QTableWidget* table = status(w);
    QCOMPARE(table->rowCount(), 1 + shown.size());
    for (int i = 0; i < shown.size(); ++i) {
        const int s = shown.at(i);
        const int row = i + 1;
        QCOMPARE(table->item(row, 1)->text(), QStringLiteral("Величина %1").arg(s));
        QCOMPARE(table->item(row, 0)->text(), QString::number(labelOfIndex(s)));
    }
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("14"));
    QCOMPARE(table->item(2, 0)->text(), QStringLiteral("19")); // index 17
}

// ---- files missing or odd ----

void TestRegisterTables::missingFileAtStartup()
{
    ProgramDirFixture dir(false);
    ModalWatcher modals;
    auto w = std::make_unique<MainWindow>();
    QCOMPARE(w->statusBar()->currentMessage(), noFileMessage);
    QCOMPARE(cfg(*w)->rowCount(), 1);
    QCOMPARE(status(*w)->rowCount(), 1);
    QCOMPARE(cfg(*w)->item(0, 0)->text(), QStringLiteral("Адрес"));
    QCOMPARE(status(*w)->item(0, 2)->text(), QStringLiteral("Значение"));
    QCOMPARE(modals.seen(), QStringList());

    // The window stays usable: a table put in place later is taken up.
    QFile::copy(deliveredTablesDir() + QStringLiteral("/table_11.rgt"), dir.filePath(QStringLiteral("table_11.rgt")));
    checkVersion(*w, 11);
    QCOMPARE(cfg(*w)->rowCount(), 14);
    QCOMPARE(status(*w)->rowCount(), 10);
    w.reset();
}

void TestRegisterTables::fileGoneOnRebuild()
{
    ProgramDirFixture dir;
    MainWindow w;
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("table_10.rgt"))));
    cfg(w)->item(2, 2)->setText(QStringLiteral("5"));
    checkVersion(w, 10);
    QCOMPARE(w.statusBar()->currentMessage(), noFileMessage);
    QCOMPARE(cfg(w)->rowCount(), 1);
    QCOMPARE(status(w)->rowCount(), 1);
    QCOMPARE(cfg(w)->item(0, 3)->text(), QStringLiteral("Выбор"));
}

void TestRegisterTables::lineWithoutSeparatorShowsPlaceholder()
{
    ProgramDirFixture dir;
    MainWindow w;
    QByteArray bytes = tableFile({"Слово состояния", "Счётчик"});
    bytes.replace("R5=Настройка 5\n", "R5 Настройка 5\n");
    bytes.replace("R7=Настройка 7\n", "\n");
    QVERIFY(dir.writeFile(QStringLiteral("table_12.rgt"), bytes));
    checkVersion(w, 12);
    QCOMPARE(cfg(w)->rowCount(), 14);
    QCOMPARE(cfg(w)->item(6, 1)->text(), QStringLiteral("Параметр 5"));
    QCOMPARE(cfg(w)->item(8, 1)->text(), QStringLiteral("Параметр 7"));
    QCOMPARE(cfg(w)->item(5, 1)->text(), QStringLiteral("Настройка 4"));
    QCOMPARE(cfg(w)->item(7, 1)->text(), QStringLiteral("Настройка 6"));
    QCOMPARE(cfg(w)->item(6, 0)->text(), QStringLiteral("5"));
    // The state lines the file lacks are placeholders, and placeholders get no row.
    QCOMPARE(column(status(w), 1), (QStringList{"Слово состояния", "Счётчик"}));
}

void TestRegisterTables::longerFileIsFine()
{
    ProgramDirFixture dir;
    MainWindow w;
    QByteArray bytes = dir.readFile(QStringLiteral("table_10.rgt"));
    QVERIFY(!bytes.isEmpty());
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    for (int k = 29; k < 80; ++k)
        bytes += "R" + QByteArray::number(k) + "=Лишняя строка " + QByteArray::number(k) + "\n";
    QVERIFY(dir.writeFile(QStringLiteral("table_10.rgt"), bytes));
    checkVersion(w, 10);
    QCOMPARE(cfg(w)->rowCount(), 14);
    QCOMPARE(column(status(w), 0), labelsOfRange(13, 21));
    for (const QString& text : column(status(w), 1))
        QVERIFY(!text.startsWith(QStringLiteral("Лишняя")));
    QVERIFY(w.statusBar()->currentMessage().isEmpty());
}

void TestRegisterTables::deliveredDescriptionsShowWhole_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("table_10") << 10;
    QTest::newRow("table_11") << 11;
    QTest::newRow("table_12") << 12;
    QTest::newRow("table_10013") << 10013;
}

// At the window's start size every delivered description fits its cell on one line.
void TestRegisterTables::deliveredDescriptionsShowWhole()
{
    QFETCH(int, version);
    ProgramDirFixture dir;
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    checkVersion(w, version);
    QCoreApplication::processEvents();
    QCOMPARE(cfg(w)->rowCount(), 14);
    QCOMPARE(textsCutOff(*cfg(w), 1), QStringList());
    QVERIFY(status(w)->rowCount() > 1);
    QCOMPARE(textsCutOff(*status(w), 1), QStringList());
}

void TestRegisterTables::deliveredDescriptionsNameShownUnits_data()
{
    deliveredDescriptionsShowWhole_data();
}

// Register 2 is shown ten times its raw value, that is in Hz; no description speaks of
// a scaling that the table does not show.
void TestRegisterTables::deliveredDescriptionsNameShownUnits()
{
    QFETCH(int, version);
    ProgramDirFixture dir;
    MainWindow w;
    checkVersion(w, version);
    QCOMPARE(column(cfg(w), 1).value(2), QStringLiteral("Частота дискретизации, Гц"));
    for (const QString& text : column(cfg(w), 1) + column(status(w), 1))
        QVERIFY2(!text.contains(QStringLiteral("x10")), qPrintable(text));
}

QTEST_MAIN(TestRegisterTables)
#include "tst_registertables.moc"
