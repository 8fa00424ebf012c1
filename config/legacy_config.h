#pragma once

#include "config/ini_file.h"
#include "core/page_table.h"

namespace kx {

// Reads a configuration of the older single-head layout ([offset],
// [baseline], [upperlimit], [lowerlimit], [datarange], [channelenable]) into
// the settings of `page` (every field but `live`). Every missing or malformed
// value reads as 0, so a file of another layout gives a page of zeros with
// every channel Masked. Limits are by percentage unless "offsetfunction2"
// is non-zero; a non-zero "ch_en<k>" makes channel k Tested, 0 Masked. Takes
// no lock: the window imports into page 0 under the page table's lock.
void ReadLegacyPage(const IniFile& file, PageRecord& page);

}  // namespace kx
