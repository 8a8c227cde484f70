#pragma once

#include <QString>
#include <vector>

namespace telvar::demo {

// One message of the demo language file: its section and number, the Spanish
// and English texts, and, when set, the replacement that the other product
// variant ("RV") shows instead.
struct DemoMessage {
    int section;
    int number;
    const char* spanish;
    const char* english;
    const char* replacementSpanish = nullptr;
    const char* replacementEnglish = nullptr;
};

const std::vector<DemoMessage>& demoMessages();

// The language file as UTF-16 text (without the byte order mark): header,
// then every section 0..highest with its groups in number order.
QString languageFileText(int language);

} // namespace telvar::demo
