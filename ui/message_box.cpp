// SPDX-License-Identifier: MIT
#include "ui/message_box.h"

#include <QWidget>

namespace kx {

namespace {

MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}

}  // namespace

QMessageBox::StandardButton ShowMessage(const MessageRequest& request) {
    if (Handler()) {
        return Handler()(request);
    }
    QMessageBox box(request.icon, request.caption, request.text, request.buttons, request.owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons) {
    return ShowMessage(MessageRequest{owner, text, caption, icon, buttons});
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

}  // namespace kx
