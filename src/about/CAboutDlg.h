#pragma once
// The About box: logo, product and address blocks, telephone and fax lines,
// web and e-mail links, the licence document, and a "System" button that
// opens System Information in the box's colours. The opener sets the
// product lines, then calls DoModal; texts reach the controls only then.
// User-interface thread.

#include "ColorRef.h"

#include <QDialog>
#include <QString>

class CHyperLink;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    enum
    {
        IDD = 1011
    };
    enum : int
    {
        IDC_ADDRESS = 1024,
        IDC_PRODUCT = 1025,
        IDC_FAX = 1026,
        IDC_PHONE = 1027,
        IDC_EMAIL = 1028,
        IDC_WEB = 1029,
        IDC_LICENSE = 1030,
        IDC_SYSTEM = 1031,
    };
    static constexpr int kLogoBitmap = 1008;
    static constexpr int kLogoX = 55;
    static constexpr int kLogoY = 20;
    static constexpr const char* kLicenseFileName = "VornLicense.txt";

    explicit CAboutDlg(QWidget* pParent = nullptr);
    ~CAboutDlg() override;

    int DoModal();

    void SetCaptionName(const QString& name);
    void SetAddress(const QString& line1, const QString& line2, const QString& line3,
                    const QString& line4);
    void SetWebSite(const QString& site, bool bPrefix);
    void SetFax(const QString& fax);
    void SetPhone(const QString& phone, bool bPrefix);
    void SetEmail(const QString& email);
    void SetWebTarget(const QString& target);
    void SetEmailTarget(const QString& address);
    void SetLicenseText(const QString& text, bool bIsFile);
    void SetProductLines(const QString& line1, const QString& line2, const QString& line3,
                         const QString& line4, const QString& line5);

    // The licence box's text: `source` itself, or the lines of the file it
    // names, each followed by "\r\n", with one more "\r\n" at the end. Empty
    // when the file cannot be opened.
    static QString ReadLicenseText(const QString& source, bool bIsFile);
    // The licence document to show: the one in the current directory, else
    // the copy installed beside the program or in ../share/vornterm. When
    // there is none, the current directory's name (which then shows empty).
    static QString FindLicenseDocument(const QString& currentDir, const QString& appDir);

    // Controls, bound when the box opens.
    QLabel* m_staticFax = nullptr;
    QLabel* m_staticPhone = nullptr;
    CHyperLink* m_linkEmail = nullptr;
    CHyperLink* m_linkWeb = nullptr;
    QPlainTextEdit* m_editLicense = nullptr;
    QTextEdit* m_editProduct = nullptr;
    QTextEdit* m_editAddress = nullptr;
    QPushButton* m_btnSystem = nullptr;

    QString m_strCaptionName;
    QString m_strAddress1;
    QString m_strAddress2;
    QString m_strAddress3;
    QString m_strAddress4;
    QString m_strWebSite;
    QString m_strFax;
    QString m_strPhone;
    QString m_strEmail;
    QString m_strProduct1;
    QString m_strProduct2;
    QString m_strProduct3;
    QString m_strProduct4;
    QString m_strProduct5;
    QString m_strWebTarget;
    QString m_strEmailTarget;
    QString m_strLicense;
    COLORREF m_crBack = 0;
    COLORREF m_crText = 0;
    bool m_bWebPrefix = false;
    bool m_bPhonePrefix = false;
    bool m_bLicenseIsFile = false;

    QPushButton* DoneButton() const { return m_btnDone; }

public Q_SLOTS:
    void OnSystem();

protected:
    void DoDataExchange();
    bool OnInitDialog();
    void FillTexts();
    void LoadLicenseText();
    void paintEvent(QPaintEvent* event) override;

private:
    void CreateTemplate();
    void OnCtlColor();

    QPushButton* m_btnDone = nullptr;
};
