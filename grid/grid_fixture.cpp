// SPDX-License-Identifier: MIT
#include "grid/grid_fixture.h"

#include <span>

namespace kx {

void FillFixtureGrid(GridModel& model, int columns, int rows, FixtureFill fill) {
    model.SetColumns(columns);
    model.SetRows(rows);
    if (fill == FixtureFill::Fresh) {
        const PageRecord page = PageRecord::Defaults();
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                model.SetRange(column, row, page.rangeMax, page.rangeMin);
                model.SetLowerLimits(column, row, page.lower);
                model.SetUpperLimits(column, row, page.upper);
                model.SetReference(column, row, page.reference);
                model.SetChannelModes(column, row, page.mask);
                model.SetValues(column, row, std::span(page.live).first<kChannels>());
            }
        }
        return;
    }
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int page = PageOf(row, column, columns);
            ChannelValues upper{};
            ChannelValues lower{};
            ChannelValues reference{};
            ChannelValues values{};
            ChannelModes modes{};
            for (int k = 0; k < kChannels; ++k) {
                upper[k] = 1100 - (k % 4) * 20;
                lower[k] = 500 + (k % 3) * 20;
                reference[k] = 680 + (k * 7) % 40;
                values[k] = 600 + (k * 37 + page * 11) % 300;
                modes[k] = Tested;
            }
            modes[(page * 3 + 24) % kChannels] = Masked;
            modes[(page * 5 + 9) % kChannels] = Greyed;
            if (fill == FixtureFill::Verdicts) {
                switch (page % 4) {
                    case 1:
                        values[(page + 5) % kChannels] = 1300;
                        modes[(page + 5) % kChannels] = Tested;
                        break;
                    case 3:
                        modes.fill(Masked);
                        break;
                    default:
                        break;
                }
            }
            if (fill == FixtureFill::Mixed) {
                if (page % 3 == 0) {
                    values[(page + 5) % kChannels] = 1300;
                    modes[(page + 5) % kChannels] = Tested;
                }
                if (page % 4 == 0) {
                    values[(page + 17) % kChannels] = 300;
                    modes[(page + 17) % kChannels] = Tested;
                }
                if (page % 9 == 7) {
                    modes.fill(Masked);
                }
            }
            model.SetRange(column, row, 1500, 10);
            model.SetLowerLimits(column, row, lower);
            model.SetUpperLimits(column, row, upper);
            model.SetReference(column, row, reference);
            model.SetChannelModes(column, row, modes);
            model.SetValues(column, row, values);
            if (fill == FixtureFill::Verdicts && page % 4 == 2) {
                model.SetNoData(column, row);
            }
        }
    }
}

}  // namespace kx
