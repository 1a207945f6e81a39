#include "sdk/reason_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sdk/reason_codes.h"
#include "text/cp1251.h"

TEST(ReasonText, EveryCodeHasItsOwnWordsInBothLanguages) {
    std::set<std::string> english, russian;
    for (int code = SDK_OK; code <= SDK_RC_NAME_IN_USE; ++code) {
        EXPECT_STRNE(reasonWords(code), reasonWords(-1)) << "code " << code;
        EXPECT_NE(reasonWordsRussian(code), reasonWordsRussian(-1)) << "code " << code;
        english.insert(reasonWords(code));
        russian.insert(reasonWordsRussian(code));
    }
    const std::size_t codes = SDK_RC_NAME_IN_USE + 1;
    EXPECT_EQ(english.size(), codes);
    EXPECT_EQ(russian.size(), codes);
}

TEST(ReasonText, KnownAndUnknownCodes) {
    struct Case {
        int code;
        const char* withWords;
        const char* russianUtf8;
    };
    const Case cases[] = {
        {18, "18 (not allowed: the session lacks the right)",
         "не разрешено: у сеанса нет такого права"},
        {21,
         "21 (over the allowance: too many lines, moves, entries, logins or connections for the "
         "world's limits)",
         "сработало ограничение мира: слишком много строк, перемещений, входов или соединений"},
        {22, "22 (name in use: another avatar in that world has this name)",
         "имя занято: в этом мире уже есть аватар с таким именем"},
        {-1, "-1 (unknown reason)", "неизвестная причина"},
        {23, "23 (unknown reason)", "неизвестная причина"},
        {1000000, "1000000 (unknown reason)", "неизвестная причина"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reasonWithWords(c.code), c.withWords);
        // Windows-1251 bytes, one per letter, not the source's UTF-8.
        EXPECT_EQ(reasonWordsRussian(c.code), utf8ToCp1251(c.russianUtf8)) << c.code;
    }
}
