// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace kx {

// One message box as the station asks for it.
struct MessageRequest {
    QWidget* owner = nullptr;  // nullptr: a box of its own, owned by no window
    QString text;
    QString caption;  // empty: no caption
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Answers a request with the button pressed.
using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Every message box of the station goes through here. Without a handler it
// shows a modal QMessageBox and returns the button pressed; with one, the
// handler answers instead, so that tests never wait on a person.
QMessageBox::StandardButton ShowMessage(const MessageRequest& request);
QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text,
                                        const QString& caption = QString(),
                                        QMessageBox::Icon icon = QMessageBox::NoIcon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Installs a handler (an empty one restores the real boxes) and returns the
// one it replaces. Used from the user-interface thread only.
MessageHandler SetMessageHandler(MessageHandler handler);

// Installs a handler for the lifetime of the object and restores the previous
// one after.
class ScopedMessageHandler {
public:
    explicit ScopedMessageHandler(MessageHandler handler)
        : previous_(SetMessageHandler(std::move(handler))) {}
    ~ScopedMessageHandler() { SetMessageHandler(std::move(previous_)); }
    ScopedMessageHandler(const ScopedMessageHandler&) = delete;
    ScopedMessageHandler& operator=(const ScopedMessageHandler&) = delete;

private:
    MessageHandler previous_;
};

}  // namespace kx
