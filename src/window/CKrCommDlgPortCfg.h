#pragma once
// The port configuration dialog.
// User-interface thread.

#include "CKrCommConfig.h"

#include <QDialog>

class CKrCommPort;
class QComboBox;
class QLabel;

class CKrCommDlgDynamic : public QDialog
{
    Q_OBJECT
public:
    explicit CKrCommDlgDynamic(QWidget* pParent = nullptr);
    ~CKrCommDlgDynamic() override;

    // Runs the dialog modally (through AfxDoModal): IDOK or IDCANCEL.
    virtual int DoModal();
};

class CKrCommDlgPortCfg : public CKrCommDlgDynamic
{
    Q_OBJECT
public:
    // nOption is reserved; 0 shows every setting.
    CKrCommDlgPortCfg(CKrCommPort* pPort, int nOption = 0, QWidget* pParent = nullptr);
    ~CKrCommDlgPortCfg() override;

    // The fields as a configuration, and the reverse (for tests and for
    // filling the dialog from the port).
    CKrCommConfig FieldsConfig() const;
    void SetFields(const CKrCommConfig& config);

    // The fields as a configuration when every one is valid; otherwise false
    // with the message naming the first bad field.
    bool ReadFields(CKrCommConfig* pConfig, QString* pError) const;

    // OK: validates the fields; invalid input is refused with a message naming
    // the field and the dialog stays open. Valid input is applied to the port
    // object (SetConfig) and the dialog closes with IDOK.
    void accept() override;

    // The controls, for tests.
    QComboBox* PortBox() const { return m_cboPort; }
    QComboBox* BaudBox() const { return m_cboBaud; }
    QComboBox* DataBitsBox() const { return m_cboData; }
    QComboBox* ParityBox() const { return m_cboParity; }
    QComboBox* StopBitsBox() const { return m_cboStop; }
    QComboBox* FlowBox() const { return m_cboFlow; }
    QComboBox* DtrAtOpenBox() const { return m_cboDtr; }
    QComboBox* RtsAtOpenBox() const { return m_cboRts; }
    // What the system knows of the port in the port field.
    QLabel* PortInfoLabel() const { return m_lblPortInfo; }
    // The kinds of port the field takes (devices, loop://, network URLs).
    QLabel* PortKindsLabel() const { return m_lblPortKinds; }

private:
    void ShowPortInfo(const QString& name);

    CKrCommPort* m_pPort;
    int m_nOption;
    // The configuration the fields were filled from: FieldsConfig keeps its
    // value for a field that does not parse.
    CKrCommConfig m_base;
    QComboBox* m_cboPort;
    QLabel* m_lblPortInfo;
    QLabel* m_lblPortKinds;
    QComboBox* m_cboBaud;
    QComboBox* m_cboData;
    QComboBox* m_cboParity;
    QComboBox* m_cboStop;
    QComboBox* m_cboFlow;
    QComboBox* m_cboDtr;
    QComboBox* m_cboRts;
};
