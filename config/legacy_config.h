// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "config/file_access.h"
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

// Whether a file holds any key of the older layout that ReadLegacyPage reads.
bool HasLegacyKeys(const IniFile& file);

// Whether the file is a whole configuration of the older layout, before
// the import changes anything. Refused, with the reason in the code and
// `detail`: kNewConfig for a configuration of the current layout (Load is
// the command for it), kNotLegacyConfig for a file with no key of either
// layout, kIncompleteConfig when a key a field of the page is read from is
// missing (a cut-off or edited file; "offsetfunction1", which decides
// nothing, may be missing).
FileError CheckLegacyConfig(const IniFile& file, const std::string& path);

}  // namespace kx
