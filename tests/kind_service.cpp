// The shared cases run on the current edition's window.

#include "linkedwindow.h"

const WindowKind& windowKind()
{
    static const WindowKind kind = [] {
        WindowKind k;
        k.name = QStringLiteral("Tarvex_Service");
        k.retries = MainWindow::modbusRetries;
        k.stateCount = 34;
        k.signedCells = true;
        k.checksMeasurementMode = true;
        return k;
    }();
    return kind;
}

std::unique_ptr<SensorWindow> makeSensorWindow()
{
    return std::make_unique<LinkedWindow>();
}
