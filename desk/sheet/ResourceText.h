// VelkRun's own texts for the sheet reader: the string table and the form's list contents,
// read from res/VelkRun.rc and res/resource.h (built into the program), so that the reader
// knows exactly what the printing program printed. Texts stay in the Windows code page.
#pragma once

#include "output/CodePage.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sheet {

class CResourceText {
public:
    // Parses the resource script and the header that gives its names their numbers. Throws
    // std::runtime_error when either does not hold what the reader relies on.
    CResourceText(std::string_view rcScript, std::string_view header);
    // The texts built into this program.
    static const CResourceText& BuiltIn();

    // String `id` of the string table; "" when there is none.
    std::string String(unsigned id) const;
    // Items of the drop-down list `controlId`, in display order; empty when unknown.
    const std::vector<std::string>& List(unsigned controlId) const;
    // The number of a name from the header; 0 when unknown.
    unsigned Id(const std::string& name) const;

private:
    std::map<std::string, unsigned> ids_;
    std::map<unsigned, std::string> strings_;
    std::map<unsigned, std::vector<std::string>> lists_;
};

}  // namespace sheet
