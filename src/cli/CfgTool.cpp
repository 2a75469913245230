#include "CfgTool.h"

#include "CArchive.h"
#include "CKrCommConfig.h"
#include "CSettingsFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage: vornterm-cfg\n"
    "       vornterm-cfg --help\n"
    "       vornterm-cfg set [port=PATH|URL] [baud=N] [data=5|6|7|8] [parity=N|O|E|M|S]\n"
    "                        [stop=1|1.5|2] [flow=none|rtscts|xonxoff]\n"
    "                        [dtr=on|off|keep] [rts=on|off|keep]\n";

const char kHelp[] =
    "\n"
    "Shows or changes the port configuration that VornTerm keeps in VornTerm.cfg in\n"
    "the current folder. Without arguments it prints the configuration, one\n"
    "field=value a line; 'set' changes the fields given and keeps the others (a\n"
    "missing file starts from the defaults).\n";

QString FileName()
{
    return QString::fromLatin1(SettingsFile::kFileName);
}

// Loads the file into `config`. 0 when loaded, 1 with a message otherwise;
// `bMissing` tells a file that is not there at all.
int LoadInto(CKrCommConfig& config, QString& err, bool& bMissing)
{
    bMissing = !QFileInfo::exists(FileName());
    QString reason;
    switch (SettingsFile::Load([&config](CArchive& ar) { SerializeConfig(ar, config); }, &reason)) {
    case SettingsFile::Result::Ok:
        return 0;
    case SettingsFile::Result::NotOpened:
        err += bMissing ? QStringLiteral("'%1' not found in %2; 'vornterm-cfg set ...' makes "
                                         "one, and so does the first start of VornTerm in that "
                                         "folder\n")
                              .arg(FileName(), QFileInfo(FileName()).absolutePath())
                        : QStringLiteral("Reading '%1': %2\n").arg(FileName(), reason);
        return 1;
    case SettingsFile::Result::Failed:
        break;
    }
    err += QStringLiteral("Reading '%1': %2\n").arg(FileName(), reason);
    return 1;
}

} // namespace

QString FormatConfig(const CKrCommConfig& c)
{
    return QStringLiteral(
               "port=%1\nbaud=%2\ndata=%3\nparity=%4\nstop=%5\nflow=%6\ndtr=%7\nrts=%8\n")
        .arg(c.strPort)
        .arg(c.nBaud)
        .arg(c.nDataBits)
        .arg(ParityLetter(c.parity))
        .arg(StopBitsText(c.stopBits))
        .arg(FlowText(c.flow).toLower().remove(QLatin1Char('/')))
        .arg(KrLineAtOpenText(c.dtrAtOpen))
        .arg(KrLineAtOpenText(c.rtsAtOpen));
}

int RunCfgTool(const QStringList& args, QString& out, QString& err)
{
    CKrCommConfig config;
    bool bMissing = false;

    if (args.isEmpty()) {
        if (LoadInto(config, err, bMissing) != 0)
            return 1;
        out += FormatConfig(config);
        return 0;
    }
    if (args.size() == 1 &&
        (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))) {
        out += QString::fromLatin1(kUsage) + QString::fromLatin1(kHelp);
        return 0;
    }
    if (args.first() != QLatin1String("set") || args.size() < 2) {
        err += QString::fromLatin1(kUsage);
        return 2;
    }

    // A missing file starts from the defaults; a damaged one is not
    // overwritten behind the user's back.
    QString loadErr;
    if (LoadInto(config, loadErr, bMissing) != 0 && !bMissing) {
        err += loadErr;
        return 1;
    }
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const int eq = arg.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            err += QStringLiteral("'%1' is not of the form field=value\n").arg(arg) +
                   QString::fromLatin1(kUsage);
            return 2;
        }
        QString error;
        if (!config.SetField(arg.left(eq), arg.mid(eq + 1), &error)) {
            err += error + QLatin1Char('\n');
            return 2;
        }
    }

    QString reason;
    switch (SettingsFile::Save([&config](CArchive& ar) { SerializeConfig(ar, config); }, &reason)) {
    case SettingsFile::Result::Ok:
        out += FormatConfig(config);
        return 0;
    case SettingsFile::Result::NotOpened:
    case SettingsFile::Result::Failed:
        break;
    }
    err += QStringLiteral("Writing '%1': %2\n").arg(FileName(), reason);
    return 1;
}

int RunCfgTool(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    QString out;
    QString err;
    const int rc = RunCfgTool(args, out, err);
    std::fputs(out.toLocal8Bit().constData(), stdout);
    std::fputs(err.toLocal8Bit().constData(), stderr);
    return rc;
}
