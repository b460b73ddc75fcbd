#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace regbench::tests {

// Answers every modal message box with OK and records its caption and text, so that no test can hang on
// one. Anything else left modal after the deadline is closed as well.
class ModalCloser {
public:
    explicit ModalCloser(int deadlineMs = 60000) : deadline_(deadlineMs) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    QStringList texts;
    QStringList titles;
    QList<bool> hadIcon;
    QList<int> buttonCounts;

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            texts << box->text();
            titles << box->windowTitle();
            hadIcon << (box->icon() != QMessageBox::NoIcon);
            buttonCounts << static_cast<int>(box->buttons().size());
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        } else if (modal != nullptr && deadline_.hasExpired()) {
            modal->close();
        }
    }

    QTimer timer_;
    QDeadlineTimer deadline_;
};

} // namespace regbench::tests
