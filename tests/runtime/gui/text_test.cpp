// GBK text through QString: GB18030 keeps what GBK lacks.
#include "runtime/qtext.h"
#include "runtime/text.h"

#include <QString>
#include <gtest/gtest.h>

namespace rt {
namespace {

TEST(QTextTest, GbkRoundTripsThroughQString)
{
    struct Case {
        const char* what;
        std::string gbk;
        const char* utf8;
    };
    const Case cases[] = {
        {"ASCII", "Tavik tomato v1.2.2", "Tavik tomato v1.2.2"},
        {"Chinese", "\xB7\xAC\xC7\xD1", "番茄"},
        {"full-width space and digits", "\xA1\xA1\xA3\xB1\xA3\xB2", "\u3000１２"},
        {"trail byte 0x40 (@)", "\x81\x40", "丂"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString text = ToQString(c.gbk);
        EXPECT_EQ(text, QString::fromUtf8(c.utf8));
        EXPECT_EQ(FromQString(text), c.gbk);
    }
}

TEST(QTextTest, CharacterThatGbkLacksIsKept)
{
    // U+1F345 (a tomato) and U+20000 have no GBK code; GB18030 gives them four bytes.
    const QString typed = QString::fromUtf8("番茄🍅𠀀");
    const std::string stored = FromQString(typed);
    EXPECT_EQ(stored.size(), 4u + 4u + 4u);
    EXPECT_EQ(stored.substr(0, 4), "\xB7\xAC\xC7\xD1");
    EXPECT_EQ(ToQString(stored), typed);
    EXPECT_EQ(stored.find('?'), std::string::npos);
}

}  // namespace
}  // namespace rt
