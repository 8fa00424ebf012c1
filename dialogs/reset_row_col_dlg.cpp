// SPDX-License-Identifier: MIT
#include "dialogs/reset_row_col_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/data_exchange.h"

namespace kx {

CResetRowColDlg::CResetRowColDlg(std::int32_t columns, std::int32_t rows, QWidget* parent)
    : QDialog(parent),
      columns_(columns),
      rows_(rows),
      columnsEdit_(new QLineEdit(this)),
      rowsEdit_(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Dialog"));
    columnsEdit_->setObjectName(QStringLiteral("columns"));
    rowsEdit_->setObjectName(QStringLiteral("rows"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("每列分配数"), columnsEdit_);
    form->addRow(QStringLiteral("每行分配数"), rowsEdit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CResetRowColDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CResetRowColDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    ShowInt(columnsEdit_, columns_);
    ShowInt(rowsEdit_, rows_);
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
