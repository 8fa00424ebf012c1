// SPDX-License-Identifier: MIT
#include "tests/support/widget_texts.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSet>
#include <QSpinBox>
#include <QTabBar>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>

namespace kx::test {

namespace {

// A long list or table shows its first rows first; the rest are the same
// texts over again (and a walk must stay quick).
constexpr int kCellRows = 100;

QString Name(const QObject* o) {
    QString name = QString::fromLatin1(o->metaObject()->className());
    if (!o->objectName().isEmpty()) {
        name += QStringLiteral(" \"%1\"").arg(o->objectName());
    }
    return name;
}

// `text` without accelerator marks and trailing dots, as Qt shortens an
// action's text into its icon text.
QString Plain(QString text) {
    text.remove(QLatin1Char('&'));
    while (text.endsWith(QLatin1Char('.')) || text.endsWith(QChar(0x2026))) {
        text.chop(1);
    }
    return text;
}

// "root > ... > widget", from the walk's root down.
QString Path(const QWidget* root, const QWidget* w) {
    QStringList parts;
    for (const QWidget* p = w; p != nullptr; p = p->parentWidget()) {
        parts.prepend(Name(p));
        if (p == root) {
            break;
        }
    }
    return parts.join(QStringLiteral(" > "));
}

class Walk {
public:
    explicit Walk(QWidget* root) : root_(root) {}

    std::vector<ShownText> Run() {
        QList<QWidget*> widgets = root_->findChildren<QWidget*>();
        widgets.prepend(root_);
        for (QWidget* w : widgets) {
            Widget(w);
        }
        // Actions without a widget of their own (a window's shortcuts, the
        // entries of a menu made but not yet added). A menu's title is the
        // text of its action, walked here or with the widget it is in.
        for (QAction* a : root_->findChildren<QAction*>()) {
            Action(Name(root_), a);
        }
        return std::move(texts_);
    }

private:
    void Add(const QString& where, const QString& what, const QString& text) {
        if (!text.isEmpty()) {
            texts_.push_back({where + QStringLiteral(": ") + what, text});
        }
    }

    void Model(const QString& where, const QAbstractItemModel* model) {
        if (model == nullptr) {
            return;
        }
        for (int c = 0; c < model->columnCount(); ++c) {
            Add(where, QStringLiteral("header %1").arg(c),
                model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
            Add(where, QStringLiteral("header tool tip %1").arg(c),
                model->headerData(c, Qt::Horizontal, Qt::ToolTipRole).toString());
        }
        const int rows = std::min(model->rowCount(), kCellRows);
        for (int r = 0; r < rows; ++r) {
            Add(where, QStringLiteral("row header %1").arg(r),
                model->headerData(r, Qt::Vertical, Qt::DisplayRole).toString());
            for (int c = 0; c < model->columnCount(); ++c) {
                const QModelIndex i = model->index(r, c);
                Add(where, QStringLiteral("cell %1,%2").arg(r).arg(c), i.data().toString());
                Add(where, QStringLiteral("cell tool tip %1,%2").arg(r).arg(c),
                    i.data(Qt::ToolTipRole).toString());
            }
        }
    }

    void Widget(QWidget* w) {
        const QString where = Path(root_, w);
        if (w->isWindow()) {
            Add(where, QStringLiteral("window title"), w->windowTitle());
        }
        Add(where, QStringLiteral("tool tip"), w->toolTip());
        Add(where, QStringLiteral("status tip"), w->statusTip());
        Add(where, QStringLiteral("what's this"), w->whatsThis());
        Add(where, QStringLiteral("accessible name"), w->accessibleName());
        if (auto* label = qobject_cast<QLabel*>(w)) {
            Add(where, QStringLiteral("text"), label->text());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            Add(where, QStringLiteral("text"), button->text());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            Add(where, QStringLiteral("title"), group->title());
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < tabs->count(); ++i) {
                Add(where, QStringLiteral("tab %1").arg(i), tabs->tabText(i));
                Add(where, QStringLiteral("tab tool tip %1").arg(i), tabs->tabToolTip(i));
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i) {
                Add(where, QStringLiteral("item %1").arg(i), combo->itemText(i));
            }
            if (combo->lineEdit() == nullptr) {
                Add(where, QStringLiteral("place holder"), combo->placeholderText());
            }
        } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
            Add(where, QStringLiteral("place holder"), line->placeholderText());
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
            Add(where, QStringLiteral("place holder"), plain->placeholderText());
            Add(where, QStringLiteral("text"), plain->toPlainText());
        } else if (auto* rich = qobject_cast<QTextEdit*>(w)) {
            Add(where, QStringLiteral("place holder"), rich->placeholderText());
            Add(where, QStringLiteral("text"), rich->toPlainText());
        } else if (auto* view = qobject_cast<QAbstractItemView*>(w);
                   view != nullptr && qobject_cast<QHeaderView*>(w) == nullptr) {
            // A header shows its view's model: walked once, with the view.
            Model(where, view->model());
        }
        if (auto* spin = qobject_cast<QSpinBox*>(w)) {
            Add(where, QStringLiteral("prefix"), spin->prefix());
            Add(where, QStringLiteral("suffix"), spin->suffix());
        } else if (auto* doubleSpin = qobject_cast<QDoubleSpinBox*>(w)) {
            Add(where, QStringLiteral("prefix"), doubleSpin->prefix());
            Add(where, QStringLiteral("suffix"), doubleSpin->suffix());
        }
        if (auto* spinBase = qobject_cast<QAbstractSpinBox*>(w)) {
            Add(where, QStringLiteral("special value"), spinBase->specialValueText());
        }
        for (QAction* a : w->actions()) {
            Action(where, a);
        }
    }

    void Action(const QString& where, QAction* a) {
        if (a == nullptr || seen_.contains(a)) {
            return;
        }
        seen_.insert(a);
        const QString at = where + QStringLiteral(" > ") + Name(a) +
                           (a->text().isEmpty() ? QString() : QStringLiteral(" ") + a->text());
        Add(at, QStringLiteral("text"), a->text());
        // Qt makes an action's icon text and tool tip from its text unless
        // they are set: only those set are texts of their own.
        if (Plain(a->iconText()) != Plain(a->text())) {
            Add(at, QStringLiteral("icon text"), a->iconText());
        }
        if (Plain(a->toolTip()) != Plain(a->text())) {
            Add(at, QStringLiteral("tool tip"), a->toolTip());
        }
        Add(at, QStringLiteral("status tip"), a->statusTip());
        // A menu's title is its action's text.
        if (QMenu* menu = a->menu()) {
            for (QAction* sub : menu->actions()) {
                Action(at, sub);
            }
        }
    }

    QWidget* root_;
    std::vector<ShownText> texts_;
    QSet<const QAction*> seen_;
};

}  // namespace

std::vector<ShownText> ShownTexts(QWidget* root) {
    if (root == nullptr) {
        return {};
    }
    return Walk(root).Run();
}

bool HasChinese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // CJK ideographs (unified and extension A), compatibility
        // ideographs, CJK symbols and punctuation ("，。：（）" and the
        // like) and the full-width forms.
        if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3400 && u <= 0x4DBF) ||
            (u >= 0xF900 && u <= 0xFAFF) || (u >= 0x3000 && u <= 0x303F) ||
            (u >= 0xFF00 && u <= 0xFFEF)) {
            return true;
        }
    }
    return false;
}

QStringList ChineseTexts(QWidget* root) {
    QStringList found;
    for (const ShownText& t : ShownTexts(root)) {
        if (HasChinese(t.text)) {
            found << t.where + QStringLiteral(": ") + t.text;
        }
    }
    return found;
}

}  // namespace kx::test
