#pragma once

#include <QString>
#include <QStringList>

class QTableWidget;
class QTableWidgetItem;
class QWidget;

// The register tables of every edition: row 0 holds the captions, the configuration
// table holds register k in row k + 1 with an editable value and a "Выбор" check box
// (none for register 0), and no other cell can be selected or edited.
namespace RegisterTables {
void makeReadOnly(QTableWidgetItem* item);
QTableWidgetItem* leftAlignedItem(const QString& text);
void setCaptionRow(QTableWidget* table, const QStringList& captions);

// Captions, one row per register 0 .. count - 1 named from `descriptions`, and the
// columns' geometry. The table holds only its caption row before.
void fillConfigTable(QTableWidget* table, const QStringList& descriptions, int count);
// The status table's captions.
void setStatusCaptions(QTableWidget* table);
// Appends a read-only status row: the register shown as `label`, its description and an
// empty value. Returns the row.
int appendStatusRow(QTableWidget* table, int label, const QString& description);

// The measurement mode (register 9) takes 0 to 3; text that is no number passes. On any
// other number the user is told what the modes are, and false is returned.
bool measurementModeAccepted(QWidget* parent, const QString& text);
// Its row in the configuration table.
constexpr int measurementModeRow = 10;
}
