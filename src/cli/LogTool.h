#pragma once
// vornterm-log: prints a day's log with the arrival time of each line or
// frame, taken from the timing index beside it, lists the port's events, or
// checks the index against the log. Reads both in small pieces, so that a
// log of any size, or one being written, costs little memory. Manual pages:
// vornterm-log(1), vornterm-index(5). Runs on the program's one thread.

#include <QIODevice>
#include <QString>
#include <QStringList>

// Runs the tool with its arguments (without the program's name); what it
// prints goes to `out`, its complaints to `err`. The exit status: 0, 1 when
// --verify found a disagreement, 2 when the arguments or files were wrong.
int RunLogTool(const QStringList& args, QIODevice& out, QString& err);
int RunLogTool(int argc, char* argv[]);
