#include "CCheckBox.h"

CCheckBox::CCheckBox(const QString& text, QWidget* pParent) : QCheckBox(text, pParent)
{
    setAccessibleName(text);
    // Before any other handler of the change runs, so that what it starts
    // already sees the new state.
    connect(this, &QCheckBox::toggled, this, [this](bool bChecked) { m_bChecked = bChecked; });
}
