// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <cstdint>

class QLineEdit;

namespace kx {

// Asks for the size of a head-position table: columns 1 to 10, rows 1 to 5.
//
//     CResetRowColDlg dlg(columns, rows, this);
//     if (dlg.exec() == QDialog::Accepted) { columns = dlg.Columns(); rows = dlg.Rows(); }
//
// OK reads both edits (columns first) and stays open with the standard
// message on the first one that is not an integer in its range; Cancel keeps
// the values the dialog was opened with. TakeSize does the owner's part.
class CResetRowColDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr std::int32_t kMaxColumns = 10;
    static constexpr std::int32_t kMaxRows = 5;

    CResetRowColDlg(std::int32_t columns, std::int32_t rows, QWidget* parent = nullptr);

    // The values as opened with, or as accepted with OK.
    std::int32_t Columns() const { return columns_; }
    std::int32_t Rows() const { return rows_; }

    // When the dialog ended with OK, stores the new size into the owner's
    // and returns true; otherwise leaves them alone.
    bool TakeSize(std::int32_t& columns, std::int32_t& rows) const;

    QLineEdit* columnsEdit() const { return columnsEdit_; }
    QLineEdit* rowsEdit() const { return rowsEdit_; }

public slots:
    void accept() override;

private:
    std::int32_t columns_;
    std::int32_t rows_;
    QLineEdit* columnsEdit_;
    QLineEdit* rowsEdit_;
};

}  // namespace kx
