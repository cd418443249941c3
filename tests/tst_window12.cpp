// The window of the earlier editions without a sensor: start-up and form, the register
// names from "Names.txt", the line-settings check box, a failed connect, the plot's
// mouse and clear, the help text and the text export.

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSerialPortInfo>
#include <QTest>

#include <cmath>

#include "window12.h"

namespace {
const QString namesMissing = QStringLiteral("Файл с описанием не найден ");

QStringList placeholders()
{
    QStringList names;
    for (int i = 0; i < 29; ++i)
        names << QStringLiteral("Параметр %1").arg(i);
    return names;
}

QStringList columnTexts(const QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 1; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QStringLiteral("<no item>"));
    return texts;
}

QStringList blanks(int count)
{
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts << QString();
    return texts;
}

QStringList comboItems(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

void sendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint pos, Qt::MouseButtons held)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QString rangeText(const QCPRange& range)
{
    return QStringLiteral("(%1, %2)").arg(range.lower, 0, 'g', 17).arg(range.upper, 0, 'g', 17);
}

// The names of the three export files for the current minute; waits out a minute that
// is about to turn, so that the export a test makes next gets the same names.
QStringList exportNames()
{
    if (QTime::currentTime().second() >= 58)
        QTest::qWait(2500);
    const QString time = QTime::currentTime().toString(QStringLiteral("HH-mm"));
    const QString date = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
    QStringList names;
    for (const char* quantity : {"Vibroacceleration", "Vibrovelocity", "Vibrodisplacement"})
        names << QStringLiteral("%1 [%2, %3].txt").arg(QLatin1String(quantity), time, date);
    return names;
}
}

class TestWindow12 : public QObject
{
    Q_OBJECT

private slots:
    void formBeforeStartUp();
    void startUp();
    void namesFile_data();
    void namesFile();
    void deliveredNamesShowWhole();
    void deliveredNamesNameShownUnits();
    void settingsCheckBox();
    void failedConnect();
    void pollTickWithoutConnectionDoesNothing();
    void rightDragZoomsFromThePress();
    void leftDoubleClickFits();
    void clearEmptiesGraphAndKeepsView();
    void helpText();
    void exportWithoutSamples();
    void exportNamesFileItCouldNotWrite();
};

// What the form itself sets; the start-up step then replaces tab and title.
void TestWindow12::formBeforeStartUp()
{
    ProgramDirFixture dir(false);
    MainWindow window;
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    QCOMPARE(tabs->currentIndex(), isEdition12 ? 2 : 1);
    QCOMPARE(window.windowTitle(), QStringLiteral("Tarvex-сервис"));
    QCOMPARE(window.findChild<QTableWidget*>(QStringLiteral("tableCfg"))->rowCount(), 1);
    QCOMPARE(window.findChild<QTableWidget*>(QStringLiteral("tableStatus"))->rowCount(), 1);
    QVERIFY(!window.findChild<QModbusClient*>());
}

void TestWindow12::startUp()
{
    Window12 t;
    QVERIFY(t.open());
    MainWindow& w = *t.window;
    QCOMPARE(w.windowTitle(), editionTitle());
    QCOMPARE(t.tabs->currentIndex(), 0);
    QCOMPARE(t.tabs->tabText(0), QStringLiteral("Конфигурация"));
    QCOMPARE(t.tabs->tabText(1), QStringLiteral("Данные"));
    QCOMPARE(t.tabs->tabText(2), QStringLiteral("Графики"));
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    QCOMPARE(t.openButton->text(), QStringLiteral("Подключиться"));
    QCOMPARE(w.statusBar()->currentMessage(), QString());
    QCOMPARE(w.maximumSize(), QSize(1920, 1080));

    // The line settings: locked on their defaults.
    QCOMPARE(comboItems(t.speed),
        (QStringList{"1200", "2400", "4800", "9600", "19200", "38400", "115200 (по умолчанию)"}));
    QCOMPARE(comboItems(t.parity), (QStringList{"Без контроля четности (по умолчанию)", "Четность", "Нечетность"}));
    QCOMPARE(comboItems(t.stopBits), (QStringList{"1 (по умолчанию)", "2"}));
    QCOMPARE(t.speed->currentText(), QStringLiteral("115200 (по умолчанию)"));
    QCOMPARE(t.parity->currentIndex(), 0);
    QCOMPARE(t.stopBits->currentIndex(), 0);
    for (QComboBox* box : {t.speed, t.parity, t.stopBits})
        QVERIFY(!box->isEnabled());
    QVERIFY(!t.settings->isChecked());
    QCOMPARE(t.slave->text(), QStringLiteral("1"));
    QStringList present;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        present << port.portName();
    QCOMPARE(comboItems(t.ports), present);

    QCOMPARE(t.period->minimum(), 0);
    QCOMPARE(t.period->maximum(), 99);
    QCOMPARE(t.period->value(), 1);
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: "));
    QVERIFY(t.acceleration->isChecked());
    QVERIFY(!t.velocity->isChecked() && !t.displacement->isChecked());
    QVERIFY(!t.plotting->isChecked());
    QCOMPARE(t.average->text(), QString());
    QCOMPARE(t.canvas->graphCount(), 1);

    // The tables: a caption row, then one row per register.
    const QStringList names = deliveredNames();
    QCOMPARE(names.size(), 29);
    QCOMPARE(t.cfg->rowCount(), 14);
    QCOMPARE(t.status->rowCount(), 17);
    QCOMPARE((QStringList{t.cfg->item(0, 0)->text(), t.cfg->item(0, 1)->text(), t.cfg->item(0, 2)->text(),
                 t.cfg->item(0, 3)->text()}),
        (QStringList{"Адрес", "Обозначение", "Значение", "Выбор"}));
    QCOMPARE((QStringList{t.status->item(0, 0)->text(), t.status->item(0, 1)->text(), t.status->item(0, 2)->text()}),
        (QStringList{"Адрес", "Обозначение", "Значение"}));
    QStringList configAddresses;
    for (int a = 0; a <= 12; ++a)
        configAddresses << QString::number(a);
    QStringList stateAddresses;
    for (int a = 13; a <= 28; ++a)
        stateAddresses << QString::number(a);
    QCOMPARE(columnTexts(t.cfg, 0), configAddresses);
    QCOMPARE(columnTexts(t.cfg, 1), names.mid(0, 13));
    QCOMPARE(columnTexts(t.cfg, 2), blanks(13));
    QCOMPARE(columnTexts(t.status, 0), stateAddresses);
    QCOMPARE(columnTexts(t.status, 1), names.mid(13));
    QCOMPARE(columnTexts(t.status, 2), blanks(16));

    for (QTableWidget* table : {t.cfg, t.status}) {
        for (int row = 0; row < table->rowCount(); ++row) {
            for (int column = 0; column < table->columnCount(); ++column) {
                const QTableWidgetItem* item = table->item(row, column);
                QVERIFY(item);
                const bool editable = table == t.cfg && row > 0 && column == 2;
                QCOMPARE(bool(item->flags() & Qt::ItemIsEditable), editable);
                QCOMPARE(bool(item->flags() & Qt::ItemIsSelectable), editable);
                if (row > 0 && column < 3)
                    QCOMPARE(item->data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft));
            }
        }
    }
    // Register 0 has no check box: it is written before every ticked row.
    QVERIFY(!t.choice(1)->data(Qt::CheckStateRole).isValid());
    for (int row = 2; row <= 13; ++row) {
        QCOMPARE(t.choice(row)->checkState(), Qt::Unchecked);
        QVERIFY(t.choice(row)->flags() & Qt::ItemIsUserCheckable);
    }

    QHeaderView* header = t.cfg->horizontalHeader();
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(header->sectionResizeMode(1), QHeaderView::Stretch);
    QCOMPARE(header->sectionResizeMode(2), QHeaderView::Fixed);
    QCOMPARE(header->sectionResizeMode(3), QHeaderView::Fixed);
    QCOMPARE(t.cfg->columnWidth(0), 80);
    QCOMPARE(t.cfg->columnWidth(2), 160);
    QCOMPARE(t.cfg->columnWidth(3), 80);
    QCOMPARE(t.status->horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);
    QCOMPARE(t.status->columnWidth(0), 80);
    QCOMPARE(t.status->columnWidth(2), 160);
    QVERIFY(!t.cfg->horizontalHeader()->isVisible() && !t.cfg->verticalHeader()->isVisible());
    QVERIFY(!t.status->horizontalHeader()->isVisible() && !t.status->verticalHeader()->isVisible());
}

void TestWindow12::namesFile_data()
{
    QTest::addColumn<QString>("kind"); // file, missing or directory
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("overrides"); // "register=description" over the placeholders
    QTest::addColumn<bool>("message");

    QByteArray thirty;
    QStringList thirtyNames;
    for (int k = 0; k < 30; ++k) {
        thirty += QByteArray::number(k) + "=Имя " + QByteArray::number(k) + "\n";
        if (k < 29)
            thirtyNames << QStringLiteral("%1=Имя %1").arg(k);
    }
    QTest::newRow("missing") << "missing" << QByteArray() << QStringList{} << true;
    QTest::newRow("not openable") << "directory" << QByteArray() << QStringList{} << true;
    QTest::newRow("empty") << "file" << QByteArray() << QStringList{} << false;
    QTest::newRow("30 lines, the last unread") << "file" << thirty << thirtyNames << false;
    QTest::newRow("the sign alone") << "file" << QByteArray("=\n") << QStringList{"0="} << false;
    QTest::newRow("further signs stay") << "file" << QByteArray("X=Y=Z\n") << QStringList{"0=Y=Z"} << false;
    QTest::newRow("blanks stay") << "file" << QByteArray("0= a b \n") << QStringList{"0= a b "} << false;
    QTest::newRow("no sign keeps the placeholder")
        << "file" << QByteArray("Без знака\n1=Второй\n") << QStringList{"1=Второй"} << false;
    QTest::newRow("CR LF") << "file" << QByteArray("0=A\r\n1=Б\r\n") << QStringList{"0=A", "1=Б"} << false;
    QTest::newRow("line 14 names register 13")
        << "file" << QByteArray("\n\n\n\n\n\n\n\n\n\n\n\n\n13=Слово\n14=°C\n") << QStringList{"13=Слово", "14=°C"}
        << false;
}

void TestWindow12::namesFile()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, overrides);
    QFETCH(bool, message);

    Window12 t;
    if (kind == QLatin1String("file"))
        QVERIFY(t.dir.writeFile(QStringLiteral("Names.txt"), bytes));
    else if (kind == QLatin1String("directory"))
        QVERIFY(QDir(t.dir.path()).mkdir(QStringLiteral("Names.txt")));
    QVERIFY(t.open(false));

    QStringList expected = placeholders();
    for (const QString& item : overrides) {
        const int at = item.indexOf(QLatin1Char('='));
        expected[item.left(at).toInt()] = item.mid(at + 1);
    }
    QCOMPARE(columnTexts(t.cfg, 1), expected.mid(0, 13));
    QCOMPARE(columnTexts(t.status, 1), expected.mid(13));
    QCOMPARE(t.status->item(1, 0)->text(), QStringLiteral("13"));
    QCOMPARE(t.window->statusBar()->currentMessage(), message ? namesMissing : QString());
    if (message)
        QCOMPARE(t.messageDuration(), 3000);
}

// At the window's start size every delivered description fits its cell on one line.
void TestWindow12::deliveredNamesShowWhole()
{
    Window12 t;
    QVERIFY(t.open());
    t.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.window.get()));
    for (int tab : {0, 1}) {
        t.tabs->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        QTableWidget* table = tab == 0 ? t.cfg : t.status;
        QCOMPARE(textsCutOff(*table, 1), QStringList());
    }
}

// Register 2 is shown ten times its raw value, that is in Hz; no description speaks of
// a scaling that the table does not show.
void TestWindow12::deliveredNamesNameShownUnits()
{
    Window12 t;
    QVERIFY(t.open());
    QCOMPARE(t.cfg->item(3, 1)->text(), QStringLiteral("Частота дискретизации, Гц"));
    for (QTableWidget* table : {t.cfg, t.status}) {
        for (int row = 1; row < table->rowCount(); ++row)
            QVERIFY2(!table->item(row, 1)->text().contains(QStringLiteral("x10")), qPrintable(table->item(row, 1)->text()));
    }
}

void TestWindow12::settingsCheckBox()
{
    Window12 t;
    QVERIFY(t.open());
    t.settings->click();
    QCOMPARE(t.modals->count(), 1);
    QVERIFY2(t.modals->seen().first().startsWith(QStringLiteral(
                 "Внимание - изменение параметров связи Modbus RTU | Параметры связи по умолчанию в датчике и "
                 "сервисной программе: скорость 115200, без контроля четности, 1 стоповый бит.\n\n")),
        qPrintable(t.modals->seen().first()));
    QVERIFY(t.modals->seen().first().endsWith(QStringLiteral("не изменяйте конфигурацию связи.")));
    for (QComboBox* box : {t.speed, t.parity, t.stopBits})
        QVERIFY(box->isEnabled());
    t.speed->setCurrentIndex(3);
    t.parity->setCurrentIndex(1);
    t.stopBits->setCurrentIndex(1);

    // Unticking shows nothing, locks the boxes and keeps their entries.
    t.settings->click();
    QCOMPARE(t.modals->count(), 1);
    for (QComboBox* box : {t.speed, t.parity, t.stopBits})
        QVERIFY(!box->isEnabled());
    QCOMPARE(t.speed->currentText(), QStringLiteral("9600"));
    QCOMPARE(t.parity->currentText(), QStringLiteral("Четность"));
    QCOMPARE(t.stopBits->currentText(), QStringLiteral("2"));
}

void TestWindow12::failedConnect()
{
    Window12 t;
    QVERIFY(t.open());
    StatusMessages messages(t.window->statusBar());
    t.clickConnect(t.dir.filePath(QStringLiteral("no-such-port")));
    QVERIFY(!t.linkConnected());
    QVERIFY2(t.window->statusBar()->currentMessage().startsWith(QStringLiteral("Ошибка подключения: ")),
        qPrintable(messages.shown().join(QLatin1String(" / "))));
    QCOMPARE(t.messageDuration(), 5000);
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    QCOMPARE(t.openButton->text(), QStringLiteral("Подключиться"));
    QCOMPARE(t.logTexts(), QStringList());
}

void TestWindow12::pollTickWithoutConnectionDoesNothing()
{
    Window12 t;
    QVERIFY(t.open());
    t.tabs->setCurrentIndex(1);
    QVERIFY(QMetaObject::invokeMethod(t.window.get(), "slotTimerTimeout"));
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: "));
    QCOMPARE(t.logTexts(), QStringList());
}

// Every move is measured from the ranges and the scale at the press: moves do not
// feed each other, a return to the press point restores the view, and no range is
// turned inside out.
void TestWindow12::rightDragZoomsFromThePress()
{
    Window12 t;
    QVERIFY(t.open());
    t.window->show();
    t.tabs->setCurrentIndex(2);
    QVERIFY(QTest::qWaitForWindowExposed(t.window.get()));
    QCustomPlot* plot = t.canvas;
    plot->xAxis->setRange(0, 100);
    plot->yAxis->setRange(-10, 10);
    plot->replot();
    const QPoint press = plot->axisRect()->rect().center();
    const QCPRange xAtPress = plot->xAxis->range();
    const QCPRange yAtPress = plot->yAxis->range();

    sendMouse(plot, QEvent::MouseButtonPress, Qt::RightButton, press, Qt::RightButton);
    QCOMPARE(t.window->cursor().shape(), Qt::ClosedHandCursor);

    // Right widens x about its centre; the y range stays.
    sendMouse(plot, QEvent::MouseMove, Qt::NoButton, press + QPoint(40, 0), Qt::RightButton);
    const QCPRange x40 = plot->xAxis->range();
    QVERIFY2(x40.lower < 0 && x40.upper > 100, qPrintable(rangeText(x40)));
    QVERIFY(std::fabs(x40.center() - 50) < 1e-9);
    QCOMPARE(plot->yAxis->range(), yAtPress);

    // Twice the distance, twice the widening, however many moves led there.
    for (int dx = 45; dx <= 80; dx += 5)
        sendMouse(plot, QEvent::MouseMove, Qt::NoButton, press + QPoint(dx, 0), Qt::RightButton);
    const QCPRange x80 = plot->xAxis->range();
    QVERIFY2(std::fabs((x80.size() - 100) - 2 * (x40.size() - 100)) < 1e-9,
        qPrintable(rangeText(x40) + QLatin1Char(' ') + rangeText(x80)));

    // Up widens y; back at the press point both ranges are those of the press.
    sendMouse(plot, QEvent::MouseMove, Qt::NoButton, press + QPoint(0, -30), Qt::RightButton);
    QVERIFY(plot->yAxis->range().size() > 20);
    sendMouse(plot, QEvent::MouseMove, Qt::NoButton, press, Qt::RightButton);
    QCOMPARE(plot->xAxis->range(), xAtPress);
    QCOMPARE(plot->yAxis->range(), yAtPress);

    // Far to the left and down: the ranges narrow but never turn inside out.
    for (int step = 1; step <= 20; ++step) {
        sendMouse(plot, QEvent::MouseMove, Qt::NoButton, press + QPoint(-step * 30, step * 30), Qt::RightButton);
        QVERIFY2(plot->xAxis->range().upper > plot->xAxis->range().lower, qPrintable(rangeText(plot->xAxis->range())));
        QVERIFY2(plot->yAxis->range().upper > plot->yAxis->range().lower, qPrintable(rangeText(plot->yAxis->range())));
    }

    sendMouse(plot, QEvent::MouseButtonRelease, Qt::RightButton, press, Qt::NoButton);
    QCOMPARE(t.window->cursor().shape(), Qt::ArrowCursor);
    const QCPRange xAfter = plot->xAxis->range();
    sendMouse(plot, QEvent::MouseMove, Qt::NoButton, press + QPoint(60, 0), Qt::NoButton);
    QCOMPARE(plot->xAxis->range(), xAfter);
}

void TestWindow12::leftDoubleClickFits()
{
    Window12 t;
    QVERIFY(t.open());
    t.window->show();
    t.tabs->setCurrentIndex(2);
    QVERIFY(QTest::qWaitForWindowExposed(t.window.get()));
    QCustomPlot* plot = t.canvas;
    const QPoint inside = plot->axisRect()->rect().center();

    // With an empty graph the view stays.
    plot->xAxis->setRange(-5, 5);
    plot->yAxis->setRange(-1, 1);
    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, inside);
    QCOMPARE(plot->xAxis->range(), QCPRange(-5, 5));

    plot->graph(0)->setData(QVector<double>{1, 2, 3, 4}, QVector<double>{10, 30, 20, 15});
    QTest::mouseDClick(plot, Qt::RightButton, Qt::NoModifier, inside);
    QCOMPARE(plot->xAxis->range(), QCPRange(-5, 5));
    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, inside);
    QCOMPARE(plot->xAxis->range(), QCPRange(1, 4));
    QCOMPARE(plot->yAxis->range(), QCPRange(10, 30));
}

void TestWindow12::clearEmptiesGraphAndKeepsView()
{
    Window12 t;
    QVERIFY(t.open());
    QCustomPlot* plot = t.canvas;
    plot->graph(0)->setData(QVector<double>{1, 2}, QVector<double>{3, 4});
    plot->xAxis->setRange(0, 7);
    plot->yAxis->setRange(2, 9);
    t.average->setText(QStringLiteral("3.500"));
    t.velocity->setChecked(true);
    QTest::mouseClick(t.clearButton, Qt::LeftButton);
    QCOMPARE(plot->graphCount(), 1);
    QCOMPARE(plot->graph(0)->dataCount(), 0);
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 7));
    QCOMPARE(plot->yAxis->range(), QCPRange(2, 9));
    QCOMPARE(t.average->text(), QStringLiteral("3.500"));
    QVERIFY(t.velocity->isChecked());
    QCOMPARE(t.modals->count(), 0);
}

void TestWindow12::helpText()
{
    Window12 t;
    QVERIFY(t.open());
    QTest::mouseClick(t.helpButton, Qt::LeftButton);
    QCOMPARE(t.modals->count(), 1);
    const QString seen = t.modals->seen().first();
    const QString title = QStringLiteral("Справка по работе с графиками | ");
    QVERIFY(seen.startsWith(title));
    const QString text = seen.mid(title.size());
    QCOMPARE(text.size(), 671);
    const QStringList paragraphs = text.split(QStringLiteral("\n\n"));
    QCOMPARE(paragraphs.size(), 5);
    QCOMPARE(paragraphs.first(),
        QStringLiteral("Чтобы запустить процесс отрисовки графика, необходимо установить флажок в окне \"Отрисовка "
                       "графика в реальном времени\"."));
    QCOMPARE(paragraphs.last(),
        QStringLiteral("Для того, чтобы отмасштабировать график пропорционально по оси X и Y, необходимо "
                       "воспользоваться колесом мыши."));
}

void TestWindow12::exportWithoutSamples()
{
    Window12 t;
    QVERIFY(t.open());
    const QStringList names = exportNames();
    // An earlier export of the same minute is replaced whole.
    QVERIFY(t.dir.writeFile(names.at(0), "1.00000000\n2.00000000\n"));
    QTest::mouseClick(t.exportButton, Qt::LeftButton);
    for (const QString& name : names) {
        QVERIFY2(QFileInfo::exists(t.dir.filePath(name)), qPrintable(name));
        QCOMPARE(t.dir.readFile(name), QByteArray());
    }
    QCOMPARE(t.modals->count(), 0);
    QCOMPARE(t.window->statusBar()->currentMessage(), QString());
}

void TestWindow12::exportNamesFileItCouldNotWrite()
{
    Window12 t;
    QVERIFY(t.open());
    const QStringList names = exportNames();
    QVERIFY(QDir(t.dir.path()).mkdir(names.at(1)));
    QTest::mouseClick(t.exportButton, Qt::LeftButton);
    QCOMPARE(t.modals->count(), 1);
    const QString seen = t.modals->seen().first();
    QVERIFY2(seen.startsWith(QStringLiteral("Ошибка | ")) && seen.contains(names.at(1)), qPrintable(seen));
    QVERIFY2(!seen.contains(names.at(0)) && !seen.contains(names.at(2)), qPrintable(seen));
    QVERIFY(QFileInfo(t.dir.filePath(names.at(0))).isFile());
    QVERIFY(QFileInfo(t.dir.filePath(names.at(2))).isFile());
}

QTEST_MAIN(TestWindow12)
#include "tst_window12.moc"
