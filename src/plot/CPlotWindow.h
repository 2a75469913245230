#pragma once
// The plot window: the numbers in received lines plotted over their arrival
// times, in a window of its own. It owns what it shows: the parser and the
// series store are made with it and go with it, so the plot costs nothing
// once the window is closed (it deletes itself then), and the one who feeds
// it stops when it is gone (hold it in a QPointer, or listen to destroyed()).
//
// Fed as a CPlotFeed: the received bytes in order with their arrival times,
// Clear() when they were discarded. The first change after a quiet spell is
// drawn at once, then at most 20 frames a second while values keep coming
// (CPlotFramePacer); the timer behind it runs only while they do, and counts
// each interval from when the plot drew the frame before.
//
// Controls, each with a shortcut and a name for assistive technology: the
// time window (last 10 s, 1 min, 10 min, everything), Pause (stops following;
// the values are still collected), a fixed value range (From, To), Export
// CSV and Save Picture (written on a thread of their own, see CPlotSaveJob),
// the plot, the legend, the cursor's readout and a line of figures that
// says what was held back (limits reached, lines cut).
//
// User-interface thread.

#include "CPlotFramePacer.h"
#include "CPlotParser.h"
#include "CPlotStore.h"
#include "PlotTypes.h"

#include <QTimer>
#include <QWidget>

class CPlotLegend;
class CPlotSaveJob;
class CPlotView;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

class CPlotWindow : public QWidget, public CPlotFeed
{
    Q_OBJECT
public:
    // A window of its own (pParent only for its place and lifetime); it is
    // deleted when closed. nMaxPoints: the store's limit (tests ask for
    // fewer).
    explicit CPlotWindow(QWidget* pParent = nullptr, qsizetype nMaxPoints = CPlotStore::kMaxPoints);
    ~CPlotWindow() override;

    void Feed(const char* p, qsizetype n, const PlotTimes& times) override;
    void Clear() override;
    // nBytes received bytes were lost before the plot read them (the
    // buffer dropped them first): the lines they touch are not plotted,
    // and the figures say how many bytes went.
    void Skip(qint64 nBytes);

    const CPlotStore& Store() const { return m_store; }
    const CPlotParser& Parser() const { return m_parser; }
    CPlotView* View() const { return m_pView; }
    CPlotLegend* Legend() const { return m_pLegend; }
    // The line of figures below the plot.
    QString StatusText() const;

    // Writes the values as CSV, or the plot as a PNG picture, to `path`
    // (asked for by the buttons). False when another write is under way;
    // else ExportFinished comes once the file is written or refused.
    bool ExportCsv(const QString& path);
    bool SavePicture(const QString& path);

Q_SIGNALS:
    // A write ended: bOk, or the message the user was shown.
    void ExportFinished(const QString& path, bool bOk, const QString& message);

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;

private:
    void OnFrameTimer();
    void OnExportCsvClicked();
    void OnSavePictureClicked();
    void OnRangeChanged();
    void OnSaveFinished(const QString& path, bool bOk, const QString& reason);
    // Draws a frame: the plot, the legend, the figures.
    void ShowFrame();
    // Asks for a frame when the parser's counts moved since the last call.
    void FrameForChanges();
    bool StartSave(const QString& path, const QString& what,
                   std::function<bool(QIODevice&, QString*)> write);

    CPlotStore m_store;
    CPlotParser m_parser;
    CPlotFramePacer m_pacer;
    QTimer m_frameTimer;
    qint64 m_nFedChanges = 0;    // what Feed last saw of the parser's counts
    bool m_bFrameToDraw = false; // a frame was shown that the plot has not drawn yet

    QComboBox* m_pSpan;
    QPushButton* m_pPause;
    QCheckBox* m_pFixed;
    QDoubleSpinBox* m_pLo;
    QDoubleSpinBox* m_pHi;
    QPushButton* m_pExportCsv;
    QPushButton* m_pSavePicture;
    CPlotView* m_pView;
    CPlotLegend* m_pLegend;
    QLabel* m_pCursor;
    QLabel* m_pStatus;
    CPlotSaveJob* m_pSave;
    QString m_strSaveNote; // what is being written or was last, for the figures line
};
