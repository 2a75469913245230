#pragma once
// Closes a window, as its close box does, when the process is asked to end
// (SIGTERM, SIGINT). One instance at a time.

#include <QObject>
#include <QPointer>

class QSocketNotifier;
class QWidget;

class CloseOnSignal : public QObject
{
    Q_OBJECT
public:
    explicit CloseOnSignal(QWidget* pWindow);
    ~CloseOnSignal() override;

private:
    void OnSignal();

    QPointer<QWidget> m_pWindow;
    QSocketNotifier* m_pNotifier = nullptr;
};
