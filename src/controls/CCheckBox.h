#pragma once
// A checkbox whose checked state any thread may read (GetCheck), as the
// receive path reads "Log Input Data" and "Local Echo" for every block. The
// widget itself lives on the user-interface thread; the state it shows is
// mirrored for the other threads as it changes.

#include <QCheckBox>
#include <atomic>

class CCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit CCheckBox(const QString& text, QWidget* pParent = nullptr);

    // Any thread: whether the box is checked now.
    bool GetCheck() const { return m_bChecked.load(); }

private:
    std::atomic<bool> m_bChecked{false};
};
