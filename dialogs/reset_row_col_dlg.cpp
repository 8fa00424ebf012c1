// SPDX-License-Identifier: MIT
#include "dialogs/reset_row_col_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/data_exchange.h"
#include "ui/window_fit.h"

namespace kx {

CResetRowColDlg::CResetRowColDlg(std::int32_t columns, std::int32_t rows, QWidget* parent)
    : QDialog(parent),
      columns_(columns),
      rows_(rows),
      columnsEdit_(new QLineEdit(this)),
      rowsEdit_(new QLineEdit(this)) {
    setWindowTitle(tr("设置测试头行列数"));
    columnsEdit_->setObjectName(QStringLiteral("columns"));
    rowsEdit_->setObjectName(QStringLiteral("rows"));

    auto* form = new QFormLayout;
    form->addRow(tr("每列分配数"), columnsEdit_);
    form->addRow(tr("每行分配数"), rowsEdit_);
    // Qt's standard buttons, in the station's language through Qt's own
    // translation.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CResetRowColDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CResetRowColDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    ShowInt(columnsEdit_, columns_);
    ShowInt(rowsEdit_, rows_);
    FitOnShow(this);
}

void CResetRowColDlg::accept() {
    // Read into copies, so that a rejected entry leaves the dialog's values
    // as they were opened with.
    std::int32_t columns = columns_;
    std::int32_t rows = rows_;
    DataExchange dx(this);
    dx.Int(columnsEdit_, columns, 1, kMaxColumns).Int(rowsEdit_, rows, 1, kMaxRows);
    if (!dx.ok()) {
        return;
    }
    columns_ = columns;
    rows_ = rows;
    QDialog::accept();
}

bool CResetRowColDlg::TakeSize(std::int32_t& columns, std::int32_t& rows) const {
    if (result() != QDialog::Accepted) {
        return false;
    }
    columns = columns_;
    rows = rows_;
    return true;
}

}  // namespace kx
