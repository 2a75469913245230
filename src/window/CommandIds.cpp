#include "CommandIds.h"

QString ToolTipForCommand(int nID)
{
    switch (nID) {
    case ID_CONFIGURE_PORT:
        return QStringLiteral("Configure Port");
    case ID_TOGGLE_PAUSE:
        return QStringLiteral("Pause Scrolling");
    case ID_SEND_COUNTER:
        return QStringLiteral("Send Counter Data");
    case ID_CLEAR_DATA:
        return QStringLiteral("Clear Data Window");
    case ID_TOGGLE_HEX:
        return QStringLiteral("Toggle Hex Display");
    case ID_SEND_TEXT_FILE:
        return QStringLiteral("Send Text File");
    case ID_SHOW_ABOUT:
        return QStringLiteral("About Vornterm");
    default:
        return QString();
    }
}
