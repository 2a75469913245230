#include "CPlotWindow.h"

#include "CPlotLegend.h"
#include "CPlotSaveJob.h"
#include "CPlotView.h"
#include "PlotCsv.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace {

// Everything a Feed can change in the parser's counts, summed: it grows
// with every change.
qint64 ChangeCount(const CPlotParser::SCounts& c)
{
    return c.nRows + c.nLongLines + c.nUntimedLines + c.nNonFinite + c.nLostBytes;
}

QString DefaultName(const QString& extension)
{
    return QStringLiteral("plot-") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss.")) + extension;
}

} // namespace

CPlotWindow::CPlotWindow(QWidget* pParent, qsizetype nMaxPoints)
    : QWidget(pParent, Qt::Window), m_store(nMaxPoints), m_parser(m_store)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Plot Numbers"));
    setAccessibleName(tr("Plot Numbers"));

    m_pSpan = new QComboBox;
    m_pSpan->setObjectName(QStringLiteral("span"));
    m_pSpan->addItem(tr("Last 10 seconds"), int(CPlotView::Span::Last10s));
    m_pSpan->addItem(tr("Last minute"), int(CPlotView::Span::Last1min));
    m_pSpan->addItem(tr("Last 10 minutes"), int(CPlotView::Span::Last10min));
    m_pSpan->addItem(tr("Everything"), int(CPlotView::Span::All));
    m_pSpan->setCurrentIndex(1);
    m_pSpan->setAccessibleName(tr("Time shown"));
    auto* pSpanLabel = new QLabel(tr("&Time:"));
    pSpanLabel->setBuddy(m_pSpan);

    m_pPause = new QPushButton(tr("&Pause"));
    m_pPause->setObjectName(QStringLiteral("pause"));
    m_pPause->setCheckable(true);
    m_pPause->setAccessibleName(tr("Pause"));
    m_pPause->setToolTip(tr("Stop following new values; they are still collected. "
                            "Double-click the plot or press End there to follow again."));

    m_pFixed = new QCheckBox(tr("&Fixed range"));
    m_pFixed->setAccessibleName(tr("Fixed value range"));
    m_pLo = new QDoubleSpinBox;
    m_pHi = new QDoubleSpinBox;
    for (QDoubleSpinBox* pBox : {m_pLo, m_pHi}) {
        pBox->setRange(-1e12, 1e12);
        pBox->setDecimals(6);
        pBox->setEnabled(false);
        pBox->setKeyboardTracking(false);
    }
    m_pHi->setValue(1);
    m_pLo->setAccessibleName(tr("Lowest value shown"));
    m_pHi->setAccessibleName(tr("Highest value shown"));
    auto* pLoLabel = new QLabel(tr("Fro&m:"));
    pLoLabel->setBuddy(m_pLo);
    auto* pHiLabel = new QLabel(tr("T&o:"));
    pHiLabel->setBuddy(m_pHi);

    m_pExportCsv = new QPushButton(tr("Export &CSV..."));
    m_pExportCsv->setAccessibleName(tr("Export CSV"));
    m_pSavePicture = new QPushButton(tr("Save P&icture..."));
    m_pSavePicture->setAccessibleName(tr("Save Picture"));

    m_pView = new CPlotView(m_store);
    m_pLegend = new CPlotLegend;
    m_pLegend->setMinimumWidth(160);
    m_pLegend->setMaximumWidth(280);
    m_pCursor = new QLabel;
    m_pCursor->setAccessibleName(tr("Cursor"));
    m_pCursor->setTextFormat(Qt::PlainText);
    m_pStatus = new QLabel;
    m_pStatus->setAccessibleName(tr("Figures"));
    m_pStatus->setTextFormat(Qt::PlainText);
    m_pStatus->setWordWrap(true);
    m_pSave = new CPlotSaveJob(this);

    auto* pBar = new QHBoxLayout;
    pBar->addWidget(pSpanLabel);
    pBar->addWidget(m_pSpan);
    pBar->addWidget(m_pPause);
    pBar->addSpacing(12);
    pBar->addWidget(m_pFixed);
    pBar->addWidget(pLoLabel);
    pBar->addWidget(m_pLo);
    pBar->addWidget(pHiLabel);
    pBar->addWidget(m_pHi);
    pBar->addStretch(1);
    pBar->addWidget(m_pExportCsv);
    pBar->addWidget(m_pSavePicture);
    auto* pMiddle = new QHBoxLayout;
    pMiddle->addWidget(m_pView, 1);
    pMiddle->addWidget(m_pLegend);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pBar);
    pLayout->addLayout(pMiddle, 1);
    pLayout->addWidget(m_pCursor);
    pLayout->addWidget(m_pStatus);

    setTabOrder(m_pSpan, m_pPause);
    setTabOrder(m_pPause, m_pFixed);
    setTabOrder(m_pFixed, m_pLo);
    setTabOrder(m_pLo, m_pHi);
    setTabOrder(m_pHi, m_pExportCsv);
    setTabOrder(m_pExportCsv, m_pSavePicture);
    setTabOrder(m_pSavePicture, m_pView);
    setTabOrder(m_pView, m_pLegend);

    connect(m_pSpan, qOverload<int>(&QComboBox::activated), this, [this](int nIndex) {
        m_pView->SetSpan(CPlotView::Span(m_pSpan->itemData(nIndex).toInt()));
    });
    m_pView->SetSpan(CPlotView::Span::Last1min);
    connect(m_pPause, &QPushButton::toggled, this,
            [this](bool bPaused) { m_pView->SetFollow(!bPaused); });
    connect(m_pView, &CPlotView::FollowChanged, this, [this](bool bFollow) {
        const QSignalBlocker block(m_pPause);
        m_pPause->setChecked(!bFollow);
    });
    connect(m_pFixed, &QCheckBox::toggled, this, [this](bool bFixed) {
        if (bFixed) {
            // Starts from what is shown now.
            double dLo = 0, dHi = 1;
            m_pView->ShownRange(&dLo, &dHi);
            const QSignalBlocker blockLo(m_pLo), blockHi(m_pHi);
            m_pLo->setValue(dLo);
            m_pHi->setValue(dHi);
        }
        m_pLo->setEnabled(bFixed);
        m_pHi->setEnabled(bFixed);
        OnRangeChanged();
    });
    connect(m_pLo, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &CPlotWindow::OnRangeChanged);
    connect(m_pHi, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &CPlotWindow::OnRangeChanged);
    connect(m_pExportCsv, &QPushButton::clicked, this, &CPlotWindow::OnExportCsvClicked);
    connect(m_pSavePicture, &QPushButton::clicked, this, &CPlotWindow::OnSavePictureClicked);
    connect(m_pLegend, &CPlotLegend::ShownChanged, m_pView, &CPlotView::SetShown);
    connect(m_pView, &CPlotView::CursorChanged, m_pCursor, &QLabel::setText);
    connect(m_pSave, &CPlotSaveJob::Finished, this, &CPlotWindow::OnSaveFinished);

    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(CPlotFramePacer::kIntervalMs);
    // A coarse timer may run out up to 5 % early, which makes more than 20
    // frames in some seconds.
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    m_pView->installEventFilter(this);
    connect(&m_frameTimer, &QTimer::timeout, this, &CPlotWindow::OnFrameTimer);

    resize(900, 520);
    ShowFrame();
}

CPlotWindow::~CPlotWindow()
{
    // A file being written is finished first: its thread reads nothing of
    // the window, but must not outlive the job.
    m_pSave->Wait();
}

void CPlotWindow::Feed(const char* p, qsizetype n, const PlotTimes& times)
{
    m_parser.Feed(p, n, times);
    FrameForChanges();
}

void CPlotWindow::Skip(qint64 nBytes)
{
    m_parser.Skip(nBytes);
    FrameForChanges();
}

void CPlotWindow::FrameForChanges()
{
    const qint64 nChanges = ChangeCount(m_parser.Counts());
    if (nChanges == m_nFedChanges)
        return;
    m_nFedChanges = nChanges;
    if (m_pacer.DataCame()) {
        ShowFrame();
        m_frameTimer.start();
    }
}

void CPlotWindow::Clear()
{
    m_parser.Clear();
    m_nFedChanges = 0;
    m_pacer.Reset();
    m_frameTimer.stop();
    m_pLegend->Clear();
    m_pView->DataCleared();
    ShowFrame();
}

void CPlotWindow::OnFrameTimer()
{
    if (m_pacer.TimerFired()) {
        ShowFrame();
        m_frameTimer.start();
    }
}

bool CPlotWindow::eventFilter(QObject* pObject, QEvent* pEvent)
{
    // The next frame is due an interval after the plot drew this one, not
    // after it was asked for: a frame drawn late (a busy machine) is not
    // followed by the next one too soon.
    if (pObject == m_pView && pEvent->type() == QEvent::Paint && m_bFrameToDraw) {
        m_bFrameToDraw = false;
        if (m_frameTimer.isActive())
            m_frameTimer.start();
    }
    return QWidget::eventFilter(pObject, pEvent);
}

void CPlotWindow::ShowFrame()
{
    m_bFrameToDraw = true;
    m_pView->DataChanged();
    m_pLegend->Refresh(m_store);
    const QString values = m_pView->LastValuesText();
    if (m_pView->accessibleDescription() != values)
        m_pView->setAccessibleDescription(values);
    const QString status = StatusText();
    if (m_pStatus->text() != status)
        m_pStatus->setText(status);
}

QString CPlotWindow::StatusText() const
{
    const QLocale locale;
    const auto n = [&](qint64 nValue) { return locale.toString(nValue); };
    const CPlotStore::SCounts& s = m_store.Counts();
    const CPlotParser::SCounts& p = m_parser.Counts();
    QStringList parts;
    parts << tr("Series: %1, values: %2, from lines: %3.")
                 .arg(m_store.SeriesCount())
                 .arg(n(m_store.PointCount()), n(m_store.RowCount()));
    // Each limit reached, as "what: how many", so no plural is needed.
    if (s.nOldPoints > 0) {
        parts << tr("Oldest values dropped, %1 being the most kept: %2.")
                     .arg(n(m_store.MaxPoints()), n(s.nOldPoints));
    }
    if (s.nNoSeries > 0) {
        parts << tr("Values of unknown series dropped (%1 series are the most kept, labels of "
                    "at most %2 bytes): %3.")
                     .arg(CPlotStore::kMaxSeries)
                     .arg(CPlotStore::kMaxLabelBytes)
                     .arg(n(s.nNoSeries));
    }
    if (s.nRepeated > 0) {
        parts << tr("Values dropped because their label came twice in a line: %1.")
                     .arg(n(s.nRepeated));
    }
    if (p.nLongLines > 0) {
        parts << tr("Lines longer than %1 bytes, of which only the beginning was read: %2.")
                     .arg(CPlotParser::kMaxLineBytes)
                     .arg(n(p.nLongLines));
    }
    if (p.nUntimedLines > 0)
        parts << tr("Lines without an arrival time, not plotted: %1.").arg(n(p.nUntimedLines));
    if (p.nNonFinite > 0)
        parts << tr("Numbers skipped as nan or inf: %1.").arg(n(p.nNonFinite));
    if (p.nLostBytes > 0) {
        parts << tr("Received bytes the plot could not read in time (the data window had "
                    "already dropped them; their lines are not plotted): %1.")
                     .arg(n(p.nLostBytes));
    }
    if (s.nClockSteps > 0) {
        parts << tr("Times the clock went back (the lines after are shown as much later): %1.")
                     .arg(n(s.nClockSteps));
    }
    if (m_pFixed->isChecked() && !(m_pLo->value() < m_pHi->value())) {
        parts << tr("The fixed range needs From below To; the plot fits the values "
                    "meanwhile.");
    }
    if (!m_strSaveNote.isEmpty())
        parts << m_strSaveNote;
    return parts.join(QLatin1Char(' '));
}

void CPlotWindow::OnRangeChanged()
{
    const bool bFixed = m_pFixed->isChecked();
    m_pView->SetFixedRange(bFixed, m_pLo->value(), m_pHi->value());
    m_pStatus->setText(StatusText());
}

bool CPlotWindow::StartSave(const QString& path, const QString& what,
                            std::function<bool(QIODevice&, QString*)> write)
{
    if (!m_pSave->Start(path, std::move(write)))
        return false;
    m_strSaveNote = tr("Writing %1 to %2...").arg(what, path);
    m_pExportCsv->setEnabled(false);
    m_pSavePicture->setEnabled(false);
    m_pStatus->setText(StatusText());
    return true;
}

bool CPlotWindow::ExportCsv(const QString& path)
{
    // The thread writes a copy: the window goes on collecting meanwhile.
    auto pCopy = std::make_shared<const CPlotStore>(m_store);
    return StartSave(path, tr("the values"), [pCopy](QIODevice& file, QString* pError) {
        return PlotCsv::Write(*pCopy, file, pError);
    });
}

bool CPlotWindow::SavePicture(const QString& path)
{
    const QImage image = m_pView->grab().toImage();
    return StartSave(path, tr("the picture"), [image](QIODevice& file, QString* pError) {
        if (image.save(&file, "PNG"))
            return true;
        *pError = file.errorString().isEmpty() ? QStringLiteral("the picture could not be encoded")
                                               : file.errorString();
        return false;
    });
}

void CPlotWindow::OnExportCsvClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export CSV"), DefaultName("csv"),
                                                      tr("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty())
        ExportCsv(path);
}

void CPlotWindow::OnSavePictureClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Picture"), DefaultName("png"),
                                                      tr("PNG pictures (*.png);;All files (*)"));
    if (!path.isEmpty())
        SavePicture(path);
}

void CPlotWindow::OnSaveFinished(const QString& path, bool bOk, const QString& reason)
{
    m_pExportCsv->setEnabled(true);
    m_pSavePicture->setEnabled(true);
    QString message;
    if (bOk) {
        message = tr("Wrote %1.").arg(path);
    } else {
        message = tr("Could not write '%1': %2.").arg(path, reason);
        QMessageBox* pBox =
            new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
        pBox->setAttribute(Qt::WA_DeleteOnClose);
        pBox->open();
    }
    m_strSaveNote = message;
    m_pStatus->setText(StatusText());
    Q_EMIT ExportFinished(path, bOk, message);
}

void CPlotWindow::closeEvent(QCloseEvent* pEvent)
{
    m_frameTimer.stop();
    QWidget::closeEvent(pEvent);
}
