#include "DialogColours.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

void SetDialogColours(QWidget* pWidget, COLORREF crBack, COLORREF crText)
{
    QPalette pal = pWidget->palette();
    const QColor back = ToQColor(crBack);
    const QColor text = ToQColor(crText);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Window, back);
        pal.setColor(group, QPalette::Base, back);
        pal.setColor(group, QPalette::WindowText, text);
        pal.setColor(group, QPalette::Text, text);
    }
    pWidget->setPalette(pal);
    pWidget->setAutoFillBackground(true);
}

void KeepSystemColours(QWidget* pWidget)
{
    const QPalette system = QApplication::palette(pWidget);
    QPalette pal;
    // Setting every brush marks it as the widget's own, so nothing of the
    // parent's palette is inherited.
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            if (role == QPalette::NoRole)
                continue;
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            pal.setBrush(g, r, system.brush(g, r));
        }
    }
    pWidget->setPalette(pal);
}
