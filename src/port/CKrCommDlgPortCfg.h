#pragma once
// The port configuration dialog.

#include "CKrCommConfig.h"

#include <QDialog>

class CKrCommPort;

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

    // OK: validates the fields; invalid input is refused with a message naming
    // the field and the dialog stays open. Valid input is applied to the port
    // object (SetConfig) and the dialog closes with IDOK.
    void accept() override;
};
