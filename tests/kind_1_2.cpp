// The shared cases run on the earlier editions' window: 1.2.1, or 1.2 when built with
// TARVEX_EDITION_1_2.

#include "window12.h"

const WindowKind& windowKind()
{
    static const WindowKind kind = [] {
        WindowKind k;
        k.name = isEdition12 ? QStringLiteral("Tarvex_Service_12") : QStringLiteral("Tarvex_Service_121");
        k.retries = MainWindow::modbusRetries;
        k.stateCount = 16;
        k.signedCells = false;
        k.checksMeasurementMode = !isEdition12;
        return k;
    }();
    return kind;
}

std::unique_ptr<SensorWindow> makeSensorWindow()
{
    return std::make_unique<Window12>();
}
