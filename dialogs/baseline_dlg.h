// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <cstdint>

#include "dialogs/reading_table.h"
#include "station/baseline_result.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kx {

class CColorBar;

// Derives the reference and the limits of one head from live readings: the
// operator takes readings of the head's page, unticks bad ones, averages the
// ticked ones into a new reference, derives limits by a percentage or by
// fixed values, chooses the tested channels in the dialog's grid (double
// click), sets the display range and ends with OK.
//
// The dialog works on the working copies it is given and reads the page
// (page selectedPage of the station's page table) only for its live values
// and its range and offset settings, each time under the table's lock. The
// one change it makes to the
// page itself is "全部打开" / "全部关闭", which set the page's channel modes
// at once (they stay even when the dialog is cancelled). Everything else is
// handed back by Result() after OK; storing it into the page and writing the
// boards is the baseline command's part (StoreBaselineResult).
//
// Readings: at most kMaxReadings, numbered from 0, newest on top. "Save" and
// "Load" use rawdata/rawdata.csv under the working directory (see
// raw_data_file.h); after a load the next reading takes the number after the
// last loaded one.
class CBaseLineDlg : public QDialog {
    Q_OBJECT

public:
    // The grid's control id, reported with its clicks.
    static constexpr int kGridControl = 1018;
    // Accepted range of the two coordinates (the boards hold 16-bit values).
    static constexpr std::int32_t kCoordinateMin = 0;
    static constexpr std::int32_t kCoordinateMax = 65535;

    // `pages` is the station's page table; it must outlive the dialog.
    CBaseLineDlg(PageStore& pages, const BaselineExchange& exchange, QWidget* parent = nullptr);
    ~CBaseLineDlg() override;

    // The edited arrays and the fields as last read from the controls.
    BaselineResult Result() const;
    const BaselineExchange& Exchange() const { return exchange_; }
    const ReadingTable& Readings() const { return readings_; }
    bool Averaged() const { return averaged_; }

    // The buttons' commands.
    void Read();      // "Read"
    void Load();      // "Load"
    void Save();      // "Save"
    void Average();   // "Averange"
    void Apply();     // "设定"
    void OpenAll();   // "全部打开"
    void CloseAll();  // "全部关闭"

    // The controls, for the owner's tests.
    QTableWidget* readingsList() const { return readingsList_; }
    QTableWidget* averageList() const { return averageList_; }
    QCheckBox* byPercentageBox() const { return byPercentageBox_; }
    QCheckBox* byValueBox() const { return byValueBox_; }
    QLineEdit* percentageEdit() const { return percentageEdit_; }
    QLineEdit* valueUpperEdit() const { return valueUpperEdit_; }
    QLineEdit* valueLowerEdit() const { return valueLowerEdit_; }
    QLineEdit* coordinateLowerEdit() const { return coordinateLowerEdit_; }
    QLineEdit* coordinateUpperEdit() const { return coordinateUpperEdit_; }
    CColorBar* grid() const { return grid_; }

public slots:
    // OK: reads the controls (stays open when one is rejected), takes the
    // grid's channel modes and closes.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool ValidPage() const;
    bool ReadFields();
    void ShowFields();
    void TakeGridModes();
    void SetAllModes(std::uint8_t mode);
    void InsertReadingRow(const Reading& reading);
    void TakeTicksFromList();
    void ChooseOffsetBox(QCheckBox* chosen);

    PageStore& pages_;
    BaselineExchange exchange_;
    ReadingTable readings_;
    bool averaged_ = false;

    // The fields behind the edits and check boxes.
    std::int32_t coordinateLower_ = 0;
    std::int32_t coordinateUpper_ = 0;
    float percentage_ = 0.0f;
    std::int32_t valueUpper_ = 0;
    std::int32_t valueLower_ = 0;
    bool byPercentage_ = false;
    bool byValue_ = false;

    QTableWidget* readingsList_;
    QTableWidget* averageList_;
    QCheckBox* byPercentageBox_;
    QCheckBox* byValueBox_;
    QLineEdit* percentageEdit_;
    QLineEdit* valueUpperEdit_;
    QLineEdit* valueLowerEdit_;
    QLineEdit* coordinateLowerEdit_;
    QLineEdit* coordinateUpperEdit_;
    CColorBar* grid_;
};

}  // namespace kx
