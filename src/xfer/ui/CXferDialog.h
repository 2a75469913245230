#pragma once
// The small dialog of "Send File with XMODEM/YMODEM..." and "Receive Files
// with XMODEM/YMODEM...": the path (the file to send; the folder to receive
// into with YMODEM, or the file to write with XMODEM, which sends no name)
// with a Browse button, the protocol (YMODEM first), OK and Cancel. The path
// has the focus and OK is the default button, so a typed path and Enter
// start the transfer. OK checks the path first (XferJobCheck) and, when it
// cannot be used, says why beneath it and stays open.
//
// User-interface thread.

#include "XferJob.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CXferDialog : public QDialog
{
    Q_OBJECT
public:
    // initial: the path and protocol offered (for a receive with YMODEM, the
    // folder). strBase: what a relative path is taken against.
    CXferDialog(const SXferJob& initial, const QString& strBase, QWidget* pParent = nullptr);

    // What the fields ask for now, the path made absolute.
    SXferJob Job() const;
    // Why OK was refused last; empty when it was not.
    QString Error() const;

    QLineEdit* PathEdit() const { return m_pPath; }
    QComboBox* ProtocolBox() const { return m_pProtocol; }
    QPushButton* BrowseButton() const { return m_pBrowse; }
    QLabel* PathLabel() const { return m_pPathLabel; }
    QPushButton* OkButton() const { return m_pOk; }

public Q_SLOTS:
    void accept() override;

private:
    void OnBrowse();
    // The receive's path and labels follow the protocol: a folder for
    // YMODEM, a file for XMODEM.
    void OnProtocolChanged();
    void ShowError(const QString& text);

    const bool m_bSend;
    const QString m_strBase;
    QLabel* m_pPathLabel;
    QLineEdit* m_pPath;
    QPushButton* m_pBrowse;
    QComboBox* m_pProtocol;
    QLabel* m_pHint;
    QLabel* m_pError;
    QPushButton* m_pOk;
    bool m_bIntoFolder = false; // what the path field stands for now (receive)
};
