// tavrel-config's manual page lists the settings that the program keeps, in
// the order tavrel-config shows them: a setting added to the table without a
// word in the manual, or one the manual keeps after it went, fails here.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "state/setting_table.h"

namespace {

// The name of each entry (".TP" and the line after it) of the SETTINGS section.
std::vector<std::string> ManualSettings(std::istream& page)
{
    std::vector<std::string> names;
    std::string line;
    bool inSettings = false;
    bool entryNext = false;
    while (std::getline(page, line)) {
        if (line.starts_with(".SH")) {
            inSettings = line == ".SH SETTINGS";
        } else if (inSettings && entryNext) {
            std::istringstream words(line);
            std::string macro;
            std::string name;
            words >> macro >> name;
            names.push_back(name);
        }
        entryNext = inSettings && line == ".TP";
    }
    return names;
}

TEST(ManualPageTest, TavrelConfigsPageListsEverySettingOfTheTableInItsOrder)
{
    std::ifstream page(TAVREL_CONFIG_MANUAL);
    ASSERT_TRUE(page) << TAVREL_CONFIG_MANUAL;
    std::vector<std::string> table;
    for (const SettingEntry& entry : kSettingTable) {
        // The extra inputs' eight rows are one entry, "inputN"; the ten
        // virtual outputs' are "output-comN".
        if (entry.kind == SettingKind::ExtraInput || (entry.id >= SettingId::OutputCom0 && entry.id <= SettingId::OutputCom9)) {
            if (entry.id == SettingId::Input1 || entry.id == SettingId::OutputCom0) {
                table.emplace_back(entry.id == SettingId::Input1 ? "inputN" : "output-comN");
            }
        } else if (!entry.word.empty()) {
            table.emplace_back(entry.word);
        }
    }
    EXPECT_EQ(ManualSettings(page), table);
}

}  // namespace
