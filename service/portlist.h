#pragma once

#include <QStringList>

class QComboBox;

// Brings the box in step with the ports present: entries that stay keep their place,
// vanished ones go, new ones are appended in the given order (a text already held is
// not added again).
void mergePortEntries(QComboBox& box, const QStringList& present);
// "name (description)" of every serial port present.
QStringList presentPortEntries();
