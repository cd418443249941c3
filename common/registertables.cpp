#include "registertables.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QTableWidget>

namespace {
QString windowText(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}
}

void RegisterTables::makeReadOnly(QTableWidgetItem* item)
{
    item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEditable));
}

QTableWidgetItem* RegisterTables::leftAlignedItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignLeft);
    return item;
}

void RegisterTables::setCaptionRow(QTableWidget* table, const QStringList& captions)
{
    for (int column = 0; column < table->columnCount(); ++column) {
        auto* item = new QTableWidgetItem();
        table->setItem(0, column, item);
        makeReadOnly(item);
    }
    for (int column = 0; column < captions.size(); ++column) {
        if (QTableWidgetItem* item = table->item(0, column))
            item->setText(captions.at(column));
    }
}

void RegisterTables::fillConfigTable(QTableWidget* table, const QStringList& descriptions, int count)
{
    setCaptionRow(table,
        {windowText("Адрес"), windowText("Обозначение"), windowText("Значение"), windowText("Выбор")});
    for (int row = 1; row <= count; ++row) {
        const int address = row - 1;
        table->insertRow(row);
        auto* number = leftAlignedItem(QString::number(address));
        auto* description = leftAlignedItem(descriptions.value(address));
        auto* choice = new QTableWidgetItem();
        if (row != 1)
            choice->setCheckState(Qt::Unchecked);
        table->setItem(row, 0, number);
        table->setItem(row, 1, description);
        table->setItem(row, 2, leftAlignedItem(QString()));
        table->setItem(row, 3, choice);
        makeReadOnly(number);
        makeReadOnly(description);
        makeReadOnly(choice);
    }
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->setSectionResizeMode(3, QHeaderView::Fixed);
    table->setColumnWidth(0, 80);
    table->setColumnWidth(2, 160);
    table->setColumnWidth(3, 80);
}

void RegisterTables::setStatusCaptions(QTableWidget* table)
{
    setCaptionRow(table, {windowText("Адрес"), windowText("Обозначение"), windowText("Значение")});
}

int RegisterTables::appendStatusRow(QTableWidget* table, int label, const QString& description)
{
    const int row = table->rowCount();
    table->insertRow(row);
    QTableWidgetItem* items[] = {leftAlignedItem(QString::number(label)), leftAlignedItem(description),
        leftAlignedItem(QString())};
    for (int column = 0; column < 3; ++column) {
        table->setItem(row, column, items[column]);
        makeReadOnly(items[column]);
    }
    return row;
}

bool RegisterTables::measurementModeAccepted(QWidget* parent, const QString& text)
{
    bool ok = false;
    const int mode = text.toInt(&ok, 10);
    if (!ok || (mode >= 0 && mode <= 3))
        return true;
    QMessageBox::warning(parent, QStringLiteral("Внимание"),
        QStringLiteral("Режим измерения принимает значения от 0 до 3 включительно, где: \n\n"
                       "0 - измерение по модулю осей\n1 - измерение по оси X\n"
                       "2 - измерение по оси Y\n3 - измерение по оси Z\n"),
        QMessageBox::Ok, QMessageBox::NoButton);
    return false;
}
