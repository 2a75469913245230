// AppendText throughput: blocks of 1, 64 and 4096 bytes from a second thread,
// as the port delivers them, while the user-interface thread refreshes the
// view as it would on screen. Hex display off and on.
//
//   build/bench/bench_appendtext [seconds-per-case]

#include "Afx.h"
#include "CDataView.h"
#include "CTerminalDlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <thread>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? atof(argv[1]) : 2.0;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    AfxScopedHooks quiet(AfxHooks{[](const QString&, int) { return IDOK; }, {}, [] {}, {}, {}, {}});

    std::printf("%-6s %-4s %14s %10s %9s\n", "block", "hex", "blocks/s", "MB/s", "refreshes");
    for (const bool bHex : {false, true}) {
        for (const int nBlock : {1, 64, 4096}) {
            CTerminalDlg dlg;
            dlg.Create();
            dlg.show();
            if (bHex)
                dlg.OnToggleHex();
            QByteArray block(nBlock, 'A');
            for (int i = 0; i < nBlock; ++i)
                block[i] = char(32 + i % 90);
            if (nBlock >= 64)
                block[nBlock - 1] = '\n';

            std::atomic<bool> bStop{false};
            std::atomic<qint64> nBlocks{0};
            QElapsedTimer timer;
            timer.start();
            std::thread feeder([&] {
                qint64 n = 0;
                while (!bStop.load(std::memory_order_relaxed)) {
                    for (int i = 0; i < 256; ++i)
                        dlg.ReceiveSink().OnReceive(block.constData(), nBlock);
                    n += 256;
                }
                nBlocks = n;
            });
            int nRefreshes = 0;
            qint64 nLastRows = -1;
            while (timer.elapsed() < seconds * 1000) {
                app.processEvents(QEventLoop::AllEvents, 5);
                const qint64 rows = dlg.DataView()->TotalRows();
                if (rows != nLastRows) {
                    ++nRefreshes;
                    nLastRows = rows;
                }
            }
            bStop = true;
            feeder.join();
            const double elapsed = timer.elapsed() / 1000.0;
            const double perSecond = double(nBlocks.load()) / elapsed;
            std::printf("%-6d %-4s %14.0f %10.1f %9d\n", nBlock, bHex ? "on" : "off", perSecond,
                        perSecond * nBlock / 1e6, nRefreshes);
        }
    }
    return 0;
}
