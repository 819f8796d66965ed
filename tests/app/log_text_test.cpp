#include "app/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(LogText, EveryByteFromOneToFfRoundTripsThroughThePaneText) {
    std::string all;
    for (int b = 1; b <= 255; ++b) all.push_back(static_cast<char>(b));
    const QString shown = to_pane_text(all);

    ASSERT_EQ(shown.size(), 255);
    EXPECT_EQ(shown.indexOf(QChar(u'\n')), -1);
    EXPECT_EQ(shown.indexOf(QChar(u'\r')), -1);
    EXPECT_EQ(from_pane_text(shown).toStdString(), all);
}

TEST(LogText, LineBreaksShowAsControlPicturesAndOtherCharactersAsLatin1) {
    struct Case {
        std::string bytes;
        QString shown;
    };
    const Case cases[] = {
        {"", ""},
        {"a\nb", QStringLiteral("a\u240Ab")},
        {"\r\n", QStringLiteral("\u240D\u240A")},
        {"\xA0\xB5\xFF", QStringLiteral("\u00A0\u00B5\u00FF")},
        {"1,2\t3", QStringLiteral("1,2\t3")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_pane_text(c.bytes), c.shown) << c.bytes;
        EXPECT_EQ(from_pane_text(c.shown).toStdString(), c.bytes) << c.bytes;
    }
}

TEST(LogText, TypedCharactersOutsideLatin1SaveAsQuestionMarks) {
    EXPECT_EQ(from_pane_text(QStringLiteral("5 \u20AC, \U0001F600!")), QByteArray("5 ?, ?\x3F!"));
}

}  // namespace
}  // namespace quillon
