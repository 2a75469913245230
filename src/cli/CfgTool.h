#pragma once
// vornterm-cfg: reads and writes "VornTerm.cfg" in the current directory.
//
//   vornterm-cfg                      prints the configuration, one field a line
//   vornterm-cfg set port=... baud=... data=... parity=... stop=... flow=...
//                                     changes the named fields, writes the file
//
// The file is read as the Terminal window reads it: bytes after the
// configuration are ignored, and anything but a regular file is not opened.
// A damaged file is never overwritten (nor moved aside): set refuses it.
//
// Exit codes: 0 done; 1 the file is missing, unreadable, damaged or cannot be
// written, with the file and the reason on standard error; 2 bad usage or a
// bad value.
// Main thread of its own program.

#include <QString>
#include <QStringList>

class CKrCommConfig;

int RunCfgTool(int argc, char* argv[]);

// The tool without a process around it: arguments after the program name,
// what it prints to standard output and to standard error.
int RunCfgTool(const QStringList& args, QString& out, QString& err);

// "port=loop://\nbaud=9600\n..." in the order the set command takes.
QString FormatConfig(const CKrCommConfig& config);
