#pragma once
// The Terminal window's commands, in toolbar order, and their tooltips.
// Constants and pure functions, any thread.

#include <QString>
#include <array>

constexpr int ID_TOGGLE_PAUSE = 32779;
constexpr int ID_SHOW_ABOUT = 32780;
constexpr int ID_CONFIGURE_PORT = 32781;
constexpr int ID_SEND_COUNTER = 32782;
constexpr int ID_CLEAR_DATA = 32783;
constexpr int ID_TOGGLE_HEX = 32785;
constexpr int ID_SEND_TEXT_FILE = 32786;

constexpr std::array<int, 7> kToolbarCommands = {
    ID_CONFIGURE_PORT, ID_TOGGLE_PAUSE,   ID_SEND_COUNTER, ID_CLEAR_DATA,
    ID_TOGGLE_HEX,     ID_SEND_TEXT_FILE, ID_SHOW_ABOUT};

// The tooltip of a command; the empty text for 0 and any unknown id.
QString ToolTipForCommand(int nID);
