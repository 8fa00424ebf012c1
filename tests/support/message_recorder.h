// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "ui/message_box.h"

namespace kx::test {

// Answers every message box of the station instead of a person, records its
// text and answers with the next queued button (OK when none is queued).
class MessageRecorder {
public:
    MessageRecorder()
        : handler_([this](const MessageRequest& request) {
              texts.append(request.text);
              if (answers.empty()) {
                  return QMessageBox::Ok;
              }
              const QMessageBox::StandardButton answer = answers.front();
              answers.pop_front();
              return answer;
          }) {}

    QStringList texts;
    std::deque<QMessageBox::StandardButton> answers;

private:
    ScopedMessageHandler handler_;
};

}  // namespace kx::test
