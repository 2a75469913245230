#pragma once
// The System Information dialog: summary, disk and memory panes filled from
// a fresh query of the system each time it opens, and the logo at the top
// left. The opener sets m_crBack and m_crText before DoModal.
// User-interface thread.

#include "ColorRef.h"

#include <QDialog>

class CSysInfoSource;
class QPlainTextEdit;
class QPushButton;

class CSysInfoDlg : public QDialog
{
    Q_OBJECT

public:
    enum
    {
        IDD = 103
    };
    enum : int
    {
        IDC_SUMMARY = 1032,
        IDC_DISK = 1033,
        IDC_MEMORY = 1034,
    };
    static constexpr int kLogoBitmap = 1008;
    static constexpr int kLogoX = 17;
    static constexpr int kLogoY = 17;

    explicit CSysInfoDlg(QWidget* pParent = nullptr);
    ~CSysInfoDlg() override;

    int DoModal();

    // The facts come from CurrentSysInfoSource() unless set here.
    void SetSource(CSysInfoSource* pSource) { m_pSource = pSource; }

    QPlainTextEdit* m_editSummary = nullptr;
    QPlainTextEdit* m_editDisk = nullptr;
    QPlainTextEdit* m_editMemory = nullptr;
    COLORREF m_crBack = 0;
    COLORREF m_crText = 0;

    QPushButton* DoneButton() const { return m_btnDone; }

protected:
    void DoDataExchange();
    bool OnInitDialog();
    void paintEvent(QPaintEvent* event) override;

private:
    void CreateTemplate();
    void OnCtlColor();

    QPushButton* m_btnDone = nullptr;
    CSysInfoSource* m_pSource = nullptr;
};

// The source the dialogs ask: the running system's, or the one a
// CScopedSysInfoSource has put in its place.
CSysInfoSource& CurrentSysInfoSource();

class CScopedSysInfoSource
{
public:
    explicit CScopedSysInfoSource(CSysInfoSource* pSource);
    ~CScopedSysInfoSource();
    CScopedSysInfoSource(const CScopedSysInfoSource&) = delete;
    CScopedSysInfoSource& operator=(const CScopedSysInfoSource&) = delete;

private:
    CSysInfoSource* m_pSaved;
};

// A text of "\r\n"-ended lines as a text widget wants it.
QString ToEditText(const QByteArray& text);
QString ToEditText(const QString& text);
