#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QWidget;

// Makes a widget take files dropped from the file manager: the dropped local
// paths, in their order, go to the handler. Other drags (text, for instance)
// keep the widget's own handling. Withdrawn when the hook is destroyed, which
// must happen while the widget still exists.
class FileDropHook : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(const QStringList &paths)>;

    FileDropHook(QWidget *target, Handler handler);
    ~FileDropHook() override;

    // While disabled, file drops are refused without reaching the handler.
    void setEnabled(bool enabled) { m_enabled = enabled; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_target;
    Handler m_handler;
    bool m_enabled = true;
    bool m_acceptedDropsBefore;
};
